#include "exchange/hex_text.h"

namespace tarvex::exchange {

void decode_hex(const char* text, std::size_t count, std::uint8_t* bytes, HexText kind) {
  for (std::size_t index = 0; index < count; ++index) {
    bytes[index] = byte_from_pair(text[2 * index], text[2 * index + 1], kind);
  }
}

void encode_hex(std::uint8_t byte, char* two_characters) {
  const auto digit = [](unsigned half) {
    return static_cast<char>(half <= 9 ? 0x30 + half : 0x37 + half);
  };
  two_characters[0] = digit(byte >> 4u);
  two_characters[1] = digit(byte & 0x0Fu);
}

}  // namespace tarvex::exchange
