#include "exchange/hex_exchange.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "exchange/argument_contract.h"
#include "exchange/block_profile.h"
#include "exchange/data_block.h"
#include "exchange/frame_phase.h"
#include "exchange/hex_text.h"
#include "exchange/request_profile.h"

namespace tarvex::exchange {
namespace {

// The request: the re-opening frame, its own limits (3800 ms for the drain,
// 3680 ms a reply byte) for every command code, and every good reply
// acknowledged at once. The send is the re-opening profile of the data-block
// sequence as it stands (block_profile.h).
RequestProfile getdata_hex_profile() {
  return {.frame = reopening_frame(),
          .drain_limit = 3800,
          .byte_limit = 3680,
          .acknowledge = Acknowledge::Always};
}

// Each scratch area is 10 bytes longer than the count the caller names: room
// for the checksum byte, and for the fixed-length block behind a shorter
// block text.
constexpr std::size_t kScratchSpare = 10;

std::size_t size(std::int32_t count) {
  return static_cast<std::size_t>(count);
}

// The block area holds the caller's block and its checksum, and never less
// than the fixed-length block and its checksum: with the fixed-length command
// and an empty block text the checksum goes into byte 10, one past an area
// of m + 10 bytes.
std::size_t block_area_size(std::int32_t block_length) {
  return std::max(size(block_length) + kScratchSpare, size(kFixedBlockLength) + 1);
}

// Each reply byte goes into the caller's text as two characters as soon as
// its read counts it.
void write_as_text(void* reply_text, std::int32_t index, std::uint8_t byte) {
  encode_hex(byte, static_cast<char*>(reply_text) + 2 * size(index));
}

}  // namespace

Result getdata_hex(Platform& os, std::int32_t n, const char* command_text,
                   std::int32_t reply_length, char* reply_text, const char* port_name,
                   const ScratchSource& scratch) {
  if (const Refusal refused =
          refuse_hex_request(n, command_text, reply_length, reply_text, port_name)) {
    return *refused;
  }
  const ScratchArea reply(size(reply_length) + kScratchSpare, scratch);
  if (!reply.taken()) return kFrameNotSent;

  std::array<std::uint8_t, kGetdataHexMaxCommand + 1> frame{};
  decode_hex(command_text, size(n), frame.data(), HexText::Command);
  return request_by_name(os, port_name, getdata_hex_profile(), n, frame.data(), reply_length,
                         reply.data(), {.call = &write_as_text, .context = reply_text});
}

Result senddata_hex(Platform& os, std::int32_t n, const char* command_text,
                    std::int32_t block_length, const char* block_text, const char* port_name,
                    const ScratchSource& scratch) {
  if (const Refusal refused =
          refuse_hex_block(n, command_text, block_length, block_text, port_name)) {
    return *refused;
  }
  // A shorter block text leaves the rest of the fixed-length block at 0x00
  // (the scratch area starts zero-filled); a longer one is cut.
  const ScratchArea block(block_area_size(block_length), scratch);
  if (!block.taken()) return kFrameNotSent;
  decode_hex(block_text, size(block_length), block.data(), HexText::Block);

  // The frame buffer starts zero-filled, so a frame with no command code
  // (n below 2) has 0x00 in byte 1, and the 0xC5 rule does not apply to it.
  std::array<std::uint8_t, kSenddataHexMaxCommand + 1> frame{};
  decode_hex(command_text, size(n), frame.data(), HexText::Command);
  return block_by_name(os, port_name, reopening_block_profile(n == 0), n, frame.data(),
                       block_length, block.data());
}

}  // namespace tarvex::exchange
