// Parsing what people type on the command line: bytes in hex, bus
// addresses, decimal counts. Every failure is a UsageError whose message
// names the argument and says what to write instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::tool {

using Bytes = std::vector<std::uint8_t>;

// Two hex digits per byte, high digit first; spaces, colons and dashes
// between bytes are allowed, as is a leading 0x. At most `max_bytes`.
Bytes parse_hex(std::string_view text, std::string_view what, std::size_t max_bytes);

// A command frame: at least the address byte, at most `max_bytes`.
Bytes parse_frame(std::string_view text, std::size_t max_bytes);

// One byte in hex, with or without 0x: "05", "0x31", "a".
std::uint8_t parse_byte(std::string_view text, std::string_view what);

// A signed decimal number.
std::int32_t parse_signed(std::string_view text, std::string_view what);

// A decimal count from 0 to `max`.
std::uint32_t parse_count(std::string_view text, std::string_view what, std::uint32_t max);

// Bytes as the tool shows them: "05 C2 C7".
std::string hex_text(const Bytes& bytes);
std::string hex_byte(std::uint8_t value);

}  // namespace tarvex::tool
