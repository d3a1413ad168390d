// The small codecs: abcd's three mixings on digit and other input, change's
// six steps, ascc's copy, and the bytes each must leave alone.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "transform/small_codecs.h"

namespace tarvex::testing {
namespace {

namespace tf = tarvex::transform;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::size_t kSlack = 4;  // bytes past the output that must stay untouched

Bytes bytes_of(const char* text) {
  return Bytes(text, text + std::strlen(text));
}

std::string text_of(const Bytes& b, std::size_t n) {
  return std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

bool slack_untouched(const Bytes& out, std::size_t written) {
  for (std::size_t i = written; i < out.size(); ++i) {
    if (out[i] != kUntouched) return false;
  }
  return true;
}

TEST(Abcd, MixesEachModeIntoEightUpperCaseHexCharacters) {
  struct Case {
    const char* in;
    std::int32_t mode;
    const char* out;
  };
  const Case cases[] = {
      // Digits: 15, 2 + 6, 37 and 4 + 8.
      {"12345678", 0, "160B2C12"},
      {"12345678", 1, "13092811"},
      {"12345678", 2, "120C270C"},
      {"12345678", 5, "120C270C"},
      {"12345678", -1, "120C270C"},
      {"12345678", INT32_MIN, "120C270C"},
      {"99999999", 0, "6A176A17"},
      {"99999999", 1, "67186718"},
      {"99999999", 7, "66126612"},
      {"00000000", 0, "00000000"},
      // Not digits: the same byte arithmetic, modulo 256.
      {"ABCDEFGH", 0, "C728DD34"},
      // '/' + '0' - 96 is 255: the mixed sum passes 0xFF and keeps its low byte.
      {"0/000000", 0, "00060000"},
      {"0/000000", 1, "00050000"},
      {"0/000000", 3, "00020000"},
  };
  for (const Case& c : cases) {
    Bytes out(8 + kSlack, kUntouched);
    EXPECT_EQ(tf::abcd(bytes_of(c.in).data(), out.data(), c.mode), kOk);
    EXPECT_EQ(text_of(out, 8), c.out) << c.in << " mode " << c.mode;
    EXPECT_TRUE(slack_untouched(out, 8)) << "no ninth byte for " << c.in;
  }
}

TEST(Abcd, WritesOnlyHexCharactersWhateverTheInput) {
  Bytes in(8);
  for (unsigned seed = 0; seed < 256; ++seed) {
    for (std::size_t i = 0; i < in.size(); ++i) {
      in[i] = static_cast<std::uint8_t>(seed * 31 + i * 97);
    }
    for (const std::int32_t mode : {0, 1, 2}) {
      Bytes out(8 + kSlack, kUntouched);
      ASSERT_EQ(tf::abcd(in.data(), out.data(), mode), kOk);
      for (std::size_t i = 0; i < 8; ++i) {
        const char c = static_cast<char>(out[i]);
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << seed << " " << i;
      }
      EXPECT_TRUE(slack_untouched(out, 8));
    }
  }
}

TEST(Abcd, InputAndOutputMayBeTheSameBuffer) {
  Bytes shared = bytes_of("12345678");
  EXPECT_EQ(tf::abcd(shared.data(), shared.data(), 0), kOk);
  EXPECT_EQ(text_of(shared, 8), "160B2C12");
}

TEST(Change, SixStepsInOrder) {
  struct Case {
    Bytes in;
    Bytes out;
  };
  // The steps that read earlier outputs (3 from 2, 4 from 0, 5 from 1) give
  // other bytes than the same operations on the inputs would.
  const Case cases[] = {
      {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, {0x05, 0x07, 0x02, 0x06, 0x05, 0x0D}},
      {{0xF0, 0x0F, 0xAA, 0xFF, 0x11, 0x55}, {0xEF, 0x1F, 0x00, 0xFF, 0x01, 0x74}},
  };
  for (const Case& c : cases) {
    Bytes separate(6 + kSlack, kUntouched);
    EXPECT_EQ(tf::change(c.in.data(), separate.data()), kOk);
    EXPECT_EQ(Bytes(separate.begin(), separate.begin() + 6), c.out);
    EXPECT_TRUE(slack_untouched(separate, 6));

    Bytes shared = c.in;
    shared.resize(6 + kSlack, kUntouched);
    EXPECT_EQ(tf::change(shared.data(), shared.data()), kOk);
    EXPECT_EQ(shared, separate) << "same buffer";
  }
}

TEST(Ascc, CopiesThreeBytesAndNoMore) {
  const Bytes in{0x00, 0x7F, 0xFF, 0x11, 0x22};
  Bytes out(3 + kSlack, kUntouched);
  EXPECT_EQ(tf::ascc(in.data(), out.data()), kOk);
  EXPECT_EQ(out, (Bytes{0x00, 0x7F, 0xFF, kUntouched, kUntouched, kUntouched, kUntouched}));
}

TEST(MJExchangeData, ReportsSuccess) {
  EXPECT_EQ(tf::MJExchangeData(), kOk);
}

}  // namespace
}  // namespace tarvex::testing
