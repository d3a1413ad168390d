// One on-line query as the online and scan commands (and the demo tour) run
// it, through either member, telling whether the identity record was filled.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "line/result.h"
#include "tools/family_members.h"

namespace tarvex::tool {

using IdentityRecord = std::array<std::uint8_t, 7>;

struct OnlineAnswer {
  Result result;
  std::optional<IdentityRecord> identity;  // filled only when the echo matched
};

OnlineAnswer query_online(const Member& member, const MemberLine& line, std::uint8_t address);

}  // namespace tarvex::tool
