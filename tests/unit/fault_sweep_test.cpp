// The fault sweep: every entry point runs its nominal exchange once to count
// its platform calls, then once more for every call index k with the fault
// that fits that call. Every run must end with a code from the entry point's
// own set, leave no port open, give back every scratch area it took, apply
// no line setting and no close while a character is still on the line, and
// change caller memory only where allowed, and leave a trace whose text,
// read back, prints the same. An entry point with a scratch area also runs
// once with a source that refuses it.
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "legacy/legacy_exchanges.h"
#include "line/held_port.h"
#include "scratch_ledger.h"
#include "sim_fixture.h"
#include "trace/log_reader.h"
#include "trace/trace_format.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;

// A caller buffer with a guard zone behind it: bytes past `size` must never
// change, and within it only the bytes the exchange may write.
class Guarded {
 public:
  explicit Guarded(Bytes content) : size_(content.size()), bytes_(std::move(content)) {
    bytes_.resize(size_ + kGuard, 0xA5);
    original_ = bytes_;
  }
  static Guarded of_text(const std::string& text) { return Guarded(Bytes(text.begin(), text.end())); }
  std::uint8_t* data() { return bytes_.data(); }
  char* text() { return reinterpret_cast<char*>(bytes_.data()); }
  // True when only the bytes in [first, last) differ from what the caller put there.
  bool changed_only(std::size_t first, std::size_t last) const {
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
      if ((i < first || i >= last) && bytes_[i] != original_[i]) return false;
    }
    return true;
  }
  std::uint8_t at(std::size_t i) const { return bytes_[i]; }

 private:
  static constexpr std::size_t kGuard = 32;
  std::size_t size_;
  Bytes bytes_;
  Bytes original_;
};

struct Outcome {
  Result result;
  bool memory_ok;
};

struct EntryPoint {
  const char* name;
  std::set<Result> results;
  std::function<void(sim::ScriptedTerminal&)> arrange;  // the nominal terminal
  // Runs the call; members with a scratch area take it from the ledger.
  std::function<Outcome(sim::SimBus&, ScratchLedger&)> run;
  bool takes_scratch = false;
};

// Runs `call` on a held port from com_init, or on none for the named-port
// members, and gives the port back afterwards.
template <class Call>
Result on_port(sim::SimBus& bus, bool held, Call call) {
  const line::Handle port = held ? line::com_init(bus, SimRig::kPort, 9600) : line::kInvalidHandle;
  const Result result = call(port);
  if (held) line::com_exit(bus, port);
  return result;
}

const std::set<Result> kExchangeResults{kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong};
const std::set<Result> kRawResults{kOk, kFrameNotSent, kReplyIncomplete};

using FrameReplyCall = std::function<Result(sim::SimBus&, line::Handle, std::uint8_t*, std::uint8_t*)>;
using FrameBlockCall = std::function<Result(sim::SimBus&, line::Handle, std::uint8_t*, std::uint8_t*)>;

// A request/reply member: frame 05 C2 33, three reply bytes. Only the
// frame's checksum byte and the reply may change.
EntryPoint request_reply(const char* name, bool held, FrameReplyCall call) {
  return {name, kExchangeResults,
          [](sim::ScriptedTerminal& t) { t.then(4, with_checksum({0x10, 0x20, 0x30})); },
          [held, call](sim::SimBus& bus, ScratchLedger&) {
            Guarded frame({0x05, 0xC2, 0x33, 0x00});
            Guarded reply(Bytes(4, 0x00));
            const Result result = on_port(bus, held, [&](line::Handle port) {
              return call(bus, port, frame.data(), reply.data());
            });
            const bool checksum_only = frame.changed_only(3, 4) && (frame.at(3) == 0x00 || frame.at(3) == 0xFA);
            return Outcome{result, checksum_only && reply.changed_only(0, 4)};
          }};
}

