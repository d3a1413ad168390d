// `tarvex demo`: a short guided tour of the library on the simulated bus,
// one exchange per family, each with its line trace and a sentence on what
// it shows.
#include <string>
#include <vector>

#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "tools/card_list.h"
#include "tools/command.h"
#include "tools/exit_status.h"
#include "trace/trace_format.h"
#include "transform/lock_transforms.h"

namespace tarvex::tool {
namespace {

constexpr const char* kPort = sim::kDemoPort;

Result online(sim::DemoBus& demo, std::vector<std::string>& summary) {
  Bytes record(exchange::kIdentityRecordSize);
  const Result result = exchange::onNet(demo.bus, 0x12, record.data(), kPort);
  if (result == kOk && record[0] == 0x12) {
    summary.push_back("identity:   " + hex_text(record) +
                      "  (address 12, firmware 2.5, serial 10 00 00 12)");
  }
  return result;
}

Result read_log(sim::DemoBus& demo, std::vector<std::string>& summary) {
  Bytes frame{0x05, 0xC2, 0x00};
  Bytes reply(9);
  const Result result = exchange::getdata(demo.bus, 2, frame.data(), 8, reply.data(), kPort);
  summary.push_back("frame sent: " + hex_text(frame));
  summary.push_back("reply:      " + hex_text(reply));
  return result;
}

Result write_memory(sim::DemoBus& demo, std::vector<std::string>& summary) {
  Bytes frame{0x05, 0xB1, 0x10, 0x02, 0x00};
  Bytes block{0xAA, 0xBB, 0x00};
  const Result result = exchange::senddata(demo.bus, 4, frame.data(), 2, block.data(), kPort);
  summary.push_back("frame sent: " + hex_text(frame));
  summary.push_back("block sent: " + hex_text(block));
  return result;
}

Result read_back(sim::DemoBus& demo, std::vector<std::string>& summary) {
  Bytes frame{0x05, 0xC1, 0x10, 0x02, 0x00};
  Bytes reply(3);
  const Result result = exchange::getdata(demo.bus, 4, frame.data(), 2, reply.data(), kPort);
  summary.push_back("reply:      " + hex_text(reply) + "  (memory 10 and 11 of terminal 05)");
  return result;
}

Result blacklist(sim::DemoBus& demo, std::vector<std::string>& summary) {
  const std::vector<std::uint32_t> cards{1, 2, 3, 9, 17};
  const Bytes entries = card_entries(cards);
  const Result result = exchange::sendBlack(demo.bus, 0x05, 5, entries.data(), kPort);
  summary.push_back(
      "cards:      1 2 3 9 17 -> bitmap 07 01 01 behind the header 00 00 03 00 00 00");
  summary.push_back(std::string("terminal 05 now bars card 9: ") +
                    (demo.terminal(0x05)->card_barred(9) ? "yes" : "no") +
                    ", card 10: " + (demo.terminal(0x05)->card_barred(10) ? "yes" : "no"));
  return result;
}

Result lock_code(sim::DemoBus&, std::vector<std::string>& summary) {
  const Bytes plain{0x12, 0x34, 0x56};
  Bytes key(3);
  const Result result = transform::keylock(0, plain.data(), key.data());
  Bytes back(6);
  Bytes two_keys = key;
  two_keys.insert(two_keys.end(), key.begin(), key.end());
  transform::faka_4852(0, two_keys.data(), back.data());
  summary.push_back("plain code: " + hex_text(plain) + " -> key form " + hex_text(key) +
                    " -> back " + hex_text(Bytes(back.begin(), back.begin() + 3)));
  return result;
}

struct TourStep {
  const char* title;
  const char* sentence;
  bool traced;  // whether the line trace is worth showing
  // Runs the exchange on the bus and adds the lines that sum up its outcome.
  Result (*run)(sim::DemoBus&, std::vector<std::string>&);
};

const TourStep kTour[] = {
    {"onNet 12: is terminal 12 on line?",
     "Phase 1 asks address 12 (A0) for 7 bytes; phase 2 sends B4 to address 00 with two\n"
     "of them, and only the terminal that holds them answers, echoing its address.",
     true, online},
    {"getdata 05 C2, 8 reply bytes",
     "The address byte goes out alone under MARK parity, the rest under SPACE after 9 ms\n"
     "waits; the reply is checked against its checksum and, for C2, acknowledged 02 4F.",
     true, read_log},
    {"senddata 05 B1 10 02, block AA BB",
     "A data block follows the frame (SPACE, two stop bits); the terminal writes it to\n"
     "its memory and acknowledges with 02 4F.",
     true, write_memory},
    {"getdata 05 C1 10 02: read it back", "The block is in the terminal's memory.", false,
     read_back},
    {"sendBlack 05, cards 1 2 3 9 17",
     "The card list becomes a bitmap, one bit per card number; the address byte goes\n"
     "out under MARK, the port is re-opened once that byte has left the line (the close\n"
     "waits for it), then the frame, the block and the acknowledgement.",
     true, blacklist},
    {"keylock 123456", "Lock codes are converted without a port.", false, lock_code},
};

class DemoCommand final : public Command {
 public:
  explicit DemoCommand(CLI::App& cli) {
    cli.footer("Runs on the simulated bus only; every step is one call of the library's C++ API.");
  }

  int run(Invocation& invocation) override {
    std::ostream& out = invocation.console().out;
    sim::DemoBus demo;
    out << "Simulated bus " << sim::kDemoPort
        << " with demo terminals at 05, 12 and 31. In each trace: ms\n"
        << "since the step began, then tx (bytes that left the line, with parity M/S, stop bits,\n"
        << "baud), rx (bytes read), line settings, busy waits and drain waits.\n";
    int status = 0;
    int number = 0;
    for (const TourStep& step : kTour) {
      out << "\n== " << ++number << ". " << step.title << "\n" << step.sentence << "\n";
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
  static std::vector<trace::TraceEvent> compact(std::vector<trace::TraceEvent> trace) {
    std::erase_if(trace, [](const auto& e) { return trace::is<trace::Write>(e) || trace::is<trace::Purge>(e); });
    return trace;
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
