#include "exchange/data_block.h"

#include <algorithm>

#include "exchange/block_profile.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::AckCheck;
using line::Port;
using line::StopBits;

// A block the port did not take whole.
constexpr Result kBlockNotTaken = kReplyIncomplete;

// The command code whose block is always 10 bytes long.
constexpr std::uint8_t kFixedBlockCode = 0xC5;
constexpr std::int32_t kFixedBlockLength = 10;

// Command codes the terminal takes a block for without acknowledging it.
constexpr std::uint8_t kB3B5B6[] = {0xB3, 0xB5, 0xB6};
constexpr std::uint8_t kB4B5B6[] = {0xB4, 0xB5, 0xB6};

// The members side by side.

// The data phase sends with two stop bits. Without a frame the port is opened
// with the re-open timeouts and the call starts straight in its data phase.
BlockProfile senddata_profile(bool empty_frame) {
  const line::LineSetting data = line::space(line::kDefaultBaud, StopBits::Two);
  return {.open_with = empty_frame ? line::TimeoutSet::Reopen : line::TimeoutSet::Standard,
          .frame = empty_frame ? FramePhase{.data_setting = data}
                               : FramePhase{.address_setting = line::mark(),
                                            .wait_after_address = 9,
                                            .data_setting = data,
                                            .wait_before_rest = 10},
          .drain_limit = 1500,
          .wait_before_block = 10,
          .codes_without_acknowledgement = kB3B5B6,
          .wait_before_acknowledgement = 11,
          .acknowledgement_limit = 2000,
          .acknowledgement_check = AckCheck::FirstByteOnly};
}

BlockProfile nSendData_profile(std::uint32_t baud, std::uint32_t limit) {
  return {.frame = {.address_setting = line::mark(baud),
                    .wait_after_address = 9,
                    .data_setting = line::space(baud),
                    .wait_before_rest = 9},
          .drain_limit = limit,
          .wait_before_block = 10,
          .wait_before_acknowledgement = 11,
          .acknowledgement_limit = limit};
}

// The block and the acknowledgement go under MARK too: the line is never
// switched. A zero-length command puts nothing on the wire (a lone 0x00 under
// MARK would address terminal 0) and has nothing to drain.
BlockProfile dxSenddata_profile() {
  return {.frame = {.address_setting = line::mark(), .whole_frame_with_address = true},
          .drain_after_empty_frame = false,
          .drain_limit = 2000,
          .wait_before_block = 30,
          .acknowledgement_limit = 4550};
}

// No line setting at all, the caller's block length whatever the code, and
// no acknowledgement. On a 2 the held port's unread input is discarded.
BlockProfile Nsend_profile() {
  return {.frame = {.whole_frame_with_address = true},
          .fixed_block_for_c5 = false,
          .drain_limit = 2500,
          .wait_before_block = 30,
          .awaits_acknowledgement = false,
          .discard_input_when_frame_not_sent = true};
}

BlockProfile HANDLE_SendData_profile(std::uint32_t limit) {
  return {.frame = {.wait_before_setting = 19,
                    .address_setting = line::mark(line::kKeepBaud),
                    .wait_before_address = 19,
                    .wait_after_address = 19,
                    .data_setting = line::space(line::kKeepBaud),
                    .wait_before_rest = 19},
          .drain_limit = limit,
          .wait_before_block = 20,
          .codes_without_acknowledgement = kB4B5B6,
          .acknowledgement_limit = limit};
}

// As HANDLE_SendData, but the address byte goes out with no parity bit.
BlockProfile sendDataUIM_profile(std::uint32_t limit) {
  BlockProfile profile = HANDLE_SendData_profile(limit);
  profile.frame.address_setting = line::no_parity(line::kKeepBaud);
  return profile;
}

bool awaits_acknowledgement(const BlockProfile& profile, std::uint8_t command_code) {
  return profile.awaits_acknowledgement &&
         std::ranges::find(profile.codes_without_acknowledgement, command_code) ==
             profile.codes_without_acknowledgement.end();
}

// The command code and the block length the call goes by, once both checksums
// are in place: the only writes into the caller's memory, made before the
// port is touched.
struct Prepared {
  std::uint8_t command_code;
  std::int32_t m;
};

