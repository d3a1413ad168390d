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

// What one case of a run printed: its key=value lines.
struct HostCase {
  std::string name;
  std::map<std::string, std::string> values;

  std::string operator[](const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? "(missing)" : found->second;
  }
};

// What one run of the host printed, case by case.
struct HostRun {
  int exit_status = -1;         // -1: it did not finish in time
  std::vector<HostCase> cases;  // in the order they ran
  std::string output;           // everything, for messages

  // The first (or only) case's value.
  std::string operator[](const std::string& key) const { return case_at(0)[key]; }
  // The i-th case; an empty one when the run stopped before it.
  HostCase case_at(std::size_t i) const { return i < cases.size() ? cases[i] : HostCase{}; }
};

class WineHost {
 public:
  // The COM port the host opens; the prefix maps it to the terminal's pty.
  static constexpr const char* kPort = "COM5";

  // The two deliverables: every entry point, and the legacy build's ten.
  enum class Build { Current, Legacy };

  // The DLLs and wine64 are there, and the prefix is initialised (the first
  // call creates it, which takes a while). A failure says what to do.
  static ::testing::AssertionResult ready();

  // Points the prefix's COM port `port` at `terminal` (a network port,
  // rfc2217://HOST:PORT, stays a name), runs
  // `tarvex_host.exe <dll> <port> <arguments...>` with the given build's DLL
  // and returns what it printed. Several cases go in one run joined by "+".
  // `environment`: NAME=VALUE entries the host's environment gets besides.
  static HostRun run(const PtyTerminal& terminal, const std::vector<std::string>& arguments,
                     Build build = Build::Current,
                     std::chrono::seconds timeout = std::chrono::seconds{120},
                     const std::string& port = kPort,
                     const std::vector<std::string>& environment = {});

  // What the win64 tool printed, lines ended as on Linux.
  struct Output {
    int exit_status = -1;  // -1: it did not finish in time
    std::string out;
    std::string err;
  };

  // Runs `tarvex.exe <arguments...>` (the win64 tool), the prefix's COM port
  // pointing at `device` when one is given.
  static Output run_tool(const std::vector<std::string>& arguments, const std::string& device = {},
                         std::chrono::seconds timeout = std::chrono::seconds{120});

  // The Windows path of a file (the prefix maps Z: to the root).
  static std::string windows_path(const std::string& path);
};

}  // namespace tarvex::testing
