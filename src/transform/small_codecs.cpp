#include "transform/small_codecs.h"

#include <array>

namespace tarvex::transform {
namespace {

std::uint8_t byte(unsigned v) {
  return static_cast<std::uint8_t>(v & 0xFFu);
}

// x + (x mod m) + (x mod n), truncated to a byte.
std::uint8_t abcd_mix(std::uint8_t x, std::int32_t mode) {
  const auto [m, n] = mode == 0   ? std::array{8u, 5u}
                      : mode == 1 ? std::array{7u, 4u}
                                  : std::array{6u, 3u};
  return byte(x + x % m + x % n);
}

char upper_hex_digit(unsigned nibble) {
  return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

}  // namespace

Result abcd(const std::uint8_t* in, std::uint8_t* out, std::int32_t mode) {
  if (in == nullptr || out == nullptr) return kFrameNotSent;
  // With digit characters: x0 and x2 are two-digit numbers (tens in bytes 0
  // and 2, units in 4 and 6), x1 and x3 digit sums. The 16 and 96 take away
  // the characters' '0' offsets modulo 256.
  const std::array<std::uint8_t, 4> x{byte(10u * in[0] + in[4] - 16u), byte(in[1] + in[5] - 96u),
                                      byte(10u * in[2] + in[6] - 16u), byte(in[3] + in[7] - 96u)};
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::uint8_t y = abcd_mix(x[i], mode);
    out[2 * i] = static_cast<std::uint8_t>(upper_hex_digit(y / 16u));
    out[2 * i + 1] = static_cast<std::uint8_t>(upper_hex_digit(y % 16u));
  }
  return kOk;
}

// Step by step, each input byte read only at its step, so a shared buffer
// gives the same six bytes as two separate ones.
Result change(const std::uint8_t* in, std::uint8_t* out) {
  if (in == nullptr || out == nullptr) return kFrameNotSent;
  out[0] = byte(in[0] + in[3]);
  out[1] = byte(in[1] | in[4]);
  out[2] = byte(in[2] & in[5]);
  out[3] = byte(out[2] | in[3]);
  out[4] = byte(out[0] & in[4]);
  out[5] = byte(out[1] + in[5]);
  return kOk;
}

Result ascc(const std::uint8_t* in, std::uint8_t* out) {
  if (in == nullptr || out == nullptr) return kFrameNotSent;
  for (int i = 0; i < 3; ++i) out[i] = in[i];
  return kOk;
}

Result MJExchangeData() {
  return kOk;
}

}  // namespace tarvex::transform
