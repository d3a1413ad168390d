// The narrow interface between the line primitives and an operating system.
//
// Every exchange drives its port only through the primitives (primitives.h),
// and the primitives only through this interface. A backend implements it for
// Win32, for Linux, or for the simulated bus. An object of it is built for
// one call of an entry point and keeps only what that call needs (the OS's
// error, the line time of the bytes last written); ports that outlive a call
// are the operating system's, or the backend's table of open ports.
#pragma once

#include <cstdint>
#include <optional>

#if defined(_WIN32)
#include <winerror.h>
#else
#include <cerrno>
#endif

namespace tarvex::line {

// A port handle as the host sees it: 32 bits, opaque. The all-ones value is
// what a failed open yields; nothing is ever called on it.
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

// The error kept for a line setting that the port accepted and then did not
// apply as asked (a driver without mark/space parity runs odd/even instead):
// no system call failed, so the library names it (include/tarvex.h).
#if defined(_WIN32)
inline constexpr std::uint32_t kSettingNotTaken = ERROR_NOT_SUPPORTED;
#else
inline constexpr std::uint32_t kSettingNotTaken = EOPNOTSUPP;
#endif

// What one read of at most one byte found. A port that has hung up (the
// device is gone, the far end closed) stays so: nothing will come any more.
enum class ReadResult : std::uint8_t { Nothing, Byte, HungUp };

// The operating system's own error of a call that failed: which operation,
// and the code the system gave (errno on Linux, GetLastError on Windows).
struct OsError {
  const char* operation;  // "open", "line setting", "write", "read", "output queue", "port"
  std::uint32_t code;

  friend bool operator==(const OsError&, const OsError&) = default;
};

class Platform {
 public:
  // Opens the named port exclusively and applies the timeout set; yields
  // kInvalidHandle when the port cannot be opened.
  virtual Handle open(const char* name, TimeoutSet timeouts) = 0;

  // Applies a line setting once the bytes already written have left the
  // line, so that none of them goes out under a setting it was not written
  // under. True when the port took it: the driver's read-back (or the
  // network server's answer) carries the parity, stop bits, byte size and
  // baud asked for. A setting the port refused keeps the refusing call's
  // error; one it changed on its way keeps kSettingNotTaken.
  virtual bool set_line(Handle port, const LineSetting& setting) = 0;

  // One synchronous write of `count` bytes; reports how many were taken
  // (0 when the call failed).
  virtual std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) = 0;

  // One read of at most one byte, bounded to 15 ms by the timeout set. A
  // port that has hung up answers at once.
  virtual ReadResult read_byte(Handle port, std::uint8_t* destination) = 0;

  // The number of bytes still waiting to go out, or nothing when the query
  // failed (a port that is gone). It is asked for by a wait for the queue
  // to empty, so a backend may pause before it answers for a queue that is
  // not empty (for no longer than a read's poll), and then gives the count as
  // it is after the pause.
  virtual std::optional<std::uint32_t> output_queue(Handle port) = 0;

  // Discards unread input.
  virtual void purge_input(Handle port) = 0;

  // Whether the port is known to have hung up: nothing will go out or come
  // in on it any more, so a wait on it would only delay the failure. What
  // the backend already knows, or what the system answers at once; it keeps
  // no error (an unknown handle is the next operation's to report).
  virtual bool hung_up(Handle port) = 0;

  // How much longer than its line's limit a reply may take to reach this
  // host, in milliseconds: a network port's measured round trip (the frame
  // goes out and the reply comes back across it); 0 for a local port. A
  // query, as hung_up() is.
  virtual std::uint32_t reply_allowance_ms(Handle port) = 0;

  // Closes the port once the bytes already written have left the line.
  virtual void close(Handle port) = 0;

  // The 32-bit millisecond tick counter; it wraps.
  virtual std::uint32_t tick() = 0;

  // Called by a busy wait between two readings of the tick while `target`
  // has not been reached: a backend with a finer clock sleeps until the
  // instant the tick turns to `target`, one without gives the processor away
  // for a moment, the simulated bus does nothing (each reading moves its
  // clock). It may return early; the busy wait reads the tick again.
  virtual void pause_until_tick(std::uint32_t target) = 0;

  // The error of the first operating-system call that failed since this
  // object was made, kept for the host: later clean-up calls do not replace
  // it.
  virtual std::optional<OsError> error() const = 0;

  virtual ~Platform() = default;
};

}  // namespace tarvex::line
