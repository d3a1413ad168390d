// `tarvex demo`: a short guided tour of the library on the simulated bus,
// one exchange per family, each with its line trace and a sentence on what
// it shows.
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/request_reply.h"
#include "sim/demo_bus.h"
#include "sim/trace_format.h"
#include "tools/exit_status.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

// One stop of the tour: what it does, then the exchange itself, which
// returns the result and the lines that sum up what came back.
struct Step {
  std::string title;
  std::string sentence;
  std::function<Result(sim::DemoBus&, std::vector<std::string>&)> exchange;
};

Result read_record_log(sim::DemoBus& demo, std::vector<std::string>& summary) {
  Bytes frame{0x05, 0xC2, 0x00};
  Bytes reply(9);
  const Result result = exchange::getdata(demo.bus, 2, frame.data(), 8, reply.data(), sim::kDemoPort);
  summary.push_back("frame sent: " + hex_text(frame));
  summary.push_back("reply:      " + hex_text(reply));
  return result;
}

std::vector<Step> tour() {
  return {
      {"getdata 05C2, 8 reply bytes",
       "Read the record log of terminal 05. The address byte goes out alone under MARK\n"
       "parity, the rest under SPACE; the reply is checked against its checksum and, for\n"
       "command C2, acknowledged with 02 4F.",
       read_record_log},
  };
}

class DemoCommand final : public Command {
 public:
  explicit DemoCommand(CLI::App& cli) {
    cli.footer("Runs on the simulated bus only; every step is one call of the library's C++ API.");
  }

  int run(Invocation& invocation) override {
    if (invocation.options().port) {
      throw UsageError("the tour runs on the simulated bus; drop --port (try `tarvex --port ... get` instead)");
    }
    std::ostream& out = invocation.console().out;
    sim::DemoBus demo;
    out << "Simulated bus on port " << sim::kDemoPort << " with demo terminals at 05, 12 and 31.\n"
        << "Times are milliseconds from the start of each step; tx lines show parity (M/S/N),\n"
        << "stop bits and baud of the bytes that left the line, rx the bytes read back.\n";
    int status = 0;
    const std::vector<Step> steps = tour();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      out << "\n== " << i + 1 << ". " << step.title << "\n" << step.sentence << "\n\n";
      demo.bus.clear_trace();
      const std::uint64_t origin = demo.bus.now_us();
      std::vector<std::string> summary;
      const Result result = step.exchange(demo, summary);
      demo.bus.advance(50000);  // let the acknowledgement leave the line
      sim::print_trace(out, demo.bus.trace(), origin);
      out << "\n";
      for (const std::string& line : summary) out << line << "\n";
      out << "result:     " << result << " (" << result_meaning(result) << ")\n";
      if (result != kOk && status == 0) status = result;
    }
    return status;
  }
};

}  // namespace

void add_demo_command(CLI::App& app, CommandSet& commands) {
  add_command<DemoCommand>(app, commands, "demo",
                           "A short guided tour on the simulated bus, with the line trace of each step");
}

}  // namespace tarvex::tool
