// One Linux serial device driven through termios2: the local ports of the
// Linux backend. MARK and SPACE parity come from CMSPAR; rates without a
// termios constant from BOTHER.
#pragma once

#include <cstdint>
#include <optional>

#include "line/first_error.h"
#include "line/line_clock.h"
#include "line/platform.h"

namespace tarvex::line {

class TermiosDevice {
 public:
  // Opens `name` exclusively in raw binary mode; nothing when it cannot be
  // opened, with the system's reason kept in `error`.
  static std::optional<TermiosDevice> open(const char* name, FirstError& error);

  bool set_line(const LineSetting& setting, FirstError& error);
  std::uint32_t write(const std::uint8_t* bytes, std::uint32_t count, FirstError& error);
  ReadResult read_byte(std::uint8_t* destination, FirstError& error);
  std::optional<std::uint32_t> output_queue(FirstError& error);
  void purge_input();
  bool hung_up() const { return hung_up_; }
  void close();

 private:
  TermiosDevice(int fd, LineClock clock) : fd_(fd), clock_(clock) {}

  bool wait_for_empty_queue(std::uint64_t start_us, std::uint64_t limit_us) const;
  bool wait_for_empty_queue() const;

  int fd_;
  LineClock clock_;  // the setting the driver reports: the character time
  bool hung_up_ = false;  // final: a device that hung up does not come back on this descriptor
};

}  // namespace tarvex::line
