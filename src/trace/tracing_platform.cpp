#include "trace/tracing_platform.h"

#include <algorithm>
#include <cstring>

#include "line/line_clock.h"
#include "line/monotonic_clock.h"

namespace tarvex::trace {

using Kind = TraceEvent::Kind;

std::uint64_t character_time_us(const LineSetting& setting, std::uint32_t baud) {
  return line::character_us(setting.parity, setting.stop_bits, baud);
}

TracingPlatform::Clock TracingPlatform::monotonic_clock() {
  const std::uint64_t start = line::monotonic_us();
  return [start] { return line::monotonic_us() - start; };
}

TracingPlatform::TracingPlatform(line::Platform& inner, Clock clock, std::size_t reserve_events)
    : inner_(inner), clock_(std::move(clock)) {
  safely([&] {
    trace_.reserve(reserve_events);
    lines_.reserve(2);
    open_.reserve(2);
  });
}

// Every recording step goes through here: a step that runs out of memory
// ends the recording, never the exchange.
template <class Record>
void TracingPlatform::safely(Record&& record) noexcept {
  if (!complete_) return;
  try {
    record();
  } catch (...) {
    complete_ = false;
  }
}

TracingPlatform::Line& TracingPlatform::named_line(const char* name) {
  for (Line& line : lines_) {
    if (!line.name.empty() && line.name == name) return line;
  }
  lines_.push_back(Line{.name = name, .parity = Parity::None, .baud = line::kDefaultBaud});
  return lines_.back();
}

// A handle not seen open gets a line of its own, whose setting is not known.
TracingPlatform::Line* TracingPlatform::line_of(Handle handle) {
  if (handle == line::kInvalidHandle) return nullptr;
  for (const auto& [open_handle, index] : open_) {
    if (open_handle == handle) return &lines_[index];
  }
  lines_.push_back(Line{});
  open_.emplace_back(handle, lines_.size() - 1);
  return &lines_.back();
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
  safely([&] {
    TraceEvent& event = record(Kind::Failed, line::kInvalidHandle, clock_());
    event.text = error->operation;
    event.count = error->code;
  });
}

Handle TracingPlatform::open(const char* name, line::TimeoutSet timeouts) {
  tick_follows_poll_ = false;
  const std::uint64_t at = clock_();
  const Handle handle = inner_.open(name, timeouts);
  safely([&] {
    TraceEvent& event = record(Kind::Open, handle, at);
    event.text = name == nullptr ? "" : name;
    event.timeouts = timeouts;
    if (handle == line::kInvalidHandle || name == nullptr) return;
    const std::size_t index = static_cast<std::size_t>(&named_line(name) - lines_.data());
    std::erase_if(open_, [handle](const auto& entry) { return entry.first == handle; });
    open_.emplace_back(handle, index);
  });
  note_failure();
  return handle;
}

// A setting the port did not take shows as asked for, followed by the
// failure; what the port then runs is not known.
bool TracingPlatform::set_line(Handle handle, const LineSetting& setting) {
  tick_follows_poll_ = false;
  const bool taken = inner_.set_line(handle, setting);
  const std::uint64_t at = clock_();
  safely([&] {
    Line* line = line_of(handle);
    if (line == nullptr) return;
    const std::optional<std::uint32_t> baud = setting.baud ? setting.baud : line->baud;
    record(Kind::SetLine, handle, at).setting = {setting.parity, setting.stop_bits, baud};
    line->parity = taken ? std::optional<Parity>(setting.parity) : std::nullopt;
    line->stop_bits = setting.stop_bits;
    line->baud = baud;
  });
  note_failure();
  return taken;
}

std::uint32_t TracingPlatform::write(Handle handle, const std::uint8_t* bytes,
                                     std::uint32_t count) {
  tick_follows_poll_ = false;
  const std::uint64_t at = clock_();
  const std::uint32_t taken = inner_.write(handle, bytes, count);
  safely([&] {
    TraceEvent& event = record(Kind::Write, handle, at);
    event.bytes.assign(bytes, bytes + count);
    event.count = count;
    event.taken = taken;
  });
  note_failure();
  safely([&] {
    Line* line = line_of(handle);
    if (line == nullptr) return;
    if (!line->parity) {
      // Where the write's event is (a failure may have been noted after it).
      for (auto it = trace_.rbegin(); it != trace_.rend(); ++it) {
        if (it->kind == Kind::Write) {
          it->placed = false;
          break;
        }
      }
      return;
    }
    const LineSetting setting{*line->parity, line->stop_bits, line->baud};
    const std::uint64_t char_us = line::LineClock(setting).character_us();
    // A long block: room for its characters at once, not in doublings.
    if (trace_.capacity() - trace_.size() < taken) trace_.reserve(trace_.size() + taken + 32);
    for (std::uint32_t i = 0; i < taken; ++i) {
      const std::uint64_t start = std::max(at, line->free_us);
      line->free_us = start + char_us;
      TraceEvent& sent = record(Kind::Sent, handle, start);
      sent.end_us = line->free_us;
      sent.wire = WireByte{.start_us = start,
                           .end_us = line->free_us,
                           .value = bytes[i],
                           .parity = setting.parity,
                           .stop_bits = setting.stop_bits,
                           .baud = line->baud.value_or(0)};
    }
  });
  return taken;
}

line::ReadResult TracingPlatform::read_byte(Handle handle, std::uint8_t* destination) {
  tick_follows_poll_ = true;
  const std::uint64_t start = clock_();
  const line::ReadResult got = inner_.read_byte(handle, destination);
  const std::uint64_t end = clock_();
  safely([&] {
    if (got == line::ReadResult::Byte) {
      record(Kind::Read, handle, end).bytes = {*destination};
    } else if (got == line::ReadResult::HungUp) {
      record(Kind::HungUp, handle, end);
    } else if (TraceEvent* idle = foldable(Kind::ReadIdle, handle)) {
      ++idle->count;
      idle->end_us = end;
    } else {
      TraceEvent& event = record(Kind::ReadIdle, handle, start);
      event.end_us = end;
      event.count = 1;
    }
  });
  if (got == line::ReadResult::HungUp) note_failure();
  return got;
}

std::optional<std::uint32_t> TracingPlatform::output_queue(Handle handle) {
  tick_follows_poll_ = true;
  const std::uint64_t at = clock_();
  const std::optional<std::uint32_t> queued = inner_.output_queue(handle);
  note_failure();
  if (!queued) return queued;
  safely([&] {
    TraceEvent* event = foldable(Kind::QueueQuery, handle);
    if (event == nullptr) event = &record(Kind::QueueQuery, handle, at);
    ++event->count;
    event->end_us = clock_();
    event->taken = *queued;
  });
  return queued;
}

void TracingPlatform::purge_input(Handle handle) {
  tick_follows_poll_ = false;
  safely([&] { record(Kind::Purge, handle, clock_()); });
  inner_.purge_input(handle);
  note_failure();
}

void TracingPlatform::close(Handle handle) {
  tick_follows_poll_ = false;
  inner_.close(handle);
  safely([&] { record(Kind::Close, handle, clock_()); });
  note_failure();
  std::erase_if(open_, [handle](const auto& entry) { return entry.first == handle; });
}

std::uint32_t TracingPlatform::tick() {
  const std::uint32_t tick = inner_.tick();
  const std::uint64_t at = clock_();
  const bool own_poll = tick_follows_poll_;
  tick_follows_poll_ = false;
  safely([&] {
    if (TraceEvent* poll = last_call(); own_poll && poll != nullptr) {
      poll->end_us = at;
    } else if (TraceEvent* spin = foldable(Kind::Spin, line::kInvalidHandle)) {
      ++spin->count;
      spin->end_us = at;
    } else {
      record(Kind::Spin, line::kInvalidHandle, at).count = 1;
    }
  });
  return tick;
}

}  // namespace tarvex::trace
