// The narrow interface between the line primitives and an operating system.
//
// Every exchange drives its port only through the primitives (primitives.h),
// and the primitives only through this interface. A backend implements it for
// Win32, for termios, or for the simulated bus; it holds no state of its own
// beyond what the operating system keeps, so an object of it can be built on
// the stack for each call.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvex::line {

// A port handle as the host sees it: 32 bits, opaque. The all-ones value is
// what a failed open yields; it is never tested by the exchanges, every call
// on it simply fails.
using Handle = std::uint32_t;
inline constexpr Handle kInvalidHandle = 0xFFFFFFFFu;

// Parity values as the Win32 DCB numbers them.
enum class Parity : std::uint8_t { None = 0, Mark = 3, Space = 4 };

// Stop bits as the Win32 DCB numbers them.
enum class StopBits : std::uint8_t { One = 0, Two = 2 };

// The two sets of read and write timeouts a port is opened with. Either set
// bounds a one-byte read to 15 ms and a write of k bytes to 5 * k + 10 ms;
// they differ only in the read interval timeout (65535 for the standard set,
// 0 for the re-open set).
enum class TimeoutSet : std::uint8_t { Standard, Reopen };

// A line setting: always 8 data bits with the parity flag set. An empty baud
// keeps the rate the port has.
struct LineSetting {
  Parity parity;
  StopBits stop_bits;
  std::optional<std::uint32_t> baud;

  friend bool operator==(const LineSetting&, const LineSetting&) = default;
};

inline constexpr std::uint32_t kDefaultBaud = 9600;

class Platform {
 public:
  // Opens the named port exclusively and applies the timeout set; yields
  // kInvalidHandle when the port cannot be opened.
  virtual Handle open(const char* name, TimeoutSet timeouts) = 0;

  // Applies a line setting; a setting the device rejects is not reported.
  virtual void set_line(Handle port, const LineSetting& setting) = 0;

  // One synchronous write of `count` bytes; reports how many were taken
  // (0 when the call failed).
  virtual std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) = 0;

  // One read of at most one byte, bounded to 15 ms by the timeout set;
  // reports 0 or 1.
  virtual std::uint32_t read_byte(Handle port, std::uint8_t* destination) = 0;

  // The number of bytes still waiting to go out, or nothing when the query
  // failed (a port that never opened). It is asked for by a wait for the queue
  // to empty, so a backend may pause before it answers for a queue that is
  // not empty (for no longer than a read's poll), and then gives the count as
  // it is after the pause.
  virtual std::optional<std::uint32_t> output_queue(Handle port) = 0;

  // Discards unread input.
  virtual void purge_input(Handle port) = 0;

  virtual void close(Handle port) = 0;

  // The 32-bit millisecond tick counter; it wraps.
  virtual std::uint32_t tick() = 0;

 virtual ~Platform() = default;
};

}  // namespace tarvex::line
