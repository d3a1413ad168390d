// The Linux backend: ports named by a device path, driven through termios,
// kept in the process-wide table of open ports; the tick and its waits on
// CLOCK_MONOTONIC.
#pragma once

#include "line/first_error.h"
#include "line/platform.h"

namespace tarvex::line {

class LinuxPlatform final : public Platform {
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

  // Leaves the kept error in errno for the host.
  void hand_error_to_host() const;

 private:
  FirstError error_;
};

}  // namespace tarvex::line
