// One run of a subcommand: the console, the global options, the line (opened
// on first use), the report and the way it goes out with its trace and
// diagram.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tools/global_options.h"
#include "tools/line_session.h"
#include "tools/report.h"
#include "tools/tool.h"

namespace tarvex::tool {

class Invocation {
 public:
  Invocation(Console& console, const GlobalOptions& options, std::string command)
      : console_(console), options_(options), command_(std::move(command)) {}

  Console& console() { return console_; }
  const GlobalOptions& options() const { return options_; }

  LineSession& line();

  // The command's report; that of an exchange `member` ran on the line
  // names the member and the port first.
  Report report() const { return Report{.command = command_}; }
  Report exchange_report(std::string_view member) {
    return report().add("member", std::string(member)).add("port", line().port_name());
  }

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
  int finish(Report report, Result result) {
    report.result = result;
    return finish(std::move(report));
  }

 private:
  Console& console_;
  const GlobalOptions& options_;
  std::string command_;
  std::unique_ptr<LineSession> line_;
};

}  // namespace tarvex::tool