// A data-block member: frame 05 A1 33, block 11 22 33, acknowledged. Only
// the two checksum bytes may change.
EntryPoint data_block(const char* name, bool held, std::set<Result> results, FrameBlockCall call) {
  return {name, std::move(results),
          [](sim::ScriptedTerminal& t) { t.then(8, {0x02, 0x4F}); },
          [held, call](sim::SimBus& bus, ScratchLedger&) {
            Guarded frame({0x05, 0xA1, 0x33, 0x00});
            Guarded block({0x11, 0x22, 0x33, 0x00});
            const Result result = on_port(bus, held, [&](line::Handle port) {
              return call(bus, port, frame.data(), block.data());
            });
            return Outcome{result, frame.changed_only(3, 4) && block.changed_only(3, 4)};
          }};
}

// A raw module exchange: frame 05 06 01 02 sent as given, three bytes back.
EntryPoint raw_module(const char* name, FrameReplyCall call) {
  return {name, kRawResults,
          [](sim::ScriptedTerminal& t) { t.then(4, {0x07, 0x08, 0x09}); },
          [call](sim::SimBus& bus, ScratchLedger&) {
            Guarded frame({0x05, 0x06, 0x01, 0x02});
            Guarded reply(Bytes(3, 0x00));
            const Result result = on_port(bus, true, [&](line::Handle port) {
              return call(bus, port, frame.data(), reply.data());
            });
            return Outcome{result, frame.changed_only(0, 0) && reply.changed_only(0, 3)};
          }};
}

// The on-line query of terminal 0x05, both phases answered.
EntryPoint online(const char* name, bool held, std::set<Result> results,
                  std::function<Result(sim::SimBus&, line::Handle, std::uint8_t*)> call) {
  return {name, std::move(results),
          [](sim::ScriptedTerminal& t) {
            t.then(5, with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00}))
                .then(5, with_checksum({0x00, 0x05, 0x0A, 0x0B, 0x00}));
          },
          [held, call](sim::SimBus& bus, ScratchLedger&) {
            Guarded record(Bytes(7, 0xEE));
            const Result result = on_port(bus, held, [&](line::Handle port) {
              return call(bus, port, record.data());
            });
            return Outcome{result, record.changed_only(0, result == kOk ? 7 : 0)};  // untouched on failure
          }};
}

// A hex-text member: its texts are the caller's and never change; only the
// reply text may. The scratch area comes from the run's ledger.
using HexCall = std::function<Result(sim::SimBus&, const char*, char*, const exchange::ScratchSource&)>;

EntryPoint hex_text(const char* name, std::size_t heard, Bytes answer, std::size_t reply_chars, HexCall call) {
  return {name, kExchangeResults,
          [heard, answer](sim::ScriptedTerminal& t) { t.then(heard, answer); },
          [reply_chars, call](sim::SimBus& bus, ScratchLedger& ledger) {
            Guarded command = Guarded::of_text("05A133");
            Guarded reply = Guarded::of_text(std::string(reply_chars, '.'));
            const Result result = call(bus, command.text(), reply.text(), ledger.source());
            return Outcome{result, command.changed_only(0, 0) && reply.changed_only(0, reply_chars)};
          },
          true};
}

// A blacklist member: cards 1, 2 and 3 (one bitmap byte behind the frame),
// acknowledged. The caller's list never changes.
using BlacklistCall = std::function<Result(sim::SimBus&, const std::uint8_t*, const exchange::ScratchSource&)>;

EntryPoint blacklist(const char* name, bool hex, BlacklistCall call) {
  return {name, kExchangeResults,
          [](sim::ScriptedTerminal& t) { t.then(5 + 8, {0x02, 0x4F}); },
          [hex, call](sim::SimBus& bus, ScratchLedger& ledger) {
            Guarded list(hex ? Bytes{'0', '0', '0', '0', '0', '1', '0', '0', '0', '0', '0', '2',
                                     '0', '0', '0', '0', '0', '3'}
                             : Bytes{0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x03});
            const Result result = call(bus, list.data(), ledger.source());
            return Outcome{result, list.changed_only(0, 0)};
          },
          hex};
}

