#include "tools/system_reason.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "line/os_error_text.h"

namespace tarvex::tool {
namespace {

// What usually lies behind an error, per system: the codes differ.
struct Hint {
  std::uint32_t code;
  const char* text;
};

// A port on a network serial server (rfc2217://HOST:PORT) fails its own
// way: the codes it keeps say other things than a device's.
constexpr char kNoSuchHost[] = "the host name does not resolve; check it, or give the address";
constexpr char kBadNetworkName[] = "write it as rfc2217://HOST:PORT, with PORT from 1 to 65535";

#if defined(_WIN32)
constexpr Hint kHints[] = {
    {2, "no such port; see the Device Manager's Ports list"},      // ERROR_FILE_NOT_FOUND
    {5, "another program holds the port"},                         // ERROR_ACCESS_DENIED
    {31, "the device has gone; is the adapter still plugged in?"},  // ERROR_GEN_FAILURE
    {1167, "the device has gone; is the adapter still plugged in?"},  // ERROR_DEVICE_NOT_CONNECTED
    {10061, "no serial server listens there"},                     // WSAECONNREFUSED
};
constexpr std::array kNetworkHints{
    Hint{11001, kNoSuchHost},  // WSAHOST_NOT_FOUND
    Hint{10022, kBadNetworkName},  // WSAEINVAL
};
#else
constexpr Hint kHints[] = {
    {ENOENT, "no such port; ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* lists them"},
    {EACCES, "is the user in the dialout group?"},
    {EBUSY, "another program holds the port"},
    {ENOTTY, "not a serial port"},
    {EIO, "the device has gone; is the adapter still plugged in?"},
    {ECONNREFUSED, "no serial server listens there"},
};
constexpr std::array kNetworkHints{Hint{ENXIO, kNoSuchHost}, Hint{EINVAL, kBadNetworkName}};
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
  for (const Hint& hint : kNetworkHints) {
    if (hint.code == error.code && port.starts_with("rfc2217://")) return reason + "; " + hint.text;
  }
  for (const Hint& hint : kHints) {
    if (hint.code == error.code) return reason + "; " + hint.text;
  }
  return reason;
}

}  // namespace tarvex::tool
