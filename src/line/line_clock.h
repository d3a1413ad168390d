// What every backend, the simulated bus and the trace know of time on the
// line, in one place: the numbers of the two timeout sets, how long a
// character takes under a setting, and a line's clock (when the characters
// written so far start and end).
//
// A backend that cannot ask its port when the line is free (Win32 after its
// queue has emptied, a network port, the trace of a real port) keeps a
// LineClock; one that can (termios) asks it only for the character time.
// A network port that measures its round trip adds it to what it reads off
// this clock; a parity switch that must wait for the server's word on the
// bytes before it waits for free_us() first, as every setting does.
#pragma once

#include <algorithm>
#include <cstdint>

#include "line/platform.h"

namespace tarvex::line {

// The two timeout sets: a one-byte read returns after at most 5 * 1 + 10 ms
// without a byte, a write of k bytes is given up after 5 * k + 10 ms.
inline constexpr std::uint32_t kReadPollMs = 15;
inline constexpr std::uint64_t kReadPollUs = 1000u * kReadPollMs;
constexpr std::uint64_t write_limit_us(std::uint32_t count) {
  return 1000u * (5u * std::uint64_t{count} + 10u);
}

// How long a line setting or a close waits, on every backend, for bytes that
// are stuck in the output queue (flow control holding them) beyond their own
// line time, before it goes on without them.
inline constexpr std::uint64_t kStuckQueueUs = 100000;

// The bits one character takes on the line: the start bit, 8 data bits, the
// parity bit unless there is none, the stop bits.
constexpr std::uint32_t character_bits(Parity parity, StopBits stop_bits) {
  return 1u + 8u + (parity == Parity::None ? 0u : 1u) + (stop_bits == StopBits::Two ? 2u : 1u);
}

// One character's time in whole microseconds, rounded up (a baud of 0, which
// no port runs at, counts as 1).
constexpr std::uint64_t character_us(Parity parity, StopBits stop_bits, std::uint32_t baud) {
  const std::uint64_t rate = baud == 0 ? 1 : baud;
  return (std::uint64_t{character_bits(parity, stop_bits)} * 1000000u + rate - 1) / rate;
}

// Whether a port runs at the rate asked for: a driver reports the rate its
// divisor gives, which for a rate without a standard divisor is near it but
// not equal. Within 1% two UARTs still read each other's characters.
constexpr bool rate_matches(std::uint32_t asked, std::uint32_t reported) {
  const std::uint64_t difference = asked > reported ? asked - reported : reported - asked;
  return difference * 100u <= asked;
}

// A line's clock. Times are microseconds of the owner's own clock.
class LineClock {
 public:
  LineClock() = default;
  explicit LineClock(const LineSetting& setting) { apply(setting); }

  // The setting in force from now on; a kept baud keeps the clock's.
  void apply(const LineSetting& setting) {
    setting_.parity = setting.parity;
    setting_.stop_bits = setting.stop_bits;
    if (setting.baud) setting_.baud = setting.baud;
    character_us_ = line::character_us(setting_.parity, setting_.stop_bits, baud());
  }

  // The setting in force; its baud is always there.
  const LineSetting& setting() const { return setting_; }
  std::uint32_t baud() const { return setting_.baud.value_or(kDefaultBaud); }
  std::uint64_t character_us() const { return character_us_; }

  // When the last character written ends: the line is free from then on.
  std::uint64_t free_us() const { return free_us_; }

  // When a character handed over at `now_us` starts: once the line is free.
  std::uint64_t next_start_us(std::uint64_t now_us) const { return std::max(now_us, free_us_); }

  // `count` characters handed to the line at `now_us`, back to back; when
  // the last of them starts (`now_us` for none).
  std::uint64_t place(std::uint64_t now_us, std::uint64_t count) {
    if (count == 0) return now_us;
    free_us_ = next_start_us(now_us) + count * character_us_;
    return free_us_ - character_us_;
  }

  // The characters written that have not started by `now_us`.
  std::uint64_t not_started_at(std::uint64_t now_us) const {
    if (now_us >= free_us_) return 0;
    const std::uint64_t on_the_line = (free_us_ - now_us + character_us_ - 1) / character_us_;
    return on_the_line - 1;
  }

  // When the last character written starts (0 when none was).
  std::uint64_t last_start_us() const { return free_us_ > character_us_ ? free_us_ - character_us_ : 0; }

 private:
  LineSetting setting_{Parity::None, StopBits::One, kDefaultBaud};
  std::uint64_t character_us_ = line::character_us(Parity::None, StopBits::One, kDefaultBaud);
  std::uint64_t free_us_ = 0;
};

}  // namespace tarvex::line
