#include "tools/online_query.h"

#include "exchange/online_query.h"

namespace tarvex::tool {

OnlineAnswer query_online(line::Platform& os, OnlineMember member, const char* port_name, line::Handle held,
                          std::uint8_t address) {
  // The record's first byte is the echoed address once it is filled; start
  // it with anything else to tell a filled record from an untouched one.
  IdentityRecord record{};
  record[0] = static_cast<std::uint8_t>(~address);
  const Result result = member == OnlineMember::Plain
                            ? exchange::onNet(os, address, record.data(), port_name)
                            : exchange::HANDLE_OnNet(os, held, address, record.data());
  OnlineAnswer answer{result, std::nullopt};
  if (result == kOk && record[0] == address) answer.identity = record;
  return answer;
}

}  // namespace tarvex::tool