std::vector<EntryPoint> entry_points() {
  const char* port = SimRig::kPort;
  using H = line::Handle;
  using B = std::uint8_t*;
  return {
      request_reply("getdata", false, [port](sim::SimBus& b, H, B f, B r) { return ex::getdata(b, 3, f, 3, r, port); }),
      request_reply("nGetData", false, [port](sim::SimBus& b, H, B f, B r) { return ex::nGetData(b, 3, f, 3, r, port, 9600, 200); }),
      request_reply("dxGetdata", false, [port](sim::SimBus& b, H, B f, B r) { return ex::dxGetdata(b, 3, f, 3, r, port); }),
      request_reply("Nget", true, [](sim::SimBus& b, H h, B f, B r) { return ex::Nget(b, 3, f, 3, r, h); }),
      request_reply("HANDLE_GetData", true, [](sim::SimBus& b, H h, B f, B r) { return ex::HANDLE_GetData(b, h, 3, f, 3, r, 200); }),
      request_reply("getdata (legacy build)", false, [port](sim::SimBus& b, H, B f, B r) { return legacy::getdata(b, 3, f, 3, r, port); }),
      data_block("senddata (legacy build)", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return legacy::senddata(b, 3, f, 3, k, port); }),
      data_block("senddata", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::senddata(b, 3, f, 3, k, port); }),
      data_block("nSendData", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::nSendData(b, 3, f, 3, k, port, 9600, 200); }),
      data_block("dxSenddata", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::dxSenddata(b, 3, f, 3, k, port); }),
      data_block("Nsend", true, kRawResults, [](sim::SimBus& b, H h, B f, B k) { return ex::Nsend(b, 3, f, 3, k, h); }),
      data_block("HANDLE_SendData", true, kExchangeResults, [](sim::SimBus& b, H h, B f, B k) { return ex::HANDLE_SendData(b, h, 3, f, 3, k, 200); }),
      data_block("sendDataUIM", true, kExchangeResults, [](sim::SimBus& b, H h, B f, B k) { return ex::sendDataUIM(b, h, 3, f, 3, k, 200); }),
      {"HANDLE_ComData", kExchangeResults,
       [](sim::ScriptedTerminal& t) { t.then(8, with_checksum({0x10, 0x20})); },
       [](sim::SimBus& bus, ScratchLedger&) {
         Guarded frame({0x05, 0xA1, 0x33, 0x00});
         Guarded block({0x11, 0x22, 0x33, 0x00});
         Guarded reply(Bytes(3, 0x00));
         const Result result = on_port(bus, true, [&](H h) {
           return ex::HANDLE_ComData(bus, h, 3, frame.data(), 3, block.data(), 2, reply.data(), 200);
         });
         return Outcome{result, frame.changed_only(3, 4) && block.changed_only(3, 4) && reply.changed_only(0, 3)};
       }},
      raw_module("getDataUIM", [](sim::SimBus& b, H h, B f, B r) { return ex::getDataUIM(b, h, 4, f, 3, r, 200); }),
      raw_module("sam_GetData", [](sim::SimBus& b, H h, B f, B r) { return ex::sam_GetData(b, h, 4, f, 3, r, 200); }),
      online("onNet", false, {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong, kSecondFrameNotSent,
                              kSecondFrameNotDrained, kSecondReplyIncomplete, kSecondReplyWrong},
             [port](sim::SimBus& b, H, B r) { return ex::onNet(b, 5, r, port); }),
      online("HANDLE_OnNet", true, {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong, kSecondReplyIncomplete,
                                    kSecondReplyWrong},
             [](sim::SimBus& b, H h, B r) { return ex::HANDLE_OnNet(b, h, 5, r); }),
      hex_text("getdata_hex", 4, with_checksum({0x10, 0x20, 0x30}), 8,
               [port](sim::SimBus& b, const char* c, char* r, const ex::ScratchSource& s) {
                 return ex::getdata_hex(b, 3, c, 3, r, port, s);
               }),
      hex_text("senddata_hex", 8, {0x02, 0x4F}, 6,
               [port](sim::SimBus& b, const char* c, char* k, const ex::ScratchSource& s) {
                 return ex::senddata_hex(b, 3, c, 3, k, port, s);
               }),
      blacklist("sendBlack", false, [port](sim::SimBus& b, const std::uint8_t* l, const ex::ScratchSource&) {
        return ex::sendBlack(b, 5, 3, l, port);
      }),
      blacklist("sendBlack_hex", true, [port](sim::SimBus& b, const std::uint8_t* l, const ex::ScratchSource& s) {
        return ex::sendBlack_hex(b, 5, 3, reinterpret_cast<const char*>(l), port, s);
      }),
      blacklist("sSendBlack", false, [port](sim::SimBus& b, const std::uint8_t* l, const ex::ScratchSource&) {
        return ex::sSendBlack(b, 5, 0xA5, 3, l, port);
      }),
      // A held port's whole life: whatever com_init met, com_exit leaves no
      // handle open and answers 0.
      {"com_init and com_exit", {kOk}, [](sim::ScriptedTerminal&) {},
       [port](sim::SimBus& bus, ScratchLedger&) {
         const line::Handle held = line::com_init(bus, port, 9600);
         return Outcome{line::com_exit(bus, held), true};
       }},
  };
}

