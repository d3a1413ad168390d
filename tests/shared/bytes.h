// Byte strings as the tests build frames, blocks and replies.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvex::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes and their additive checksum behind them.
inline Bytes with_checksum(Bytes data) {
  std::uint8_t sum = 0;
  for (const std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  data.push_back(sum);
  return data;
}

inline Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace tarvex::testing
