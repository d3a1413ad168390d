#include "exchange/frame_phase.h"

#include <algorithm>

namespace tarvex::exchange {

namespace {

// The address phase goes on `first`; `named` is the port to re-open when the
// phase switches that way, null for a held port.
bool send(line::Channel first, line::ScopedPort* named, const FramePhase& phase,
          const std::uint8_t* bytes, std::int32_t count) {
  line::busy_wait(first, phase.wait_before_setting);
  if (phase.address_setting && !line::set_line(first, *phase.address_setting)) return false;
  line::busy_wait(first, phase.wait_before_address);
  if (phase.whole_frame_with_address) return count == 0 || line::checked_write(first, bytes, count);

  // Never more address bytes than the frame has, so the rest is never negative.
  const std::int32_t address = std::min(phase.address_bytes, count);
  if (count != 0 && !line::checked_write(first, bytes, address)) return false;
  line::busy_wait(first, phase.wait_after_address);
  if (phase.reopen_after_address && (named == nullptr || !named->reopen())) return false;
  const line::Channel data = named != nullptr ? named->channel() : first;
  if (phase.data_setting && !line::set_line(data, *phase.data_setting)) return false;
  line::busy_wait(data, phase.wait_before_rest);
  if (count == 0) return true;
  return phase.rest_may_be_short ? line::lenient_write(data, bytes + address, count - address)
                                 : line::checked_write(data, bytes + address, count - address);
}

}  // namespace

bool send_frame(line::ScopedPort& port, const FramePhase& phase, const std::uint8_t* bytes,
                std::int32_t count) {
  return port.opened() && send(port.channel(), &port, phase, bytes, count);
}

bool send_frame(line::Channel port, const FramePhase& phase, const std::uint8_t* bytes,
                std::int32_t count) {
  return send(port, nullptr, phase, bytes, count);
}

FramePhase held_port_frame() {
  return {.address_setting = line::mark(line::kKeepBaud),
          .wait_before_address = 19,
          .wait_after_address = 19,
          .data_setting = line::space(line::kKeepBaud),
          .wait_before_rest = 19};
}

FramePhase reopening_frame(line::LineSetting data) {
  return {.address_setting = line::mark(), .reopen_after_address = true, .data_setting = data};
}

Result reply_result(line::ReplyOutcome outcome, ReplyCodes codes) {
  switch (outcome) {
    case line::ReplyOutcome::Incomplete: return codes.incomplete;
    case line::ReplyOutcome::WrongChecksum: return codes.wrong;
    case line::ReplyOutcome::Good: break;
  }
  return kOk;
}

}  // namespace tarvex::exchange
