// The Linux side of the wine tier: runs the Windows test host under wine64
// against a COM port that the wine prefix maps to a PtyTerminal's slave.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace tarvex::testing {

// What one run of the host printed.
struct HostRun {
  int exit_status = -1;                       // -1: it did not finish in time
  std::map<std::string, std::string> values;  // its key=value lines
  std::string output;                         // everything, for messages

  std::string operator[](const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? "(missing)" : found->second;
  }
};

class WineHost {
 public:
  // The COM port the host opens; the prefix maps it to the terminal's pty.
  static constexpr const char* kPort = "COM5";

  // The DLL and wine64 are there, and the prefix is initialised (the first
  // call creates it, which takes a while). A failure says what to do.
  static ::testing::AssertionResult ready();

  // Points the prefix's COM port at `terminal`, runs
  // `tarvex_host.exe <dll> COM5 <arguments...>` and returns what it printed.
  static HostRun run(const PtyTerminal& terminal, const std::vector<std::string>& arguments,
                     std::chrono::seconds timeout = std::chrono::seconds{120});
};

}  // namespace tarvex::testing
