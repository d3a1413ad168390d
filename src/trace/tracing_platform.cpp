#include "trace/tracing_platform.h"

#include <algorithm>

#include "line/line_clock.h"
#include "line/monotonic_clock.h"

namespace tarvex::trace {

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
    recording_.reserve(reserve_events);
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

// The inner platform keeps the first error it meets; it is recorded once,
// after the event of the call that met it, as the simulated bus records it.
void TracingPlatform::note_failure() {
  if (failure_noted_) return;
  const std::optional<line::OsError> error = inner_.error();
  if (!error) return;
  failure_noted_ = true;
  safely([&] { recording_.failed(error->operation, error->code, clock_()); });
}

Handle TracingPlatform::open(const char* name, line::TimeoutSet timeouts) {
  tick_follows_poll_ = false;
  const std::uint64_t at = clock_();
  const Handle handle = inner_.open(name, timeouts);
  safely([&] {
    Open& event = recording_.add<Open>(handle, at);
    event.name = name == nullptr ? "" : name;
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
    recording_.add<SetLine>(handle, at).setting = {setting.parity, setting.stop_bits, baud};
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
    const Line* line = line_of(handle);
    recording_.write(handle, at, bytes, count, taken).unplaced = line != nullptr && !line->parity;
  });
  note_failure();
  safely([&] { place(handle, bytes, taken, at); });
  return taken;
}

// The characters a write took, back to back from the moment of the write
// or from the end of those before them, under the line's setting.
void TracingPlatform::place(Handle handle, const std::uint8_t* bytes, std::uint32_t taken,
                            std::uint64_t at) {
  Line* line = line_of(handle);
  if (line == nullptr || !line->parity) return;
  const LineSetting setting{*line->parity, line->stop_bits, line->baud};
  const std::uint64_t char_us = character_time_us(setting, line->baud.value_or(line::kDefaultBaud));
  recording_.make_room(taken);
  for (std::uint32_t i = 0; i < taken; ++i) {
    const std::uint64_t start = std::max(at, line->free_us);
    line->free_us = start + char_us;
    recording_.sent(handle, WireByte{.start_us = start,
                                     .end_us = line->free_us,
                                     .value = bytes[i],
                                     .parity = setting.parity,
                                     .stop_bits = setting.stop_bits,
                                     .baud = line->baud.value_or(0)});
  }
}

line::ReadResult TracingPlatform::read_byte(Handle handle, std::uint8_t* destination) {
  tick_follows_poll_ = true;
  const std::uint64_t start = clock_();
  const line::ReadResult got = inner_.read_byte(handle, destination);
  const std::uint64_t end = clock_();
  safely([&] {
    if (got == line::ReadResult::Byte) {
      recording_.add<Read>(handle, end).byte = *destination;
    } else if (got == line::ReadResult::HungUp) {
      recording_.add<HungUp>(handle, end);
    } else {
      recording_.idle_read(handle, start, end);
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
  safely([&] { recording_.queue_query(handle, at, clock_(), *queued); });
  return queued;
}

void TracingPlatform::purge_input(Handle handle) {
  tick_follows_poll_ = false;
  safely([&] { recording_.add<Purge>(handle, clock_()); });
  inner_.purge_input(handle);
  note_failure();
}

void TracingPlatform::close(Handle handle) {
  tick_follows_poll_ = false;
  inner_.close(handle);
  safely([&] { recording_.add<Close>(handle, clock_()); });
  note_failure();
  std::erase_if(open_, [handle](const auto& entry) { return entry.first == handle; });
}

std::uint32_t TracingPlatform::tick() {
  const std::uint32_t tick = inner_.tick();
  const std::uint64_t at = clock_();
  const bool own_poll = tick_follows_poll_;
  tick_follows_poll_ = false;
  safely([&] { recording_.tick(at, own_poll); });
  return tick;
}

}  // namespace tarvex::trace
