#include "exchange/online_query.h"

#include <optional>

#include "exchange/argument_contract.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::Channel;

inline constexpr std::uint8_t kQueryCode = 0xA0;
inline constexpr std::uint8_t kConfirmationCode = 0xB4;
inline constexpr std::uint8_t kConfirmationAddress = 0x00;
inline constexpr std::int32_t kFrameSize = 4;       // address byte + three, before the checksum
inline constexpr std::int32_t kQueryReplySize = 7;  // r0..r6
inline constexpr std::int32_t kConfirmationReplySize = 5;  // s0..s4

struct Drain {
  std::uint32_t limit;
  Result on_timeout;
};

// One phase: line setting MARK, the address byte alone, SPACE, the other four
// frame bytes in one write, the drain, the checked reply. A wait of 0 is a
// wait the member does not have.
struct PhaseProfile {
  FramePhase frame;
  std::optional<Drain> drain = std::nullopt;
  std::uint32_t wait_before_reply = 0;
  std::uint32_t byte_limit = 0;
  Result not_sent = kFrameNotSent;  // the address byte, or the rest as the frame phase judges it
  ReplyCodes reply_codes = {};
};

struct OnlineProfile {
  PhaseProfile query;
  PhaseProfile confirmation;
};

// A phase's frame: MARK for the address byte, then SPACE; every line setting
// after the first of the call keeps the baud. A wait of 0 is a wait the
// member does not have.
struct PhaseFrame {
  std::uint32_t wait_before_mark = 0;
  std::optional<std::uint32_t> mark_baud = line::kKeepBaud;
  std::uint32_t wait_after_mark = 0;
  std::uint32_t wait_after_address = 0;
  std::uint32_t wait_after_space = 0;
  bool rest_may_be_short = false;  // a short count of the other four bytes goes on
};

constexpr FramePhase phase_frame(const PhaseFrame& f) {
  return {.wait_before_setting = f.wait_before_mark,
          .address_setting = line::mark(f.mark_baud),
          .wait_before_address = f.wait_after_mark,
          .wait_after_address = f.wait_after_address,
          .data_setting = line::space(line::kKeepBaud),
          .wait_before_rest = f.wait_after_space,
          .rest_may_be_short = f.rest_may_be_short};
}

// The second reply's own codes, on both members.
constexpr ReplyCodes kSecondReply{.incomplete = kSecondReplyIncomplete,
                                  .wrong = kSecondReplyWrong};

// The two members side by side.

constexpr OnlineProfile kOnNet{
    .query = {.frame = phase_frame({.mark_baud = line::kDefaultBaud,
                                    .wait_after_address = 9,
                                    .wait_after_space = 9}),
              .drain = Drain{80, kFrameNotSent},
              .byte_limit = 80},
    .confirmation = {.frame = phase_frame({.wait_before_mark = 11,
                                           .wait_after_mark = 16,
                                           .wait_after_address = 16,
                                           .wait_after_space = 16,
                                           .rest_may_be_short = true}),
                     .drain = Drain{1500, kSecondFrameNotDrained},
                     .wait_before_reply = 6,
                     .byte_limit = 100,
                     .not_sent = kSecondFrameNotSent,
                     .reply_codes = kSecondReply},
};

// On a held port every send failure is 2, and the confirmation is read
// straight after its frame, with no drain and no wait.
constexpr OnlineProfile kHandleOnNet{
    .query = {.frame = phase_frame({.wait_after_mark = 21,
                                    .wait_after_address = 6,
                                    .wait_after_space = 11,
                                    .rest_may_be_short = true}),
              .drain = Drain{1000, kFrameNotSent},
              .byte_limit = 100},
    .confirmation = {.frame = phase_frame({.wait_before_mark = 11,
                                           .wait_after_mark = 16,
                                           .wait_after_address = 9,
                                           .wait_after_space = 11,
                                           .rest_may_be_short = true}),
                     .byte_limit = 1000,
                     .not_sent = kFrameNotSent,
                     .reply_codes = kSecondReply},
};

// Sends `frame` (address byte, three bytes, checksum) and reads a checked
// reply of `reply_size` data bytes into `reply`.
Result run_phase(Channel port, const PhaseProfile& phase, const std::uint8_t* frame,
                 std::uint8_t* reply, std::int32_t reply_size) {
  if (!send_frame(port, phase.frame, frame, kFrameSize + 1)) return phase.not_sent;
  if (phase.drain && !line::drain_wait(port, phase.drain->limit)) return phase.drain->on_timeout;
  line::busy_wait(port, phase.wait_before_reply);
  return reply_result(line::checked_reply(port, reply, reply_size, phase.byte_limit),
                      phase.reply_codes);
}

// The shared sequence. Frames and replies live here, in the call's own
// memory; the caller's record is written last, and only on a confirmed echo.
Result query(Channel port, const OnlineProfile& profile, std::uint8_t address, std::uint8_t* record) {
  std::uint8_t query_frame[kFrameSize + 1] = {address, kQueryCode, 0x00, 0x00, 0};
  line::append_checksum(query_frame, kFrameSize);
  std::uint8_t r[kQueryReplySize + 1] = {};
  if (const Result result = run_phase(port, profile.query, query_frame, r, kQueryReplySize);
      result != kOk) {
    return result;
  }

  std::uint8_t confirmation_frame[kFrameSize + 1] = {kConfirmationAddress, kConfirmationCode, r[0],
                                                     r[1], 0};
  line::append_checksum(confirmation_frame, kFrameSize);
  std::uint8_t s[kConfirmationReplySize + 1] = {};
  if (const Result result =
          run_phase(port, profile.confirmation, confirmation_frame, s, kConfirmationReplySize);
      result != kOk) {
    return result;
  }

  // An echo of another address is not a failure: the record stays as the
  // caller had it.
  if (s[1] == address) {
    const std::uint8_t identity[kIdentityRecordSize] = {s[1], s[2], s[3], r[2], r[3], r[4], r[5]};
    for (std::int32_t i = 0; i < kIdentityRecordSize; ++i) record[i] = identity[i];
  }
  return kOk;
}

// The address byte is the low 8 bits of the argument.
constexpr std::uint8_t bus_address(std::int32_t address) {
  return static_cast<std::uint8_t>(address & 0xFF);
}

}  // namespace

Result onNet(Platform& os, std::int32_t address, std::uint8_t* record, const char* port_name) {
  if (const Refusal refused = refuse_query(record, port_name)) return *refused;
  const line::ScopedPort port(os, port_name, line::TimeoutSet::Standard);
  if (!port.opened()) return kFrameNotSent;
  return query(port.channel(), kOnNet, bus_address(address), record);
}

Result HANDLE_OnNet(Platform& os, Handle port, std::int32_t address, std::uint8_t* record) {
  if (const Refusal refused = refuse_query(record)) return *refused;
  return query({os, port}, kHandleOnNet, bus_address(address), record);
}

}  // namespace tarvex::exchange
