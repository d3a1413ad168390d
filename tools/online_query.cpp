#include "tools/online_query.h"

namespace tarvex::tool {

OnlineAnswer query_online(const Member& member, const MemberLine& line, std::uint8_t address) {
  // The record's first byte is the echoed address once it is filled; start
  // it with anything else to tell a filled record from an untouched one.
  IdentityRecord record{};
  record[0] = static_cast<std::uint8_t>(~address);
  const Result result = member.run(line, {.address = address, .record = record.data()});
  OnlineAnswer answer{result, std::nullopt};
  if (result == kOk && record[0] == address) answer.identity = record;
  return answer;
}

}  // namespace tarvex::tool
