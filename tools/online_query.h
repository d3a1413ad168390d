// One on-line query as the online and scan commands (and the demo tour) run
// it, through either member, telling whether the identity record was filled.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "line/result.h"
#include "tools/line_options.h"

namespace tarvex::tool {

// The bus address and the record to fill.
using OnlineCall = Result (*)(const MemberLine&, std::uint8_t, std::uint8_t*);

using OnlineMember = Member<OnlineCall>;

extern const std::array<OnlineMember, 2> kOnlineMembers;
// onNet, the member that opens the port by name.
extern const OnlineMember& kOnNet;

using IdentityRecord = std::array<std::uint8_t, 7>;

struct OnlineAnswer {
  Result result;
  std::optional<IdentityRecord> identity;  // filled only when the echo matched
};

OnlineAnswer query_online(const OnlineMember& member, const MemberLine& line, std::uint8_t address);

}  // namespace tarvex::tool
