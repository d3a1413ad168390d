// The Win32 backend.
#pragma once

#include <array>
#include <cstdint>

#include "line/first_error.h"
#include "line/platform.h"

namespace tarvex::line {

class Win32Platform final : public Platform {
 public:
  Handle open(const char* name, TimeoutSet timeouts) override;
  void set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
  void pause_until_tick(std::uint32_t target) override;
  std::optional<OsError> error() const override { return error_.get(); }

  // Leaves the kept error where GetLastError finds it for the host.
  void hand_error_to_host() const;

 private:
  // What this call knows of a port's line: when the bytes it wrote last are
  // due to have left it, and how long one character takes there. A call
  // drives two handles at most (a re-open), so a few records do.
  struct LineTime {
    Handle port = kInvalidHandle;
    std::uint64_t free_us = 0;
    std::uint64_t character_us = 0;
  };

  LineTime& line_time(Handle port);
  void wait_for_line_free(Handle port);

  FirstError error_;
  std::array<LineTime, 4> lines_{};
  std::size_t next_line_ = 0;
};

}  // namespace tarvex::line
