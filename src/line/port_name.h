// What a port's name says the port is, on every system, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::line {

enum class PortKind : std::uint8_t {
  // rfc2217://HOST:PORT: a port on a network serial server (docs/NETWORK.md).
  Network,
  // COMn, in any case: a Windows COM port. COM1 to COM9 open by their plain
  // names, but above them only the device namespace form works (\\.\COM12),
  // and USB adapters usually land there, so every COMn is opened that way.
  ComPort,
  // Anything else: a device path, handed to the system as it is.
  Path,
};

PortKind port_kind(const char* name);

inline constexpr char kNetworkScheme[] = "rfc2217://";

// The HOST:PORT of a network port's name.
inline const char* network_address(const char* name) { return name + sizeof kNetworkScheme - 1; }

// \\.\COMn for a COM port's name, into `device`.
inline constexpr std::size_t kLongestComDigits = 10;
inline constexpr std::size_t kComDeviceBytes = 4 + 3 + kLongestComDigits + 1;
void com_device_name(const char* name, char (&device)[kComDeviceBytes]);

}  // namespace tarvex::line
