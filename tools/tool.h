// The tarvex command-line tool, callable in-process: `args` are the
// arguments after the program name; the console is where a run reads and
// writes (string streams in the tests, the process's standard streams in
// main).
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace tarvex::tool {

struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool in_is_terminal = false;   // a question may be asked on `in`
  bool err_is_terminal = false;  // progress lines may be drawn on `err`
};

// What a command that runs on the simulated bus (no --port) says on
// standard error; `demo` runs on it by design and says nothing.
inline constexpr char kSimulatedBusNote[] =
    "tarvex: note: no --port given: this runs on the built-in simulated bus SIM1, "
    "demo terminals at 05, 12 and 31\n";

// Runs one subcommand and gives the exit status: 0 on success, the
// library's result code when an exchange failed, 64 and up for usage errors
// (see exit_status.h).
int run(const std::vector<std::string>& args, Console& console);

}  // namespace tarvex::tool
