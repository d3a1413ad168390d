#include "exchange/frame_phase.h"

#include <algorithm>

namespace tarvex::exchange {

bool send_frame(line::Port port, const FramePhase& phase, const std::uint8_t* bytes,
                std::int32_t count) {
  line::busy_wait(port.os, phase.wait_before_setting);
  if (phase.address_setting) line::set_line(port, *phase.address_setting);
  line::busy_wait(port.os, phase.wait_before_address);
  if (phase.whole_frame_with_address) return count == 0 || line::checked_write(port, bytes, count);

  // Never more address bytes than the frame has, so the rest is never negative.
  const std::int32_t address = std::min(phase.address_bytes, count);
  if (count != 0 && !line::checked_write(port, bytes, address)) return false;
  line::busy_wait(port.os, phase.wait_after_address);
  if (phase.data_setting) line::set_line(port, *phase.data_setting);
  line::busy_wait(port.os, phase.wait_before_rest);
  return count == 0 || line::checked_write(port, bytes + address, count - address);
}

FramePhase held_port_frame() {
  return {.address_setting = line::mark(line::kKeepBaud),
          .wait_before_address = 19,
          .wait_after_address = 19,
          .data_setting = line::space(line::kKeepBaud),
          .wait_before_rest = 19};
}

Result reply_result(line::ReplyOutcome outcome) {
  switch (outcome) {
    case line::ReplyOutcome::Incomplete: return kReplyIncomplete;
    case line::ReplyOutcome::WrongChecksum: return kReplyWrong;
    case line::ReplyOutcome::Good: break;
  }
  return kOk;
}

}  // namespace tarvex::exchange
