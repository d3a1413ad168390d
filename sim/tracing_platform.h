// A Platform that records every call it forwards as the simulated bus
// records its own: the same TraceEvent kinds, polls folded the same way, so
// the trace printer and the timing diagram serve a real port as they serve
// the simulated one.
//
// A real port does not tell when a character leaves the line. The characters
// of a write are therefore recorded as leaving back to back from the moment
// of the write (or from the end of the characters before them), each taking
// its character time under the line setting in force. A line setting and a
// close are recorded when they return: the backend applies them only once
// the bytes before them have left the line. The first error the port gives
// is recorded where it happened.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "line/platform.h"
#include "sim/sim_bus.h"

namespace tarvex::sim {

class TracingPlatform final : public line::Platform {
 public:
  using Clock = std::function<std::uint64_t()>;  // microseconds, never going back

  TracingPlatform(line::Platform& inner, Clock clock);

  // Microseconds since the call that made the clock, from the system's
  // monotonic clock.
  static Clock monotonic_clock();

  Handle open(const char* name, line::TimeoutSet timeouts) override;
  void set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  line::ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
  void pause_until_tick(std::uint32_t target) override { inner_.pause_until_tick(target); }
  std::optional<line::OsError> error() const override { return inner_.error(); }

  const std::vector<TraceEvent>& trace() const { return trace_; }
  std::uint64_t now_us() const { return clock_(); }

 private:
  // What is known of one port's line, kept across its handles.
  struct Line {
    LineSetting setting{Parity::None, StopBits::One, line::kDefaultBaud};
    std::uint64_t free_us = 0;  // when the last character written ends
  };

  Line* line_of(Handle handle);
  TraceEvent& record(TraceEvent::Kind kind, Handle handle, std::uint64_t at_us);
  TraceEvent* last_call();
  TraceEvent* foldable(TraceEvent::Kind kind, Handle handle);
  void note_failure();

  line::Platform& inner_;
  Clock clock_;
  std::map<std::string, Line> lines_;
  std::map<Handle, std::string> open_;  // handle to port name, while open
  std::vector<TraceEvent> trace_;
  bool tick_follows_poll_ = false;
  bool failure_noted_ = false;
};

}  // namespace tarvex::sim
