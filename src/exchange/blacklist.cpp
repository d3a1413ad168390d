#include "exchange/blacklist.h"

#include <array>
#include <cstddef>
#include <limits>
#include <optional>

#include "exchange/blacklist_block.h"
#include "exchange/hex_text.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::ReplyOutcome;

constexpr std::uint32_t kDrainMs = 4500;
constexpr std::uint32_t kAckByteMs = 4550;
constexpr std::uint8_t kBlacklistCommand = 0xA5;

// Address byte, command code, two parameter bytes and a check byte.
using Frame = std::array<std::uint8_t, 5>;

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

// The shared sequence: the block is built first, into the call's own buffer;
// then the frame by re-opening, the drain, the block in one write and the
// acknowledgement, with no busy wait anywhere.
Result download(Platform& os, const char* port_name, const Frame& frame,
                const std::uint8_t* entries, std::int32_t count) {
  BlacklistBuffer block;
  const std::size_t block_bytes = build_blacklist_block(entries, count, block);

  line::NamedPort port(os, port_name, line::TimeoutSet::Standard);
  constexpr auto kFrameBytes = static_cast<std::int32_t>(std::tuple_size_v<Frame>);
  if (!send_frame(port, reopening_frame(), frame.data(), kFrameBytes)) return kFrameNotSent;
  if (!line::drain_wait(port.port(), kDrainMs)) return kFrameNotSent;
  if (!line::checked_write(port.port(), block.data(), static_cast<std::int32_t>(block_bytes))) {
    return kReplyIncomplete;
  }
  switch (line::await_acknowledgement(port.port(), kAckByteMs, line::AckCheck::BothBytes)) {
    case ReplyOutcome::Incomplete: return kReplyIncomplete;
    case ReplyOutcome::WrongChecksum: return kReplyWrong;
    case ReplyOutcome::Good: break;
  }
  return kOk;
}

// An empty (or negative) list touches nothing; a missing list or port name
// is refused before any port is opened.
std::optional<Result> refused(std::int32_t count, const void* list, const char* port_name) {
  if (count <= 0) return kEmptyOrNotDrained;
  if (list == nullptr || port_name == nullptr) return kFrameNotSent;
  return std::nullopt;
}

}  // namespace

Result sendBlack(Platform& os, std::int32_t address, std::int32_t count,
                 const std::uint8_t* entries, const char* port_name) {
  if (const auto result = refused(count, entries, port_name)) return *result;
  return download(os, port_name, sendBlack_frame(address), entries, count);
}

Result sendBlack_hex(Platform& os, std::int32_t address, std::int32_t count, const char* text,
                     const char* port_name, const ScratchSource& scratch) {
  if (const auto result = refused(count, text, port_name)) return *result;
  // 6 * count characters must be addressable; a count beyond that cannot
  // describe a real list, and its scratch size would wrap.
  const auto entries_count = static_cast<std::size_t>(count);
  if (entries_count > std::numeric_limits<std::size_t>::max() / (2 * kCardEntrySize)) {
    return kFrameNotSent;
  }
  const ScratchArea entries(kCardEntrySize * entries_count, scratch);
  if (!entries.taken()) return kFrameNotSent;
  decode_hex(text, kCardEntrySize * entries_count, entries.data(), HexText::Block);
  return download(os, port_name, sendBlack_frame(address), entries.data(), count);
}

Result sSendBlack(Platform& os, std::int32_t address_word, std::int32_t command_code,
                  std::int32_t count, const std::uint8_t* entries, const char* port_name) {
  if (const auto result = refused(count, entries, port_name)) return *result;
  return download(os, port_name, sSendBlack_frame(address_word, command_code), entries, count);
}

}  // namespace tarvex::exchange
