// Checks shared by the tiers that run the real library against a PtyTerminal
// (pty, wine): frames as they go on the wire, real-time lower bounds, and the
// line setting each heard byte went out with, as far as a pty shows it.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bytes.h"
#include "pty_terminal.h"

namespace tarvex::testing {

// Per-byte limits and call durations are generous (1 s and more) wherever a
// case does not wait one out: a loaded machine can hold up the terminal's
// thread for tens of milliseconds.
inline constexpr std::chrono::milliseconds kGenerous{5000};
// How long a test waits for the terminal's side; it returns as soon as it is
// there.
inline constexpr std::chrono::milliseconds kPatience{5000};

// A frame or block buffer as the caller passes it: the bytes and the spare
// byte the library writes the checksum into.
inline Bytes checksum_buffer(Bytes bytes) {
  bytes.push_back(0xEE);
  return bytes;
}

inline std::int32_t length(const Bytes& bytes) {
  return static_cast<std::int32_t>(bytes.size());
}

// The processor time the calling thread has used: a call that spins shows
// it, one that sleeps does not. On a loaded machine it can only read low.
inline double thread_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline std::chrono::milliseconds since(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from);
}

// Strictly more than `ms` milliseconds from `from` to `to`. Busy waits that
// follow each other, of k1, k2, ... ticks in all K, last more than K - 1 ms.
inline ::testing::AssertionResult more_than(Clock::time_point from, Clock::time_point to,
                                            std::chrono::milliseconds ms) {
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(to - from);
  if (took > ms) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << took.count() << " us, not more than " << ms.count() << " ms";
}

inline std::string describe(const HeardByte& b) {
  char octal[16];
  std::snprintf(octal, sizeof octal, "%o", b.line.cflag);
  return "byte " + hex({b.value}) + " read under " + name_of(b.line.parity) + ", cflag 0" + octal;
}

// What a byte after which the line stays as it is shows: its own setting.
struct Setting {
  LineParity parity = LineParity::Space;
  std::uint32_t baud = 9600;
  bool two_stop_bits = false;
};

// Bytes [from, to) went out under `setting`, and the line stayed so after
// them: each sample is exact.
inline void expect_all_under(const std::vector<HeardByte>& heard, std::size_t from,
                             std::size_t to, const Setting& setting) {
  ASSERT_GE(heard.size(), to);
  for (std::size_t i = from; i < to; ++i) {
    EXPECT_EQ(heard[i].line.parity, setting.parity) << "at " << i << ", " << describe(heard[i]);
    EXPECT_EQ(heard[i].line.baud, setting.baud) << "at " << i;
    EXPECT_EQ(heard[i].line.two_stop_bits, setting.two_stop_bits) << "at " << i;
  }
}

// A byte written shortly before a switch (an address byte, or a frame the
// library goes on from without waiting for the terminal): the kernel can hand
// it to the master after the switch on a loaded machine, so a sample that
// disagrees proves nothing and is only noted. Where nothing switches after a
// byte its sample is exact, and that is where a setting is checked.
inline void note_unless(const HeardByte& b, LineParity parity) {
  if (b.line.parity != parity) {
    std::cout << "note: the pty did not show " << name_of(parity) << " for " << describe(b)
              << " (sampled after a later switch)\n";
  }
}

// Byte `address` is an address byte; the `data_bytes` after it went out in
// the data phase under `data`.
inline void expect_address_then_data(const std::vector<HeardByte>& heard, std::size_t address,
                                     std::size_t data_bytes, const Setting& data) {
  ASSERT_GT(heard.size(), address);
  note_unless(heard[address], LineParity::Mark);
  expect_all_under(heard, address + 1, address + 1 + data_bytes, data);
}

// What the terminal heard once `count` bytes came, and `more` longer, so a
// byte too many shows.
inline std::string heard_once(const PtyTerminal& terminal, std::size_t count,
                              std::chrono::milliseconds more = std::chrono::milliseconds{50}) {
  terminal.wait_heard(count, kPatience);
  terminal.wait_heard(count + 1, more);
  return hex(terminal.heard_values());
}

}  // namespace tarvex::testing