Prepared prepare(const BlockProfile& profile, std::int32_t n, std::uint8_t* frame,
                 std::int32_t m, std::uint8_t* block) {
  const std::uint8_t command_code = frame[1];
  if (profile.fixed_block_for_c5 && command_code == kFixedBlockCode) m = kFixedBlockLength;
  line::append_checksum(frame, n);
  line::append_checksum(block, m);
  return {command_code, m};
}

// After the frame: the drain wait, the block and the acknowledgement.
Result after_frame(Port port, const BlockProfile& profile, std::int32_t n, Prepared prepared,
                   const std::uint8_t* block) {
  if ((n != 0 || profile.drain_after_empty_frame) && !line::drain_wait(port, profile.drain_limit)) {
    return kFrameNotSent;
  }
  if (prepared.m == 0) return kOk;

  line::busy_wait(port.os, profile.wait_before_block);
  if (!line::checked_write(port, block, prepared.m + 1)) return kBlockNotTaken;
  if (!awaits_acknowledgement(profile, prepared.command_code)) return kOk;

  line::busy_wait(port.os, profile.wait_before_acknowledgement);
  return reply_result(line::await_acknowledgement(port, profile.acknowledgement_limit,
                                                   profile.acknowledgement_check));
}

Result on_held_port(Platform& os, Handle held, const BlockProfile& profile, std::int32_t n,
                    std::uint8_t* frame, std::int32_t m, std::uint8_t* block) {
  const Prepared prepared = prepare(profile, n, frame, m, block);
  const Port port{os, held};
  const Result result = send_frame(port, profile.frame, frame, wire_length(n))
                            ? after_frame(port, profile, n, prepared, block)
                            : kFrameNotSent;
  if (result == kFrameNotSent && profile.discard_input_when_frame_not_sent) {
    line::discard_input(port);
  }
  return result;
}

}  // namespace

bool block_out_of_contract(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                           const std::uint8_t* block) {
  return n < 0 || m < 0 || frame == nullptr || block == nullptr;
}

Result block_by_name(Platform& os, const char* port_name, const BlockProfile& profile,
                     std::int32_t n, std::uint8_t* frame, std::int32_t m, std::uint8_t* block) {
  const Prepared prepared = prepare(profile, n, frame, m, block);
  line::NamedPort port(os, port_name, profile.open_with);
  if (!send_frame(port, profile.frame, frame, wire_length(n))) return kFrameNotSent;
  return after_frame(port.port(), profile, n, prepared, block);
}

Result senddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name) {
  if (block_out_of_contract(n, frame, m, block) || port_name == nullptr) return kFrameNotSent;
  return block_by_name(os, port_name, senddata_profile(n == 0), n, frame, m, block);
}

Result nSendData(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                 std::uint8_t* block, const char* port_name, std::uint32_t baud,
                 std::uint32_t limit_ms) {
  if (block_out_of_contract(n, frame, m, block) || port_name == nullptr) return kFrameNotSent;
  return block_by_name(os, port_name, nSendData_profile(baud, limit_ms), n, frame, m, block);
}

Result dxSenddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                  std::uint8_t* block, const char* port_name) {
  if (block_out_of_contract(n, frame, m, block) || port_name == nullptr) return kFrameNotSent;
  return block_by_name(os, port_name, dxSenddata_profile(), n, frame, m, block);
}

Result Nsend(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
             std::uint8_t* block, Handle port) {
  if (block_out_of_contract(n, frame, m, block)) return kFrameNotSent;
  return on_held_port(os, port, Nsend_profile(), n, frame, m, block);
}

Result HANDLE_SendData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                       std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms) {
  if (block_out_of_contract(n, frame, m, block)) return kFrameNotSent;
  return on_held_port(os, port, HANDLE_SendData_profile(limit_ms), n, frame, m, block);
}

Result sendDataUIM(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                   std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms) {
  if (block_out_of_contract(n, frame, m, block)) return kFrameNotSent;
  return on_held_port(os, port, sendDataUIM_profile(limit_ms), n, frame, m, block);
}

}  // namespace tarvex::exchange
