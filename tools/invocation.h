// One run of a subcommand: the console, the global options, the line (opened
// on first use) and the way a report goes out with its trace and diagram.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/console.h"
#include "tools/global_options.h"
#include "tools/line_session.h"
#include "tools/report.h"

namespace tarvex::tool {

class Invocation {
 public:
  Invocation(Console& console, const GlobalOptions& options) : console_(console), options_(options) {}

  Console& console() { return console_; }
  const GlobalOptions& options() const { return options_; }

  LineSession& line();

  // On the simulated bus, notes on standard error that no demo terminal is
  // at `address`: the frame goes out all the same and meets the silence a
  // real bus gives.
  void note_if_no_terminal(std::uint8_t address);

  // How many bytes the port took in all the writes made so far: a frame's
  // bytes come first, then a block's.
  std::size_t bytes_taken();

  // Shows the report (text or JSON) with the trace when asked for, and the
  // system's reason when an operating-system call ended the exchange;
  // writes the diagram (a failure is noted, never in place of the result),
  // and gives the exit status: the report's result code, 0 when it has none.
  int finish(Report report);

 private:
  Console& console_;
  const GlobalOptions& options_;
  std::unique_ptr<LineSession> line_;
};

}  // namespace tarvex::tool
