// Hex text: the digit-value rule on every kind of character, pairs that carry,
// and the reply text.
#include "exchange/hex_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace tarvex::testing {
namespace {

using exchange::HexText;

TEST(HexText, DigitValueOfEveryKindOfCharacter) {
  struct Case {
    unsigned char character;
    std::uint8_t command, block;
  };
  const Case cases[] = {
      {'0', 0x00, 0x00},
      {'9', 0x09, 0x09},
      {'A', 0x0A, 0x0A},
      {'F', 0x0F, 0x0F},
      {'a', 0x0A, 0x0A},
      {'f', 0x0F, 0x0F},  // upper-cased first
      {'G', 0x10, 0x10},
      {'g', 0x10, 0x10},
      {'z', 0x23, 0x23},
      {':', 0x0A, 0x0A},
      {'@', 0x10, 0x10},
      {' ', 0xF0, 0xF0},
      {0x00, 0xD0, 0xD0},
      {'[', 0x24, 0x24},
      {'{', 0x44, 0x44},  // not letters: left as they are
      // 0x80 to 0xFF count below 'A' in a command text, above it in a block
      // text; and the C locale upper-cases none of them.
      {0x80, 0x50, 0x49},
      {0xC1, 0x91, 0x8A},
      {0xE1, 0xB1, 0xAA},
      {0xFF, 0xCF, 0xC8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.character));
    const auto character = static_cast<char>(c.character);
    EXPECT_EQ(exchange::digit_value(character, HexText::Command), c.command);
    EXPECT_EQ(exchange::digit_value(character, HexText::Block), c.block);
  }
}

TEST(HexText, PairsCarryAndWrapInsteadOfBeingRejected) {
  struct Case {
    const char* pair;
    std::uint8_t command, block;
  };
  const Case cases[] = {
      {"A1", 0xA1, 0xA1},
      {"a1", 0xA1, 0xA1},
      {"ff", 0xFF, 0xFF},
      {"1G", 0x20, 0x20},  // a low value above 15 carries into the high half
      {"0g", 0x10, 0x10},
      {"G0", 0x00, 0x00},  // the high value keeps only its low four bits
      {"FG", 0x00, 0x00},  // 0xF0 + 0x10 wraps
      {"0\xC1", 0x91, 0x8A},
      {"\xC1"
       "0",
       0x10, 0xA0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pair);
    EXPECT_EQ(exchange::byte_from_pair(c.pair[0], c.pair[1], HexText::Command), c.command);
    EXPECT_EQ(exchange::byte_from_pair(c.pair[0], c.pair[1], HexText::Block), c.block);
  }
}

TEST(HexText, DecodeReadsTwoCharactersPerByteAndNoMore) {
  // No terminator: the text ends exactly after 2 * count characters.
  const std::array<char, 6> text{'0', '5', 'a', '1', '1', 'G'};
  std::array<std::uint8_t, 4> bytes{0xEE, 0xEE, 0xEE, 0xEE};
  exchange::decode_hex(text.data(), 3, bytes.data(), HexText::Command);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{0x05, 0xA1, 0x20, 0xEE}));
  exchange::decode_hex(nullptr, 0, bytes.data(), HexText::Block);  // nothing to read
  EXPECT_EQ(bytes[0], 0x05);
}

TEST(HexText, ReplyTextIsUpperCaseAndDecodesBackUnderEitherRule) {
  const std::pair<std::uint8_t, const char*> cases[] = {{0x00, "00"}, {0x12, "12"}, {0xAB, "AB"},
                                                        {0xBD, "BD"}, {0x0F, "0F"}, {0xF0, "F0"},
                                                        {0xFF, "FF"}};
  for (const auto& [byte, text] : cases) {
    std::array<char, 3> out{'?', '?', '!'};
    exchange::encode_hex(byte, out.data());
    EXPECT_EQ(std::string(out.data(), 2), text);
    EXPECT_EQ(out[2], '!') << "two characters, no terminator";
  }
  for (unsigned value = 0; value < 256; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    char out[2];
    exchange::encode_hex(byte, out);
    ASSERT_EQ(exchange::byte_from_pair(out[0], out[1], HexText::Command), byte);
    ASSERT_EQ(exchange::byte_from_pair(out[0], out[1], HexText::Block), byte);
  }
}

}  // namespace
}  // namespace tarvex::testing
