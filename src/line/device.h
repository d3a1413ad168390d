// What every kind of real port is to the line layer: a device with the
// port's operations of platform.h, each keeping the system's error of a
// call that failed in the FirstError it is given.
//
//   TermiosDevice   a Linux serial device (termios_device.*)
//   Rfc2217Device   a port on a network serial server, both systems
//                   (rfc2217_device.*)
//   Win32ComPort    a Windows COM port (win32_com_port.*)
//
// The OS platform (os_platform.*) opens the kind a port's name says
// (port_name.h) and hands each operation on a handle to its device. What
// differs between systems is which kinds there are and where a device lives
// between calls: in the process-wide table of open ports (port_table.h),
// or, for a Windows COM port, behind the handle the host holds. The
// simulated bus (sim/sim_bus.h) is a platform of its own: its clock, trace
// and faults are the bus's, counted per call across its ports and its tick.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

#include "line/first_error.h"
#include "line/platform.h"

namespace tarvex::line {

template <class Port>
concept Device = requires(Port& port, const LineSetting& setting, const std::uint8_t* bytes,
                          std::uint32_t count, std::uint8_t* destination, FirstError& error) {
  { port.set_line(setting, error) } -> std::same_as<bool>;
  { port.write(bytes, count, error) } -> std::same_as<std::uint32_t>;
  { port.read_byte(destination, error) } -> std::same_as<ReadResult>;
  { port.output_queue(error) } -> std::same_as<std::optional<std::uint32_t>>;
  { port.purge_input() } -> std::same_as<void>;
  { port.hung_up() } -> std::same_as<bool>;
  { port.close() } -> std::same_as<void>;
};

}  // namespace tarvex::line
