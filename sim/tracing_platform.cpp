#include "sim/tracing_platform.h"

#include <algorithm>
#include <chrono>

namespace tarvex::sim {

using Kind = TraceEvent::Kind;

TracingPlatform::TracingPlatform(line::Platform& inner, Clock clock)
    : inner_(inner), clock_(std::move(clock)) {}

TracingPlatform::Clock TracingPlatform::monotonic_clock() {
  const auto start = std::chrono::steady_clock::now();
  return [start] {
    const auto since = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
  };
}

TracingPlatform::Line* TracingPlatform::line_of(Handle handle) {
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : &lines_[it->second];
}

TraceEvent& TracingPlatform::record(Kind kind, Handle handle, std::uint64_t at_us) {
  trace_.push_back(TraceEvent{.kind = kind, .time_us = at_us, .end_us = at_us, .handle = handle});
  return trace_.back();
}

TraceEvent* TracingPlatform::last_call() {
  for (auto it = trace_.rbegin(); it != trace_.rend(); ++it) {
    if (it->kind != Kind::Sent) return &*it;
  }
  return nullptr;
}

TraceEvent* TracingPlatform::foldable(Kind kind, Handle handle) {
  TraceEvent* last = last_call();
  return last != nullptr && last->kind == kind && last->handle == handle ? last : nullptr;
}

// The inner platform keeps the first error it meets; it is recorded once,
// after the event of the call that met it, as the simulated bus records it.
void TracingPlatform::note_failure() {
  if (failure_noted_) return;
  const std::optional<line::OsError> error = inner_.error();
  if (!error) return;
  failure_noted_ = true;
  TraceEvent& event = record(Kind::Failed, line::kInvalidHandle, clock_());
  event.text = error->operation;
  event.count = error->code;
}

Handle TracingPlatform::open(const char* name, line::TimeoutSet timeouts) {
  tick_follows_poll_ = false;
  const std::uint64_t at = clock_();
  const Handle handle = inner_.open(name, timeouts);
  TraceEvent& event = record(Kind::Open, handle, at);
  event.text = name == nullptr ? "" : name;
  event.timeouts = timeouts;
  if (handle != line::kInvalidHandle && name != nullptr) open_[handle] = name;
  note_failure();
  return handle;
}

void TracingPlatform::set_line(Handle handle, const LineSetting& setting) {
  tick_follows_poll_ = false;
  inner_.set_line(handle, setting);
  const std::uint64_t at = clock_();
  note_failure();
  Line* line = line_of(handle);
  if (line == nullptr) return;
  line->setting.parity = setting.parity;
  line->setting.stop_bits = setting.stop_bits;
  if (setting.baud) line->setting.baud = setting.baud;
  record(Kind::SetLine, handle, at).setting = line->setting;
}

std::uint32_t TracingPlatform::write(Handle handle, const std::uint8_t* bytes, std::uint32_t count) {
  tick_follows_poll_ = false;
  const std::uint64_t at = clock_();
  const std::uint32_t taken = inner_.write(handle, bytes, count);
  TraceEvent& event = record(Kind::Write, handle, at);
  event.bytes.assign(bytes, bytes + count);
  event.count = count;
  event.taken = taken;
  note_failure();
  Line* line = line_of(handle);
  if (line == nullptr) return taken;
  const std::uint32_t baud = line->setting.baud.value_or(line::kDefaultBaud);
  const std::uint64_t char_us = character_time_us(line->setting, baud);
  for (std::uint32_t i = 0; i < taken; ++i) {
    const std::uint64_t start = std::max(at, line->free_us);
    line->free_us = start + char_us;
    TraceEvent& sent = record(Kind::Sent, handle, start);
    sent.end_us = line->free_us;
    sent.wire = WireByte{.start_us = start,
                         .end_us = line->free_us,
                         .value = bytes[i],
                         .parity = line->setting.parity,
                         .stop_bits = line->setting.stop_bits,
                         .baud = baud};
  }
  return taken;
}

line::ReadResult TracingPlatform::read_byte(Handle handle, std::uint8_t* destination) {
  tick_follows_poll_ = true;
  const std::uint64_t start = clock_();
  const line::ReadResult got = inner_.read_byte(handle, destination);
  const std::uint64_t end = clock_();
  if (got == line::ReadResult::Byte) {
    record(Kind::Read, handle, end).bytes = {*destination};
  } else if (got == line::ReadResult::HungUp) {
    record(Kind::HungUp, handle, end);
    note_failure();
  } else if (TraceEvent* idle = foldable(Kind::ReadIdle, handle)) {
    ++idle->count;
    idle->end_us = end;
  } else {
    TraceEvent& event = record(Kind::ReadIdle, handle, start);
    event.end_us = end;
    event.count = 1;
  }
  return got;
}

std::optional<std::uint32_t> TracingPlatform::output_queue(Handle handle) {
  tick_follows_poll_ = true;
  const std::uint64_t at = clock_();
  const std::optional<std::uint32_t> queued = inner_.output_queue(handle);
  note_failure();
  if (!queued) return queued;
  TraceEvent* event = foldable(Kind::QueueQuery, handle);
  if (event == nullptr) event = &record(Kind::QueueQuery, handle, at);
  ++event->count;
  event->end_us = clock_();
  event->taken = *queued;
  return queued;
}

void TracingPlatform::purge_input(Handle handle) {
  tick_follows_poll_ = false;
  record(Kind::Purge, handle, clock_());
  inner_.purge_input(handle);
  note_failure();
}

void TracingPlatform::close(Handle handle) {
  tick_follows_poll_ = false;
  inner_.close(handle);
  record(Kind::Close, handle, clock_());
  note_failure();
  open_.erase(handle);
}

std::uint32_t TracingPlatform::tick() {
  const std::uint32_t tick = inner_.tick();
  const std::uint64_t at = clock_();
  const bool own_poll = tick_follows_poll_;
  tick_follows_poll_ = false;
  if (TraceEvent* poll = last_call(); own_poll && poll != nullptr) {
    poll->end_us = at;
  } else if (TraceEvent* spin = foldable(Kind::Spin, line::kInvalidHandle)) {
    ++spin->count;
    spin->end_us = at;
  } else {
    record(Kind::Spin, line::kInvalidHandle, at).count = 1;
  }
  return tick;
}

}  // namespace tarvex::sim
