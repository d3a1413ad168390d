// The operating system's platform, one for both systems. A port's name says
// what kind of device it is (port_name.h): a network port on either system,
// a termios device on Linux, a COM port on Windows; every operation on a
// handle goes to the device it names (device.h). Each exported entry point
// builds one of these on its stack for its one call.
#pragma once

#include <cstdint>
#include <optional>

#include "line/first_error.h"
#include "line/platform.h"
#if defined(_WIN32)
#include "line/win32_com_port.h"
#endif

namespace tarvex::line {

class OsPlatform final : public Platform {
 public:
  Handle open(const char* name, TimeoutSet timeouts) override;
  bool set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  bool hung_up(Handle port) override;
  std::uint32_t reply_allowance_ms(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
  void pause_until_tick(std::uint32_t target) override;
  std::optional<OsError> error() const override { return error_.get(); }

  // Leaves the kept error where the host reads it: errno, or GetLastError.
  void hand_error_to_host() const;

 private:
  template <class Port>
  Handle open_in_table(const char* name);
  template <class Run, class Result>
  Result on_device(Handle port, Run&& run, Result unknown);

  FirstError error_;
#if defined(_WIN32)
  ComPortLines com_ports_;
#endif
};

}  // namespace tarvex::line
