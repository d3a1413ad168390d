#include "exchange/data_block.h"

#include <algorithm>

#include "exchange/argument_contract.h"
#include "exchange/block_profile.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::AckCheck;
using line::Channel;
using line::StopBits;

// A block the port did not take whole.
constexpr Result kBlockNotTaken = kReplyIncomplete;

// The limits of the exchanges that switch by re-opening the port.
constexpr std::uint32_t kReopeningDrainMs = 4500;
constexpr std::uint32_t kReopeningAcknowledgementByteMs = 4550;

// The command codes whose block the terminal takes without acknowledging it,
// as each member knows them. The sets differ on purpose and stay as they
// are: senddata skips the acknowledgement for 0xB3 and awaits it for 0xB4,
// HANDLE_SendData (and sendDataUIM) the other way round, and hosts written
// against each member rely on its own set. Awaiting an acknowledgement that
// never comes turns a block that was taken into a 3 after the whole limit;
// skipping one that does come leaves its two bytes unread, which on a held
// port the next exchange reads as the start of its reply. The other members
// await it for every code.
constexpr std::uint8_t kSenddataCodesAwaitingNoAcknowledgement[] = {0xB3, 0xB5, 0xB6};
constexpr std::uint8_t kHeldPortCodesAwaitingNoAcknowledgement[] = {0xB4, 0xB5, 0xB6};

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
          .codes_awaiting_no_acknowledgement = kSenddataCodesAwaitingNoAcknowledgement,
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
          .codes_awaiting_no_acknowledgement = kHeldPortCodesAwaitingNoAcknowledgement,
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
         std::ranges::find(profile.codes_awaiting_no_acknowledgement, command_code) ==
             profile.codes_awaiting_no_acknowledgement.end();
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
  if (profile.fixed_block_for_c5) m = fixed_block_length(command_code, m);
  if (!profile.checksums_in_place) {
    line::append_checksum(frame, n);
    line::append_checksum(block, m);
  }
  return {command_code, m};
}

// After the frame: the drain wait, the block and the acknowledgement.
Result after_frame(Channel port, const BlockProfile& profile, std::int32_t n, Prepared prepared,
                   const std::uint8_t* block) {
  if ((n != 0 || profile.drain_after_empty_frame) && !line::drain_wait(port, profile.drain_limit)) {
    return kFrameNotSent;
  }
  if (prepared.m == 0) return kOk;

  line::busy_wait(port, profile.wait_before_block);
  if (!line::checked_write(port, block, prepared.m + 1)) return kBlockNotTaken;
  if (!awaits_acknowledgement(profile, prepared.command_code)) return kOk;

  line::busy_wait(port, profile.wait_before_acknowledgement);
  return reply_result(line::await_acknowledgement(port, profile.acknowledgement_limit,
                                                   profile.acknowledgement_check));
}

Result on_held_port(Platform& os, Handle held, const BlockProfile& profile, std::int32_t n,
                    std::uint8_t* frame, std::int32_t m, std::uint8_t* block) {
  if (const Refusal refused = refuse_block(n, frame, m, block)) return *refused;
  const Prepared prepared = prepare(profile, n, frame, m, block);
  const Channel port{os, held};
  const Result result = send_frame(port, profile.frame, frame, wire_length(n))
                            ? after_frame(port, profile, n, prepared, block)
                            : kFrameNotSent;
  if (result == kFrameNotSent && profile.discard_input_when_frame_not_sent) {
    line::discard_input(port);
  }
  return result;
}

}  // namespace

BlockProfile reopening_block_profile(bool empty_frame, line::LineSetting data) {
  return {.open_with = empty_frame ? line::TimeoutSet::Reopen : line::TimeoutSet::Standard,
          .frame = empty_frame ? FramePhase{.data_setting = data} : reopening_frame(data),
          .drain_limit = kReopeningDrainMs,
          .acknowledgement_limit = kReopeningAcknowledgementByteMs,
          .acknowledgement_check = AckCheck::BothBytes};
}

std::optional<BlockProfile> member_profile(std::string_view name) {
  if (name == "senddata") return senddata_profile(false);
  if (name == "nSendData") return nSendData_profile(line::kDefaultBaud, 0);
  if (name == "dxSenddata") return dxSenddata_profile();
  if (name == "Nsend") return Nsend_profile();
  if (name == "HANDLE_SendData") return HANDLE_SendData_profile(0);
  if (name == "sendDataUIM") return sendDataUIM_profile(0);
  return std::nullopt;
}

Result block_by_name(Platform& os, const char* port_name, const BlockProfile& profile,
                     std::int32_t n, std::uint8_t* frame, std::int32_t m, std::uint8_t* block) {
  if (const Refusal refused = refuse_block(n, frame, m, block, port_name)) return *refused;
  const Prepared prepared = prepare(profile, n, frame, m, block);
  line::ScopedPort port(os, port_name, profile.open_with);
  if (!send_frame(port, profile.frame, frame, wire_length(n))) return kFrameNotSent;
  return after_frame(port.channel(), profile, n, prepared, block);
}

Result senddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name) {
  return block_by_name(os, port_name, senddata_profile(n == 0), n, frame, m, block);
}

Result nSendData(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                 std::uint8_t* block, const char* port_name, std::uint32_t baud,
                 std::uint32_t limit_ms) {
  return block_by_name(os, port_name, nSendData_profile(baud, limit_ms), n, frame, m, block);
}

Result dxSenddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                  std::uint8_t* block, const char* port_name) {
  return block_by_name(os, port_name, dxSenddata_profile(), n, frame, m, block);
}

Result Nsend(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
             std::uint8_t* block, Handle port) {
  return on_held_port(os, port, Nsend_profile(), n, frame, m, block);
}

Result HANDLE_SendData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                       std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms) {
  return on_held_port(os, port, HANDLE_SendData_profile(limit_ms), n, frame, m, block);
}

Result sendDataUIM(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                   std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms) {
  return on_held_port(os, port, sendDataUIM_profile(limit_ms), n, frame, m, block);
}

}  // namespace tarvex::exchange
