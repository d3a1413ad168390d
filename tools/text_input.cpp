#include "tools/text_input.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "tools/exit_status.h"
#include "trace/trace_format.h"

namespace tarvex::tool {
namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool separator(char c) { return c == ' ' || c == ':' || c == '-' || c == '\t'; }

std::string_view without_0x(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return text;
}

std::string printable(char c) {
  if (std::isprint(static_cast<unsigned char>(c)) != 0) return std::string("'") + c + "'";
  char text[16];
  std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned char>(c));
  return text;
}

}  // namespace

Bytes parse_hex(std::string_view text, std::string_view what, std::size_t max_bytes) {
  const std::string name(what);
  text = without_0x(text);
  Bytes bytes;
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (separator(c)) {
      if (high >= 0) {
        throw UsageError(name + ": a lone hex digit before position " + std::to_string(i + 1) +
                         "; write every byte as two digits (05, not 5)");
      }
      continue;
    }
    const int value = digit_value(c);
    if (value < 0) {
      throw UsageError(name + ": " + printable(c) + " at position " + std::to_string(i + 1) +
                       " is not a hex digit; write bytes as hex pairs, e.g. 05C2 or \"05 C2\"");
    }
    if (high < 0) {
      high = value;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + value));
    high = -1;
  }
  if (high >= 0) {
    throw UsageError(name + ": an odd number of hex digits; write every byte as two digits (05, not 5)");
  }
  if (bytes.size() > max_bytes) {
    throw UsageError(name + ": " + std::to_string(bytes.size()) + " bytes is too long; at most " +
                     std::to_string(max_bytes) + " fit here");
  }
  return bytes;
}

Bytes parse_frame(std::string_view text, std::size_t max_bytes) {
  Bytes frame = parse_hex(text, "FRAME", max_bytes);
  if (frame.empty()) throw UsageError("FRAME: empty; give at least the address byte and the command code");
  return frame;
}

std::int32_t parse_signed(std::string_view text, std::string_view what) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError(std::string(what) + ": '" + std::string(text) +
                     "' is not a whole number from -2147483648 to 2147483647");
  }
  return value;
}

std::uint8_t parse_byte(std::string_view text, std::string_view what) {
  const std::string name(what);
  const std::string_view digits = without_0x(text);
  unsigned value = 0;
  for (const char c : digits) {
    const int d = digit_value(c);
    if (d < 0) {
      throw UsageError(name + ": '" + std::string(text) + "' is not a hex byte; write it like 05 or 0x31");
    }
    value = value * 16 + static_cast<unsigned>(d);
    if (value > 0xFF) {
      throw UsageError(name + ": '" + std::string(text) + "' does not fit in a byte (00 to FF)");
    }
  }
  if (digits.empty()) throw UsageError(name + ": empty; write a hex byte like 05 or 0x31");
  return static_cast<std::uint8_t>(value);
}

std::uint32_t parse_count(std::string_view text, std::string_view what, std::uint32_t max) {
  const std::string name(what);
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      throw UsageError(name + ": '" + std::string(text) + "' is not a decimal number from 0 to " +
                       std::to_string(max));
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > max) break;
  }
  if (text.empty()) throw UsageError(name + ": empty; give a decimal number from 0 to " + std::to_string(max));
  if (value > max) {
    throw UsageError(name + ": " + std::string(text) + " does not fit; at most " + std::to_string(max));
  }
  return static_cast<std::uint32_t>(value);
}

std::string hex_byte(std::uint8_t value) {
  std::string text;
  trace::append_hex_byte(text, value);
  return text;
}

std::string hex_text(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += hex_byte(b);
  }
  return text;
}

}  // namespace tarvex::tool
