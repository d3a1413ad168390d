// Pieces every wine case shares: the fixture that makes sure the DLL, wine64
// and the prefix are there, byte arguments for the host, and the call
// durations it prints.
//
// Timing is checked on GetTickCount in the host (its "ms"), the clock the
// library's waits run on, and not in real time: wine's tick lags and then
// jumps by several milliseconds (as Windows' moves in 10-16 ms steps), so a
// wait of k ticks can take less than k ms of real time, but never fewer than
// k ticks.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "wine_host.h"

namespace tarvex::testing {

// "05C20102": bytes as the host takes them; "-" for none.
inline std::string argument(const Bytes& bytes) {
  if (bytes.empty()) return "-";
  std::string text = hex(bytes);
  std::erase(text, ' ');
  return text;
}

// The call's duration in ticks, as the host measured it.
inline int ticks(const HostCase& c) {
  return std::atoi(c["ms"].c_str());
}

inline const char* name_of(WineHost::Build build) {
  return build == WineHost::Build::Current ? "current" : "legacy";
}
inline void PrintTo(WineHost::Build build, std::ostream* os) { *os << name_of(build); }

class WineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WineHost::ready()); }

  // The bytes heard, once `count` came and a little longer.
  std::string heard_once(std::size_t count) {
    return testing::heard_once(terminal, count, std::chrono::milliseconds{100});
  }

  PtyTerminal terminal;
};

}  // namespace tarvex::testing
