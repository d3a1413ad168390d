// A Windows COM port through the Win32 serial calls: a synchronous handle
// from CreateFileA, opened exclusively, which the host keeps as its port
// handle (so nothing of the port lives in the library between calls). The
// device for an operation is made from that handle and from what the call
// knows of the port's line (ComPortLines).
#pragma once

#if defined(_WIN32)

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "line/first_error.h"
#include "line/line_clock.h"
#include "line/platform.h"
#include "line/win32_sleep.h"

namespace tarvex::line {

class Win32ComPort {
 public:
  // Opens `name` (COMn as \\.\COMn, anything else as it is) with the timeout
  // set; the system's handle, or kInvalidHandle with its reason kept.
  static Handle open(const char* name, TimeoutSet timeouts, FirstError& error);

  Win32ComPort(Handle handle, LineClock& clock, Win32Sleep& sleep);

  bool set_line(const LineSetting& setting, FirstError& error);
  std::uint32_t write(const std::uint8_t* bytes, std::uint32_t count, FirstError& error);
  ReadResult read_byte(std::uint8_t* destination, FirstError& error);
  std::optional<std::uint32_t> output_queue(FirstError& error);
  void purge_input();
  bool hung_up();
  void close();

 private:
  void wait_for_line_free();
  void pause_for_queue(std::uint32_t queued, std::uint64_t at_most_us);

  void* handle_;
  LineClock& clock_;  // of this call's writes
  Win32Sleep& sleep_;
};

// What one call knows of the COM ports it drives: each one's line clock, on
// the monotonic clock's microseconds, counted from the bytes this call
// wrote. A call drives two handles at most (a re-open), so a few records do.
class ComPortLines {
 public:
  Win32ComPort port(Handle handle);
  void forget(Handle handle);

 private:
  struct Line {
    Handle port = kInvalidHandle;
    LineClock clock;
  };

  std::array<Line, 4> lines_{};
  std::size_t next_ = 0;
  Win32Sleep sleep_;
};

}  // namespace tarvex::line

#endif  // _WIN32
