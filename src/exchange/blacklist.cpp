#include "exchange/blacklist.h"

#include <array>
#include <cstddef>

#include "exchange/argument_contract.h"
#include "exchange/blacklist_block.h"
#include "exchange/block_profile.h"
#include "exchange/hex_text.h"

namespace tarvex::exchange {
namespace {

constexpr std::uint8_t kBlacklistCommand = 0xA5;

// Address byte, command code, two parameter bytes and a check byte; its
// length as the sequence counts a frame, without the check byte, is 4.
using Frame = std::array<std::uint8_t, 5>;
constexpr auto kFrameLength = static_cast<std::int32_t>(std::tuple_size_v<Frame>) - 1;

std::uint8_t low_byte(std::int32_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

// The members' frames side by side. sendBlack's check byte is the additive
// checksum of bytes 0 to 3; sSendBlack's leaves byte 2 out.
Frame sendBlack_frame(std::int32_t address) {
  const std::uint8_t a = low_byte(address);
  return {a, kBlacklistCommand, 0x00, 0x00, static_cast<std::uint8_t>(a + kBlacklistCommand)};
}

Frame sSendBlack_frame(std::int32_t address_word, std::int32_t command_code) {
  const std::uint8_t a = low_byte(address_word);
  const std::uint8_t code = low_byte(command_code);
  return {a, code, low_byte(address_word >> 8), 0x00, static_cast<std::uint8_t>(a + code)};
}

// The data-block sequence as the exchanges that re-open the port run it,
// with the frame's check byte and the block's checksum already in place, and
// the block as built whatever the command code: sSendBlack's caller may name
// any, 0xC5 included.
BlockProfile download_profile() {
  BlockProfile profile = reopening_block_profile(false);
  profile.checksums_in_place = true;
  profile.fixed_block_for_c5 = false;
  return profile;
}

// The block is built first, into the call's own buffer; then the frame by
// re-opening, the drain, the block in one write and the acknowledgement,
// with no busy wait anywhere.
Result download(Platform& os, const char* port_name, Frame frame, const std::uint8_t* entries,
                std::int32_t count) {
  BlacklistBuffer block;
  const std::size_t block_bytes = build_blacklist_block(entries, count, block);
  const auto m = static_cast<std::int32_t>(block_bytes) - 1;  // its checksum not counted
  return block_by_name(os, port_name, download_profile(), kFrameLength, frame.data(), m,
                       block.data());
}

}  // namespace

Result sendBlack(Platform& os, std::int32_t address, std::int32_t count,
                 const std::uint8_t* entries, const char* port_name) {
  if (const Refusal refused = refuse_card_list(count, entries, port_name)) return *refused;
  return download(os, port_name, sendBlack_frame(address), entries, count);
}

Result sendBlack_hex(Platform& os, std::int32_t address, std::int32_t count, const char* text,
                     const char* port_name, const ScratchSource& scratch) {
  if (const Refusal refused = refuse_card_text(count, text, port_name)) return *refused;
  const auto entries_count = static_cast<std::size_t>(count);
  const ScratchArea entries(kCardEntrySize * entries_count, scratch);
  if (!entries.taken()) return kFrameNotSent;
  decode_hex(text, kCardEntrySize * entries_count, entries.data(), HexText::Block);
  return download(os, port_name, sendBlack_frame(address), entries.data(), count);
}

Result sSendBlack(Platform& os, std::int32_t address_word, std::int32_t command_code,
                  std::int32_t count, const std::uint8_t* entries, const char* port_name) {
  if (const Refusal refused = refuse_card_list(count, entries, port_name)) return *refused;
  return download(os, port_name, sSendBlack_frame(address_word, command_code), entries, count);
}

}  // namespace tarvex::exchange
