// One run of a subcommand: the console, the global options, the line (opened
// on first use), the report and the way it goes out with its trace and
// diagram.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/os_platform.h"
#include "sim/demo_bus.h"
#include "tools/global_options.h"
#include "tools/report.h"
#include "tools/tool.h"
#include "trace/tracing_platform.h"

namespace tarvex::tool {

class Invocation {
 public:
  Invocation(Console& console, const GlobalOptions& options, std::string command)
      : console_(console), options_(options), command_(std::move(command)) {}

  Console& console() { return console_; }
  const GlobalOptions& options() const { return options_; }

  // The line a command talks over, opened on first use: the built-in
  // simulated bus with its demo terminals when no port is named, else the
  // named serial port through the operating system, traced.
  line::Platform& platform();
  const std::string& port_name();
  // The simulated bus, or nullptr on a real port.
  const sim::DemoBus* demo();

  // The command's report; that of an exchange `member` ran on the line
  // names the member and the port first.
  Report report() const { return Report{.command = command_}; }
  Report exchange_report(std::string_view member) {
    return report().add("member", std::string(member)).add("port", port_name());
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

  struct Serial {
    line::OsPlatform os;
    trace::TracingPlatform tracer{os, trace::TracingPlatform::monotonic_clock()};
  };
  void open_line();
  bool line_open() const { return demo_ || serial_; }
  const std::vector<trace::TraceEvent>& trace() const;
  std::string port_name_;
  std::optional<sim::DemoBus> demo_;
  std::unique_ptr<Serial> serial_;
};

}  // namespace tarvex::tool
