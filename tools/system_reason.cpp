#include "tools/system_reason.h"

#include <cerrno>
#include <cstring>

#include "line/os_error_text.h"

namespace tarvex::tool {
namespace {

// What usually lies behind an error, per system: the codes differ.
// A port on a network serial server (rfc2217://HOST:PORT) fails its own
// way: the codes it keeps say other things than a device's; its hints come
// first.
struct Hint {
  std::uint32_t code;
  const char* text;
  bool network = false;  // for a port on a network serial server only
};

constexpr char kNoSuchHost[] = "the host name does not resolve; check it, or give the address";
constexpr char kBadNetworkName[] = "write it as rfc2217://HOST:PORT, with PORT from 1 to 65535";

#if defined(_WIN32)
constexpr Hint kHints[] = {
    {11001, kNoSuchHost, true},      // WSAHOST_NOT_FOUND
    {10022, kBadNetworkName, true},  // WSAEINVAL
    {2, "no such port; see the Device Manager's Ports list"},      // ERROR_FILE_NOT_FOUND
    {5, "another program holds the port"},                         // ERROR_ACCESS_DENIED
    {31, "the device has gone; is the adapter still plugged in?"},  // ERROR_GEN_FAILURE
    {1167, "the device has gone; is the adapter still plugged in?"},  // ERROR_DEVICE_NOT_CONNECTED
    {10061, "no serial server listens there"},                     // WSAECONNREFUSED
};
#else
constexpr Hint kHints[] = {
    {ENXIO, kNoSuchHost, true},
    {EINVAL, kBadNetworkName, true},
    {ENOENT, "no such port; ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* lists them"},
    {EACCES, "is the user in the dialout group?"},
    {EBUSY, "another program holds the port"},
    {ENOTTY, "not a serial port"},
    {EIO, "the device has gone; is the adapter still plugged in?"},
    {ECONNREFUSED, "no serial server listens there"},
};
#endif

// A line setting the port did not take, whether its driver refused it or
// ran another parity instead: the system's word says little, the driver is
// what to change.
constexpr char kSettingHint[] =
    "the port's driver does not apply mark/space parity (or this baud); use an adapter whose driver "
    "does (FIELD.md lists the families)";

}  // namespace

std::string system_reason(const line::OsError& error, const std::string& port) {
  std::string reason = std::string(error.operation) + " " + port + ": " + line::os_error_text(error.code);
  if (std::strcmp(error.operation, "line setting") == 0) return reason + "; " + kSettingHint;
  const bool network = port.starts_with("rfc2217://");
  for (const Hint& hint : kHints) {
    if (hint.code == error.code && (network || !hint.network)) return reason + "; " + hint.text;
  }
  return reason;
}

}  // namespace tarvex::tool
