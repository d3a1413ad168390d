#include "line/primitives.h"

#include "line/result.h"

namespace tarvex::line {

Handle open_by_name(Platform& os, const char* name, TimeoutSet timeouts) {
  return os.open(name, timeouts);
}

bool set_line(Channel port, const LineSetting& setting) {
  return port.os.set_line(port.handle, setting);
}

bool checked_write(Channel port, const std::uint8_t* bytes, std::int32_t count) {
  const auto wanted = static_cast<std::uint32_t>(count);
  return port.os.write(port.handle, bytes, wanted) == wanted;
}

bool lenient_write(Channel port, const std::uint8_t* bytes, std::int32_t count) {
  return port.os.write(port.handle, bytes, static_cast<std::uint32_t>(count)) != 0;
}

void busy_wait(Platform& os, std::uint32_t ms) {
  if (ms == 0) return;
  // The end is fixed by the start's reading alone, so a late wake-up in one
  // wait never takes time from the next.
  const std::uint32_t start = os.tick();
  while (elapsed(start, os.tick()) <= ms - 1) os.pause_until_tick(start + ms);
}

void busy_wait(Channel port, std::uint32_t ms) {
  if (ms != 0 && !port.os.hung_up(port.handle)) busy_wait(port.os, ms);
}

bool drain_wait(Channel port, std::uint32_t limit) {
  const std::uint32_t start = port.os.tick();
  for (;;) {
    const std::optional<std::uint32_t> queued = port.os.output_queue(port.handle);
    const std::uint32_t now = port.os.tick();
    if (!queued) return false;  // the port never opened: nothing will ever drain
    const bool in_time = elapsed(start, now) <= limit;
    if (*queued == 0 || !in_time) return in_time;
  }
}

bool timed_byte_read(Channel port, std::uint8_t* destination, std::uint32_t line_limit) {
  // A byte from a port across a network comes a round trip later than from
  // the line itself. A limit of nearly all 32 bits stays where it is rather
  // than wrap to a short one.
  const std::uint32_t allowance = port.os.reply_allowance_ms(port.handle);
  const std::uint32_t limit =
      line_limit > 0xFFFFFFFFu - allowance ? 0xFFFFFFFFu : line_limit + allowance;
  const std::uint32_t start = port.os.tick();
  for (;;) {
    const ReadResult got = port.os.read_byte(port.handle, destination);
    // A port that has hung up will deliver nothing more: waiting out the
    // limit would only spin.
    if (got == ReadResult::HungUp) return false;
    const std::uint32_t now = port.os.tick();
    const bool in_time = elapsed(start, now) <= limit;
    if (got == ReadResult::Byte || !in_time) return got == ReadResult::Byte && in_time;
  }
}

ReplyOutcome raw_reply(Channel port, std::uint8_t* reply, std::int32_t count, std::uint32_t limit) {
  for (std::int32_t index = 0; index < count; ++index) {
    if (!timed_byte_read(port, &reply[index], limit)) return ReplyOutcome::Incomplete;
  }
  return ReplyOutcome::Good;
}

void send_acknowledgement(Channel port) {
  const std::uint8_t ack[2] = {kAck0, kAck1};
  port.os.write(port.handle, ack, 2);
}

ReplyOutcome await_acknowledgement(Channel port, std::uint32_t limit, AckCheck check) {
  std::uint8_t ack[2] = {0, 0};
  for (std::uint8_t& byte : ack) {
    if (!timed_byte_read(port, &byte, limit)) return ReplyOutcome::Incomplete;
  }
  const bool accepted = ack[0] == kAck0 && (check == AckCheck::FirstByteOnly || ack[1] == kAck1);
  return accepted ? ReplyOutcome::Good : ReplyOutcome::WrongChecksum;
}

std::uint8_t additive_checksum(const std::uint8_t* bytes, std::int32_t count) {
  std::uint8_t sum = 0;
  for (std::int32_t index = 0; index < count; ++index) {
    sum = static_cast<std::uint8_t>(sum + bytes[index]);
  }
  return sum;
}

void append_checksum(std::uint8_t* bytes, std::int32_t count) {
  bytes[count] = additive_checksum(bytes, count);
}

void discard_input(Channel port) { port.os.purge_input(port.handle); }

void release(Channel port) {
  discard_input(port);
  port.os.close(port.handle);
}

Handle reopen(Platform& os, const char* name, Handle handle) {
  release({os, handle});
  return open_by_name(os, name, TimeoutSet::Reopen);
}

}  // namespace tarvex::line
