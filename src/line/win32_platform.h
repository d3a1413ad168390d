// The Win32 backend.
#pragma once

#include <array>
#include <cstdint>

#include "line/first_error.h"
#include "line/line_clock.h"
#include "line/platform.h"
#include "line/win32_sleep.h"

namespace tarvex::line {

class Win32Platform final : public Platform {
 public:
  Handle open(const char* name, TimeoutSet timeouts) override;
  bool set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  bool hung_up(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
  void pause_until_tick(std::uint32_t target) override;
  std::optional<OsError> error() const override { return error_.get(); }

  // Leaves the kept error where GetLastError finds it for the host.
  void hand_error_to_host() const;

 private:
  // What this call knows of a port's line: its clock, on the monotonic
  // clock's microseconds, counted from the bytes this call wrote. A call
  // drives two handles at most (a re-open), so a few records do.
  struct Line {
    Handle port = kInvalidHandle;
    LineClock clock;
  };

  Line& line(Handle port);
  void wait_for_line_free(Handle port);
  void pause_for_queue(Handle port, std::uint32_t queued, std::uint64_t at_most_us);

  FirstError error_;
  std::array<Line, 4> lines_{};
  std::size_t next_line_ = 0;
  Win32Sleep sleep_;
};

}  // namespace tarvex::line
