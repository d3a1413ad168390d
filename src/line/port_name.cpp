#include "line/port_name.h"

#include <algorithm>
#include <cstring>

namespace tarvex::line {
namespace {

bool is_com_name(const char* name) {
  for (std::size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return false;  // either case; stops at a NUL
  }
  const std::size_t digits = std::strlen(name + 3);
  if (digits == 0 || digits > kLongestComDigits) return false;
  return std::all_of(name + 3, name + 3 + digits, [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

PortKind port_kind(const char* name) {
  if (name == nullptr) return PortKind::Path;
  if (std::strncmp(name, kNetworkScheme, sizeof kNetworkScheme - 1) == 0) return PortKind::Network;
  return is_com_name(name) ? PortKind::ComPort : PortKind::Path;
}

void com_device_name(const char* name, char (&device)[kComDeviceBytes]) {
  std::memcpy(device, "\\\\.\\", 4);
  const std::size_t length = std::min(std::strlen(name), kComDeviceBytes - 5);
  std::memcpy(device + 4, name, length);
  device[4 + length] = '\0';
}

}  // namespace tarvex::line
