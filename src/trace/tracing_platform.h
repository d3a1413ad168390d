// A Platform that records every call it forwards as the simulated bus
// records its own: the same events, polls folded the same way (Recording), so
// the trace printer and the timing diagram serve a real port as they serve
// the simulated one. The tool wraps the OS port in it for --trace, and every
// exported entry point does when the exchange log is on.
//
// A real port does not tell when a character leaves the line. The characters
// of a write are therefore recorded as leaving back to back from the moment
// of the write (or from the end of the characters before them), each taking
// its character time under the line setting in force. A line setting and a
// close are recorded when they return: the backend applies them only once
// the bytes before them have left the line. The first error the port gives
// is recorded where it happened.
//
// A port this wrapper did not see open (a held port, opened by com_init in
// an earlier call) has a setting it does not know until the call sets one:
// until then a write's bytes stay in its Write event (unplaced), and
// a baud the call keeps shows as not known (characters then spaced as at
// 9600 baud).
//
// Recording never throws: when memory runs out it stops, and complete()
// says so; the calls themselves are forwarded whatever happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "line/platform.h"
#include "trace/trace_recording.h"

namespace tarvex::trace {

class TracingPlatform final : public line::Platform {
 public:
  using Clock = std::function<std::uint64_t()>;  // microseconds, never going back

  // `reserve_events`: room for that many events taken now, so that recording
  // does not allocate while the exchange runs (unless it needs more).
  TracingPlatform(line::Platform& inner, Clock clock, std::size_t reserve_events = 0);

  // Microseconds since the call that made the clock, from the system's
  // monotonic clock (log_system.h).
  static Clock monotonic_clock();

  Handle open(const char* name, line::TimeoutSet timeouts) override;
  bool set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  line::ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
  void pause_until_tick(std::uint32_t target) override { inner_.pause_until_tick(target); }
  // A query of what the port knows: not a call on the line, so not traced.
  bool hung_up(Handle port) override { return inner_.hung_up(port); }
  std::uint32_t reply_allowance_ms(Handle port) override { return inner_.reply_allowance_ms(port); }
  std::optional<line::OsError> error() const override { return inner_.error(); }

  const std::vector<TraceEvent>& trace() const { return recording_.events(); }
  // False when recording stopped for want of memory.
  bool complete() const { return complete_; }

 private:
  // What is known of one port's line, kept across its handles.
  struct Line {
    std::string name;              // the port's name; empty for a port not seen open
    std::optional<Parity> parity;  // empty while not known
    StopBits stop_bits = StopBits::One;
    std::optional<std::uint32_t> baud;  // empty while not known
    std::uint64_t free_us = 0;          // when the last character written ends
  };

  Line* line_of(Handle handle);
  Line& named_line(const char* name);
  void place(Handle handle, const std::uint8_t* bytes, std::uint32_t taken, std::uint64_t at_us);
  void note_failure();
  template <class Record>
  void safely(Record&& record) noexcept;

  line::Platform& inner_;
  Clock clock_;
  std::vector<Line> lines_;
  std::vector<std::pair<Handle, std::size_t>> open_;  // handle to its line, while open
  Recording recording_;
  bool tick_follows_poll_ = false;
  bool failure_noted_ = false;
  bool complete_ = true;
};

}  // namespace tarvex::trace
