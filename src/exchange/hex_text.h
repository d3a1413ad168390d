// Hex text: two characters per byte, high digit first, its length given by a
// byte count, no terminator. The decoder rejects nothing: every character gets
// a digit value by one arithmetic rule, so a pair such as "1G" still yields a
// byte (0x20), and hosts that rely on that keep working.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::exchange {

// Where the characters 0x80 to 0xFF fall against the letters: a command text
// counts them below 'A' (value C - 0x30), a block text or a card list above
// it (value C - 0x37). That is the one difference between the two kinds.
enum class HexText { Command, Block };

// Upper-cases as the default C locale does: only 'a' to 'z' change.
constexpr std::uint8_t upper_case(std::uint8_t c) {
  return c >= 0x61 && c <= 0x7A ? static_cast<std::uint8_t>(c - 0x20) : c;
}

// The value of one character, modulo 256: 0 to 9 and A to F (either case)
// give 0 to 15, any other character what the same subtraction yields.
constexpr std::uint8_t digit_value(char character, HexText kind) {
  const std::uint8_t c = upper_case(static_cast<std::uint8_t>(character));
  const bool below_letters = c < 0x41 || (kind == HexText::Command && c >= 0x80);
  return static_cast<std::uint8_t>(c - (below_letters ? 0x30 : 0x37));
}

// 16 * high + low, modulo 256: the high value keeps its low four bits, a low
// value above 15 carries into the high half.
constexpr std::uint8_t byte_from_pair(char high, char low, HexText kind) {
  return static_cast<std::uint8_t>(digit_value(high, kind) * 16 + digit_value(low, kind));
}

// Converts 2 * count characters of `text` into `count` bytes.
void decode_hex(const char* text, std::size_t count, std::uint8_t* bytes, HexText kind);

// Writes `byte` as two characters, 0-9 and A-F, high half first.
void encode_hex(std::uint8_t byte, char* two_characters);

}  // namespace tarvex::exchange
