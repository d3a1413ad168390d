// One on-line query as the online and scan commands (and the demo tour) run
// it, through either member, telling whether the identity record was filled.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "exchange/online_query.h"
#include "tools/members.h"

namespace tarvex::tool {

using IdentityRecord = std::array<std::uint8_t, exchange::kIdentityRecordSize>;

struct OnlineAnswer {
  Result result;
  std::optional<IdentityRecord> identity;  // filled only when the echo matched
};

inline OnlineAnswer query_online(const Member& member, const MemberLine& line, std::uint8_t address) {
  // The record's first byte is the echoed address once it is filled; start
  // it with anything else to tell a filled record from an untouched one.
  IdentityRecord record{};
  record[0] = static_cast<std::uint8_t>(~address);
  const Result result = line.run(member, {.address = address, .record = record.data()});
  if (result == kOk && record[0] == address) return {result, record};
  return {result, std::nullopt};
}

}  // namespace tarvex::tool
