#include "tools/online_query.h"

#include "exchange/online_query.h"

namespace tarvex::tool {

const std::array<OnlineMember, 2> kOnlineMembers{{
    {{"plain", "onNet", "opens the port by name for the query and releases it"},
     {},
     [](const MemberLine& l, std::uint8_t address, std::uint8_t* record) {
       return exchange::onNet(l.os, address, record, l.port_name);
     }},
    {{"handle", "HANDLE_OnNet", "on a held port (com_init/com_exit around it), with its own timing"},
     {.port = PortUse::Held, .takes_baud = true},
     [](const MemberLine& l, std::uint8_t address, std::uint8_t* record) {
       return exchange::HANDLE_OnNet(l.os, l.held, address, record);
     }},
}};

const OnlineMember& kOnNet = kOnlineMembers[0];

OnlineAnswer query_online(const OnlineMember& member, const MemberLine& line, std::uint8_t address) {
  // The record's first byte is the echoed address once it is filled; start
  // it with anything else to tell a filled record from an untouched one.
  IdentityRecord record{};
  record[0] = static_cast<std::uint8_t>(~address);
  const Result result = member.call(line, address, record.data());
  OnlineAnswer answer{result, std::nullopt};
  if (result == kOk && record[0] == address) answer.identity = record;
  return answer;
}

}  // namespace tarvex::tool
