// The four byte operations every lock-code transform is built from. Each is
// a pure function of its arguments; the entry points in lock_transforms.cpp
// only chain them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tarvex::transform {

// One lock code: three bytes, in any of its forms.
using Code = std::array<std::uint8_t, 3>;

inline constexpr unsigned high_nibble(unsigned v) {
  return v / 16;
}
inline constexpr unsigned low_nibble(unsigned v) {
  return v & 0x0Fu;
}

// Packed decimal to its value, without validation: nibbles 10 to 15 count at
// face value, so the result lies between 0 and 165.
inline constexpr std::uint8_t bcd_decode(std::uint8_t v) {
  return static_cast<std::uint8_t>(high_nibble(v) * 10 + low_nibble(v));
}

// A value to packed decimal. Up to 99 this is the two-digit form; 100 to 159
// put 10 to 15 in the high nibble; from 160 on the sum wraps past 0xFF and
// one more is added (q / 16), so a value ending in 9 gets the low nibble 10.
inline constexpr std::uint8_t bcd_encode(std::uint8_t v) {
  const unsigned q = v / 10u;
  const unsigned r = v % 10u;
  return static_cast<std::uint8_t>((r + 16 * q + q / 16) & 0xFFu);
}

// Spreads the nibbles of three values over three bytes, adding 3, 4 and 5.
// The sums are checked in order, each as soon as it is formed: the first one
// above 0xFF rejects the code (no value).
inline constexpr std::optional<Code> nibble_shuffle(const Code& u) {
  const unsigned s0 = (u[2] & 0xF0u) + low_nibble(u[1]) + 3;
  if (s0 > 0xFF) return std::nullopt;
  const unsigned s1 = low_nibble(u[0]) * 16 + low_nibble(u[2]) + 4;
  if (s1 > 0xFF) return std::nullopt;
  const unsigned s2 = (u[1] & 0xF0u) + high_nibble(u[0]) + 5;
  if (s2 > 0xFF) return std::nullopt;
  return Code{static_cast<std::uint8_t>(s0), static_cast<std::uint8_t>(s1),
              static_cast<std::uint8_t>(s2)};
}

// Undoes nibble_shuffle. Bytes below 3, 4 or 5 (by position) wrap instead of
// failing: there are no checks.
inline constexpr Code nibble_unshuffle(const Code& k) {
  const unsigned a = (k[0] - 3u) & 0xFFu;
  const unsigned b = (k[1] - 4u) & 0xFFu;
  const unsigned c = (k[2] - 5u) & 0xFFu;
  return Code{static_cast<std::uint8_t>(low_nibble(c) * 16 + high_nibble(b)),
              static_cast<std::uint8_t>((c & 0xF0u) + low_nibble(a)),
              static_cast<std::uint8_t>((a & 0xF0u) + low_nibble(b))};
}

}  // namespace tarvex::transform
