#include "exchange/hex_exchange.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "exchange/hex_text.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::ReplyOutcome;

// The family's limits, side by side. Neither member has a busy wait.
constexpr std::uint32_t kGetdataHexDrainMs = 3800;
constexpr std::uint32_t kGetdataHexReplyByteMs = 3680;
constexpr std::uint32_t kSenddataHexDrainMs = 4500;
constexpr std::uint32_t kSenddataHexAckByteMs = 4550;

// This command carries a block of exactly 10 bytes, whatever length the
// caller passes.
constexpr std::uint8_t kFixedBlockCommand = 0xC5;
constexpr std::int32_t kFixedBlockLength = 10;

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

}  // namespace

Result getdata_hex(Platform& os, std::int32_t n, const char* command_text,
                   std::int32_t reply_length, char* reply_text, const char* port_name,
                   const ScratchSource& scratch) {
  if (n < 0 || n > kGetdataHexMaxCommand || !line::countable_with_checksum(reply_length) ||
      port_name == nullptr || (n > 0 && command_text == nullptr) ||
      (reply_length > 0 && reply_text == nullptr)) {
    return kFrameNotSent;
  }
  const ScratchArea reply(size(reply_length) + kScratchSpare, scratch);
  if (!reply.taken()) return kFrameNotSent;

  std::array<std::uint8_t, kGetdataHexMaxCommand + 1> frame{};
  decode_hex(command_text, size(n), frame.data(), HexText::Command);
  line::append_checksum(frame.data(), n);

  line::NamedPort port(os, port_name, line::TimeoutSet::Standard);
  if (!send_frame(port, reopening_frame(), frame.data(), wire_length(n))) return kFrameNotSent;
  if (!line::drain_wait(port.port(), kGetdataHexDrainMs)) return kFrameNotSent;
  if (reply_length == 0) return kOk;

  const auto as_text = [reply_text](std::int32_t index, std::uint8_t byte) {
    encode_hex(byte, reply_text + 2 * size(index));
  };
  switch (line::checked_reply(port.port(), reply.data(), reply_length, kGetdataHexReplyByteMs,
                              as_text)) {
    case ReplyOutcome::Incomplete: return kReplyIncomplete;
    case ReplyOutcome::WrongChecksum: return kReplyWrong;
    case ReplyOutcome::Good: break;
  }
  line::send_acknowledgement(port.port());
  return kOk;
}

Result senddata_hex(Platform& os, std::int32_t n, const char* command_text,
                    std::int32_t block_length, const char* block_text, const char* port_name,
                    const ScratchSource& scratch) {
  if (n < 0 || n > kSenddataHexMaxCommand || !line::countable_with_checksum(block_length) ||
      port_name == nullptr || (n > 0 && command_text == nullptr) ||
      (block_length > 0 && block_text == nullptr)) {
    return kFrameNotSent;
  }
  const ScratchArea block(block_area_size(block_length), scratch);
  if (!block.taken()) return kFrameNotSent;
  decode_hex(block_text, size(block_length), block.data(), HexText::Block);

  std::array<std::uint8_t, kSenddataHexMaxCommand + 1> frame{};
  decode_hex(command_text, size(n), frame.data(), HexText::Command);
  // Only a frame of two bytes or more has a command code. A shorter block
  // text leaves the rest of the fixed-length block at 0x00 (the scratch area
  // starts zero-filled); a longer one is cut.
  std::int32_t m = block_length;
  if (n >= 2 && frame[1] == kFixedBlockCommand) m = kFixedBlockLength;
  line::append_checksum(frame.data(), n);
  line::append_checksum(block.data(), m);

  // A block-only call (no command) starts straight in its data phase, on one
  // handle opened with the re-open timeouts.
  line::NamedPort port(os, port_name,
                       n != 0 ? line::TimeoutSet::Standard : line::TimeoutSet::Reopen);
  const FramePhase phase = n != 0 ? reopening_frame() : FramePhase{.data_setting = line::space()};
  if (!send_frame(port, phase, frame.data(), wire_length(n))) return kFrameNotSent;
  if (!line::drain_wait(port.port(), kSenddataHexDrainMs)) return kFrameNotSent;
  if (m == 0) return kOk;

  if (!line::checked_write(port.port(), block.data(), m + 1)) return kReplyIncomplete;
  switch (
      line::await_acknowledgement(port.port(), kSenddataHexAckByteMs, line::AckCheck::BothBytes)) {
    case ReplyOutcome::Incomplete: return kReplyIncomplete;
    case ReplyOutcome::WrongChecksum: return kReplyWrong;
    case ReplyOutcome::Good: break;
  }
  return kOk;
}

}  // namespace tarvex::exchange
