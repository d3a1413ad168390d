// The fault sweep: every entry point runs its nominal exchange once to count
// its platform calls, then once more for every call index k with the fault
// that fits that call. Every run must end with a code from the entry point's
// own set, leave no port open, and change caller memory only where allowed.
#include <functional>
#include <iostream>
#include <set>

#include "exchange/data_block.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "line/held_port.h"
#include "sim_fixture.h"

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
  std::uint8_t* data() { return bytes_.data(); }
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
  std::function<Outcome(sim::SimBus&)> run;
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
          [held, call](sim::SimBus& bus) {
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
          [held, call](sim::SimBus& bus) {
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
          [call](sim::SimBus& bus) {
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
          [held, call](sim::SimBus& bus) {
            Guarded record(Bytes(7, 0xEE));
            const Result result = on_port(bus, held, [&](line::Handle port) {
              return call(bus, port, record.data());
            });
            return Outcome{result, record.changed_only(0, result == kOk ? 7 : 0)};  // untouched on failure
          }};
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
      data_block("senddata", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::senddata(b, 3, f, 3, k, port); }),
      data_block("nSendData", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::nSendData(b, 3, f, 3, k, port, 9600, 200); }),
      data_block("dxSenddata", false, kExchangeResults, [port](sim::SimBus& b, H, B f, B k) { return ex::dxSenddata(b, 3, f, 3, k, port); }),
      data_block("Nsend", true, kRawResults, [](sim::SimBus& b, H h, B f, B k) { return ex::Nsend(b, 3, f, 3, k, h); }),
      data_block("HANDLE_SendData", true, kExchangeResults, [](sim::SimBus& b, H h, B f, B k) { return ex::HANDLE_SendData(b, h, 3, f, 3, k, 200); }),
      data_block("sendDataUIM", true, kExchangeResults, [](sim::SimBus& b, H h, B f, B k) { return ex::sendDataUIM(b, h, 3, f, 3, k, 200); }),
      {"HANDLE_ComData", kExchangeResults,
       [](sim::ScriptedTerminal& t) { t.then(8, with_checksum({0x10, 0x20})); },
       [](sim::SimBus& bus) {
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
                              kEmptyOrNotDrained, kSecondReplyIncomplete, kSecondReplyWrong},
             [port](sim::SimBus& b, H, B r) { return ex::onNet(b, 5, r, port); }),
      online("HANDLE_OnNet", true, {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong, kSecondReplyIncomplete,
                                    kSecondReplyWrong},
             [](sim::SimBus& b, H h, B r) { return ex::HANDLE_OnNet(b, h, 5, r); }),
  };
}

// Tick readings are coarser here than elsewhere: a busy wait still spins
// through every millisecond, with fewer readings to sweep.
constexpr std::uint64_t kSweepTickCostUs = 250;

TEST(FaultSweep, EveryCallOfEveryEntryPoint) {
  std::uint64_t runs = 0;
  for (const EntryPoint& entry : entry_points()) {
    SCOPED_TRACE(entry.name);
    std::uint64_t calls = 0;
    {
      SimRig rig(0, kSweepTickCostUs);
      entry.arrange(*rig.terminal);
      const Outcome nominal = entry.run(rig.bus);
      ASSERT_EQ(nominal.result, kOk) << "the nominal exchange must succeed";
      calls = rig.bus.calls();
    }
    for (std::uint64_t k = 0; k < calls; ++k) {
      for (const auto read_fault : {sim::Faults::Read::Stop, sim::Faults::Read::Garble}) {
        SimRig rig(0xFFFFFFF0u, kSweepTickCostUs);
        entry.arrange(*rig.terminal);
        rig.bus.faults().at_call = k;
        rig.bus.faults().read = read_fault;
        const Outcome outcome = entry.run(rig.bus);
        ++runs;
        ASSERT_TRUE(entry.results.contains(outcome.result)) << "call " << k << " gave " << outcome.result;
        ASSERT_TRUE(outcome.memory_ok) << "call " << k;
        ASSERT_EQ(rig.bus.open_handles(), 0u) << "call " << k;
      }
    }
  }
  std::cout << "fault sweep: " << runs << " runs over " << entry_points().size() << " entry points\n";
  RecordProperty("runs", static_cast<int>(runs));
}

}  // namespace
}  // namespace tarvex::testing
