// Two transforms through the Linux shared object's exported functions: the
// arguments arrive in the right order and the outputs land where the caller
// looks, no port involved.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

struct KeylockCase {
  Bytes plain;
  std::int32_t result;
  Bytes key;  // the output buffer afterwards, and one byte beyond it
};

TEST(TransformsThroughTheLibrary, Keylock) {
  const KeylockCase cases[] = {
      {{0x12, 0x34, 0x56}, TARVEX_OK, {0x57, 0x2A, 0x36, 0xEE}},
      // The first nibble sum is 0xF0 + 0x0D + 3: over a byte, nothing written.
      {{0x00, 0x0D, 0xF0}, TARVEX_LOCK_REJECTED, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const KeylockCase& c : cases) {
    Bytes key(4, 0xEE);
    EXPECT_EQ(keylock(0x7FFFFFFF, c.plain.data(), key.data()), c.result) << hex(c.plain);
    EXPECT_EQ(hex(key), hex(c.key)) << hex(c.plain);
  }
}

TEST(TransformsThroughTheLibrary, AbcdModes) {
  struct Case {
    std::int32_t mode;
    const char* code;
  };
  // "12345678": 15, 2 + 6, 37 and 4 + 8 before mixing.
  for (const Case& c : {Case{0, "160B2C12"}, Case{1, "13092811"}, Case{2, "120C270C"},
                        Case{-1, "120C270C"}}) {
    const std::string digits = "12345678";
    std::string out(9, '#');
    EXPECT_EQ(abcd(reinterpret_cast<const std::uint8_t*>(digits.data()),
                   reinterpret_cast<std::uint8_t*>(out.data()), c.mode),
              TARVEX_OK);
    EXPECT_EQ(out, std::string(c.code) + "#") << "mode " << c.mode << ": eight characters, no terminator";
  }
}

}  // namespace
}  // namespace tarvex::testing
