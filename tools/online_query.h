// One on-line query as the online and scan commands run it: by port name
// (onNet) or on a held port (HANDLE_OnNet), telling whether the identity
// record was filled.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "line/platform.h"
#include "line/result.h"
#include "tools/member_choice.h"

namespace tarvex::tool {

enum class OnlineMember { Plain, Handle };

inline constexpr std::array<MemberName, 2> kOnlineMembers{{
    {"plain", "onNet", "opens the port by name for the query and releases it"},
    {"handle", "HANDLE_OnNet", "on a held port (com_init/com_exit around it), with its own timing"},
}};

using IdentityRecord = std::array<std::uint8_t, 7>;

struct OnlineAnswer {
  Result result;
  std::optional<IdentityRecord> identity;  // filled only when the echo matched
};

// `held` is the held port for OnlineMember::Handle, unused otherwise.
OnlineAnswer query_online(line::Platform& os, OnlineMember member, const char* port_name, line::Handle held,
                          std::uint8_t address);

}  // namespace tarvex::tool