// The events of a trace's text, read back line by line.
std::vector<TraceEvent> read_back(const std::string& text) {
  std::vector<TraceEvent> events;
  line::Handle port = line::kInvalidHandle;
  std::istringstream lines(text);
  for (std::string l; std::getline(lines, l);) EXPECT_TRUE(trace::parse_trace_line(l, events, port)) << l;
  return events;
}

// Tick readings are coarser here than elsewhere: a busy wait still spins
// through every millisecond, with fewer readings to sweep.
constexpr std::uint64_t kSweepTickCostUs = 250;

// The whole sweep runs at both tick starts, so every fault also strikes
// across the wrap of the 32-bit tick.
class FaultSweep : public SimTest {};
TARVEX_SIM_TEST_SUITE(FaultSweep);

TEST_P(FaultSweep, EveryCallOfEveryEntryPoint) {
  std::uint64_t runs = 0;
  for (const EntryPoint& entry : entry_points()) {
    SCOPED_TRACE(entry.name);
    std::uint64_t calls = 0;
    {
      SimRig rig(GetParam(), kSweepTickCostUs);
      entry.arrange(*rig.terminal);
      ScratchLedger ledger;
      const Outcome nominal = entry.run(rig.bus, ledger);
      ASSERT_EQ(nominal.result, kOk) << "the nominal exchange must succeed";
      ASSERT_TRUE(nominal.memory_ok);
      ASSERT_EQ(ledger.sizes.size(), entry.takes_scratch ? 1u : 0u);
      calls = rig.bus.calls();
    }
    for (std::uint64_t k = 0; k < calls; ++k) {
      for (const auto read_fault :
           {sim::Faults::Read::Stop, sim::Faults::Read::Garble, sim::Faults::Read::HangUp}) {
        SimRig rig(GetParam(), kSweepTickCostUs);
        entry.arrange(*rig.terminal);
        rig.bus.faults().at_call = k;
        rig.bus.faults().read = read_fault;
        ScratchLedger ledger;
        const Outcome outcome = entry.run(rig.bus, ledger);
        ++runs;
        ASSERT_TRUE(entry.results.contains(outcome.result)) << "call " << k << " gave " << outcome.result;
        ASSERT_TRUE(outcome.memory_ok) << "call " << k;
        ASSERT_EQ(rig.bus.open_handles(), 0u) << "call " << k;
        ASSERT_EQ(rig.bus.hazards(), 0u) << "call " << k;
        ASSERT_TRUE(ledger.balanced()) << "call " << k;
        const std::string text = trace::trace_text(rig.bus.trace(), 0, 0);  // as the log prints it
        ASSERT_EQ(trace::trace_text(read_back(text), 0, 0), text) << "call " << k;
      }
    }
    if (entry.takes_scratch) {
      // No scratch area: refused before the first platform call.
      SimRig rig(GetParam(), kSweepTickCostUs);
      entry.arrange(*rig.terminal);
      ScratchLedger ledger = ScratchLedger::refusing();
      const Outcome outcome = entry.run(rig.bus, ledger);
      ++runs;
      ASSERT_EQ(outcome.result, kFrameNotSent);
      ASSERT_TRUE(outcome.memory_ok);
      ASSERT_EQ(rig.bus.calls(), 0u);
    }
  }
  std::cout << "fault sweep: " << runs << " runs over " << entry_points().size() << " entry points\n";
  RecordProperty("runs", static_cast<int>(runs));
}

}  // namespace
}  // namespace tarvex::testing
