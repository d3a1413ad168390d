// `tarvex demo`: a short guided tour of the library on the simulated bus,
// one exchange per family, each with its line trace and a sentence on what
// it shows.
#include <string>
#include <vector>

#include "trace/trace_format.h"
#include "tools/demo_tour.h"
#include "tools/exit_status.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

class DemoCommand final : public Command {
 public:
  explicit DemoCommand(CLI::App& cli) {
    cli.footer("Runs on the simulated bus only; every step is one call of the library's C++ API.");
  }

  int run(Invocation& invocation) override {
    std::ostream& out = invocation.console().out;
    sim::DemoBus demo;
    out << "Simulated bus " << sim::kDemoPort << " with demo terminals at 05, 12 and 31. In each trace: ms\n"
        << "since the step began, then tx (bytes that left the line, with parity M/S, stop bits,\n"
        << "baud), rx (bytes read), line settings, busy waits and drain waits.\n";
    int status = 0;
    const std::vector<TourStep> steps = demo_tour();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const TourStep& step = steps[i];
      out << "\n== " << i + 1 << ". " << step.title << "\n" << step.sentence << "\n";
      demo.bus.clear_trace();
      const std::uint64_t origin = demo.bus.now_us();
      std::vector<std::string> summary;
      const Result result = step.run(demo, summary);
      demo.bus.advance(50000);  // let the acknowledgement leave the line
      if (step.traced) out << "\n" << trace::trace_text(compact(demo.bus.trace()), origin);
      for (const std::string& line : summary) out << line << "\n";
      out << "result:     " << result << " (" << result_meaning(result) << ")\n";
      if (result != kOk && status == 0) status = result;
    }
    return status;
  }

 private:
  // The tour shows the line, not every port call: write calls (their bytes
  // show as tx) and the purge before each close are left out.
  static std::vector<trace::TraceEvent> compact(const std::vector<trace::TraceEvent>& trace) {
    std::vector<trace::TraceEvent> kept;
    for (const trace::TraceEvent& e : trace) {
      if (!trace::is<trace::Write>(e) && !trace::is<trace::Purge>(e)) kept.push_back(e);
    }
    return kept;
  }
};

}  // namespace

void add_demo_command(CLI::App& app, CommandSet& commands) {
  add_command<DemoCommand>(
      app, commands, "demo",
      "A short guided tour on the simulated bus, with the line trace of each step",
      GlobalUse{.line = false,
                .json = false,
                .without_line = "runs on its own simulated bus and prints every trace itself"});
}

}  // namespace tarvex::tool
