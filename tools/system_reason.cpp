#include "tools/system_reason.h"

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

#if defined(_WIN32)
constexpr Hint kHints[] = {
    {2, "no such port; see the Device Manager's Ports list"},      // ERROR_FILE_NOT_FOUND
    {5, "another program holds the port"},                         // ERROR_ACCESS_DENIED
    {31, "the device has gone; is the adapter still plugged in?"},  // ERROR_GEN_FAILURE
    {1167, "the device has gone; is the adapter still plugged in?"},  // ERROR_DEVICE_NOT_CONNECTED
    {10061, "no serial server listens there"},                     // WSAECONNREFUSED
};
#else
constexpr Hint kHints[] = {
    {ENOENT, "no such port; ls /dev/ttyUSB* /dev/ttyS* lists them"},
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
  for (const Hint& hint : kHints) {
    if (hint.code == error.code) return reason + "; " + hint.text;
  }
  return reason;
}

}  // namespace tarvex::tool
