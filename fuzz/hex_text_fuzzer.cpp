// The hex-text decoder on any text: it reads exactly two characters per byte
// and writes exactly the count of bytes (the buffers are heap blocks of
// exactly that size), rejects nothing, gives hex digits their values in
// either case and under either kind of text, and reads back whatever the
// encoder wrote.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "exchange/hex_text.h"
#include "fuzz_input.h"

namespace {

using tarvex::exchange::HexText;

// A hex digit's value, or -1.
int hex_digit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::vector<std::uint8_t> decode(const std::vector<std::uint8_t>& text, HexText kind) {
  const std::size_t count = text.size() / 2;
  auto exact_text = std::make_unique<char[]>(2 * count);
  for (std::size_t i = 0; i < 2 * count; ++i) exact_text[i] = static_cast<char>(text[i]);
  auto bytes = std::make_unique<std::uint8_t[]>(count);
  tarvex::exchange::decode_hex(exact_text.get(), count, bytes.get(), kind);
  return {bytes.get(), bytes.get() + count};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarvex::fuzz::require;
  tarvex::fuzz::Reader in(data, size);
  const std::vector<std::uint8_t> text = in.rest();

  const auto command = decode(text, HexText::Command);
  const auto block = decode(text, HexText::Block);
  std::vector<std::uint8_t> upper = text;
  bool ascii = true;
  for (std::uint8_t& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<std::uint8_t>(c - 0x20);
    ascii = ascii && c < 0x80;
  }
  require(decode(upper, HexText::Command) == command && decode(upper, HexText::Block) == block,
          "case never matters");
  require(!ascii || command == block, "the two kinds differ only above 0x7F");

  for (std::size_t i = 0; i < command.size(); ++i) {
    const int high = hex_digit(text[2 * i]);
    const int low = hex_digit(text[2 * i + 1]);
    if (high >= 0 && low >= 0) {
      require(command[i] == high * 16 + low && block[i] == high * 16 + low,
              "a pair of hex digits is its byte");
    }
    char pair[2];
    tarvex::exchange::encode_hex(command[i], pair);
    require(hex_digit(static_cast<std::uint8_t>(pair[0])) >= 0 &&
                hex_digit(static_cast<std::uint8_t>(pair[1])) >= 0 && pair[0] < 'a' &&
                pair[1] < 'a',
            "the encoder writes upper-case hex digits");
    const std::vector<std::uint8_t> encoded{static_cast<std::uint8_t>(pair[0]),
                                            static_cast<std::uint8_t>(pair[1])};
    require(decode(encoded, HexText::Command)[0] == command[i] &&
                decode(encoded, HexText::Block)[0] == command[i],
            "what the encoder writes decodes back");
  }
  return 0;
}
