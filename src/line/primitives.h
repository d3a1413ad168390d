// The serial line primitives every exchange is composed of. They are written
// once, on top of the Platform interface, so their timing rules (busy waits,
// drain waits, per-byte limits, the unsigned wrap of the tick) are the same on
// every backend.
#pragma once

#include <cstdint>
#include <limits>

#include "line/platform.h"

namespace tarvex::line {

// Milliseconds between two tick readings, unsigned 32-bit, so a limit that
// spans the wrap of the counter is measured correctly.
constexpr std::uint32_t elapsed(std::uint32_t start, std::uint32_t now) { return now - start; }

// What an exchange drives a port through: the platform and one open handle.
struct Channel {
  Platform& os;
  Handle handle;
};

// The three line settings the exchanges name.
constexpr LineSetting mark(std::optional<std::uint32_t> baud = kDefaultBaud) {
  return {Parity::Mark, StopBits::One, baud};
}
constexpr LineSetting space(std::optional<std::uint32_t> baud = kDefaultBaud,
                            StopBits stop_bits = StopBits::One) {
  return {Parity::Space, stop_bits, baud};
}
constexpr LineSetting no_parity(std::optional<std::uint32_t> baud) {
  return {Parity::None, StopBits::One, baud};
}
inline constexpr std::optional<std::uint32_t> kKeepBaud = std::nullopt;

// Opens the port and applies the timeout set; kInvalidHandle when it failed.
Handle open_by_name(Platform& os, const char* name, TimeoutSet timeouts);

// Applies parity, stop bits and baud (8 data bits, parity flag set); false
// when the port did not take the setting: nothing may then be written under
// it, and the exchange ends as for a frame not sent.
[[nodiscard]] bool set_line(Channel port, const LineSetting& setting);

// One write of `count` bytes; true when all of them were taken.
bool checked_write(Channel port, const std::uint8_t* bytes, std::int32_t count);

// One write of `count` bytes that fails only when it takes no byte at all: a
// short count goes on, and the bytes that were not taken are not sent again.
bool lenient_write(Channel port, const std::uint8_t* bytes, std::int32_t count);

// Returns once the tick has turned at least `ms` times since the call, never
// earlier; in between the backend sleeps or yields the processor. A wait of 0
// is no wait at all.
void busy_wait(Platform& os, std::uint32_t ms);

// The same on a port, which ends at once when the port has hung up: the
// call fails at its next step anyway, and a held port that hung up in an
// earlier call must not cost the next one a wait.
void busy_wait(Channel port, std::uint32_t ms);

// Waits for the output queue to empty. Fails when the queue is seen empty
// only at a sample taken after `limit` ms, and at once when the queue cannot
// be queried (a port that never opened).
bool drain_wait(Channel port, std::uint32_t limit);

// Waits for one byte for at most `limit` ms. A byte that comes in the read
// attempt that ends past the limit stays in `destination` but is not counted.
// A port that has hung up ends the wait at once, with no byte. A network
// port adds its round trip to the limit (Platform::reply_allowance_ms).
bool timed_byte_read(Channel port, std::uint8_t* destination, std::uint32_t limit);

enum class ReplyOutcome { Good, Incomplete, WrongChecksum };

// Reads `count` data bytes and their additive checksum into `reply`
// (count + 1 bytes), each byte within `limit` ms. `on_counted(index, byte)` is
// called for every byte as soon as its read counts it.
template <class OnCounted>
ReplyOutcome checked_reply(Channel port, std::uint8_t* reply, std::int32_t count,
                           std::uint32_t limit, OnCounted on_counted) {
  std::int32_t index = 0;
  std::uint8_t sum = 0;
  while (index <= count) {
    if (!timed_byte_read(port, &reply[index], limit)) return ReplyOutcome::Incomplete;
    on_counted(index, reply[index]);
    if (index != count) sum = static_cast<std::uint8_t>(sum + reply[index]);
    ++index;
  }
  return reply[count] == sum ? ReplyOutcome::Good : ReplyOutcome::WrongChecksum;
}

inline ReplyOutcome checked_reply(Channel port, std::uint8_t* reply, std::int32_t count,
                                  std::uint32_t limit) {
  return checked_reply(port, reply, count, limit, [](std::int32_t, std::uint8_t) {});
}

// Reads `count` bytes with no checksum; Good or Incomplete.
ReplyOutcome raw_reply(Channel port, std::uint8_t* reply, std::int32_t count, std::uint32_t limit);

// Writes the acknowledgement 0x02 0x4F; the count taken is not checked.
void send_acknowledgement(Channel port);

enum class AckCheck { BothBytes, FirstByteOnly };

// Two timed byte reads into local storage: Incomplete when fewer than two
// come, WrongChecksum when they are not accepted by `check`.
ReplyOutcome await_acknowledgement(Channel port, std::uint32_t limit, AckCheck check);

inline constexpr std::uint8_t kAck0 = 0x02;
inline constexpr std::uint8_t kAck1 = 0x4F;

// A count of bytes that, with the checksum byte behind them, can still be
// counted in 32 bits. A larger one is out of contract: the buffer it speaks
// of cannot exist, and the checksum's index would overflow.
constexpr bool countable_with_checksum(std::int32_t count) {
  return count >= 0 && count < std::numeric_limits<std::int32_t>::max();
}

// The 8-bit wrapping sum of bytes 0 to count - 1 (0 for count 0).
std::uint8_t additive_checksum(const std::uint8_t* bytes, std::int32_t count);

// Writes the additive checksum of bytes 0 to count - 1 into byte `count`.
void append_checksum(std::uint8_t* bytes, std::int32_t count);

// Discards unread input; the port stays open.
void discard_input(Channel port);

// Discards unread input, then closes the handle.
void release(Channel port);

// Releases the handle and opens the port again with the re-open timeouts.
Handle reopen(Platform& os, const char* name, Handle handle);

// A port opened by name for the length of one exchange. It is released on
// every path out of the exchange, whatever the result. Nothing is called on
// a port that did not open: the exchange ends with 2 as soon as it sees
// that, and the system's reason for the failure stays the last word.
class ScopedPort {
 public:
  ScopedPort(Platform& os, const char* name, TimeoutSet timeouts)
      : os_(os), name_(name), handle_(open_by_name(os, name, timeouts)) {}
  ~ScopedPort() {
    if (opened()) release(channel());
  }
  ScopedPort(const ScopedPort&) = delete;
  ScopedPort& operator=(const ScopedPort&) = delete;

  bool opened() const { return handle_ != kInvalidHandle; }
  // Releases the port and opens it again with the re-open timeouts; false
  // when the new open failed.
  bool reopen() {
    handle_ = line::reopen(os_, name_, handle_);
    return opened();
  }
  Channel channel() const { return {os_, handle_}; }

 private:
  Platform& os_;
  const char* name_;
  Handle handle_;
};

}  // namespace tarvex::line
