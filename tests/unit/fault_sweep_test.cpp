// The fault sweep: every entry point runs its nominal exchange once to count
// its platform calls, then once more for every call index k with the fault
// that fits that call. Every run must end with a code from the entry point's
// own set, leave no port open, and change caller memory only where allowed.
#include <functional>
#include <iostream>
#include <set>

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

// A request/reply member: frame 05 C2 33, three reply bytes.
EntryPoint request_reply(const char* name, bool held,
                         std::function<Result(sim::SimBus&, line::Handle, std::uint8_t*, std::uint8_t*)> call) {
  return {name,
          {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong},
          [](sim::ScriptedTerminal& t) { t.then(4, with_checksum({0x10, 0x20, 0x30})); },
          [held, call](sim::SimBus& bus) {
            Guarded frame({0x05, 0xC2, 0x33, 0x00});
            Guarded reply(Bytes(4, 0x00));
            const line::Handle port = held ? line::com_init(bus, SimRig::kPort, 9600) : line::kInvalidHandle;
            const Result result = call(bus, port, frame.data(), reply.data());
            if (held) line::com_exit(bus, port);
            const bool checksum_only = frame.changed_only(3, 4) && (frame.at(3) == 0x00 || frame.at(3) == 0xFA);
            return Outcome{result, checksum_only && reply.changed_only(0, 4)};
          }};
}

std::vector<EntryPoint> entry_points() {
  const char* port = SimRig::kPort;
  return {
      request_reply("getdata", false, [port](sim::SimBus& b, line::Handle, std::uint8_t* f, std::uint8_t* r) {
        return ex::getdata(b, 3, f, 3, r, port);
      }),
      request_reply("nGetData", false, [port](sim::SimBus& b, line::Handle, std::uint8_t* f, std::uint8_t* r) {
        return ex::nGetData(b, 3, f, 3, r, port, 9600, 200);
      }),
      request_reply("dxGetdata", false, [port](sim::SimBus& b, line::Handle, std::uint8_t* f, std::uint8_t* r) {
        return ex::dxGetdata(b, 3, f, 3, r, port);
      }),
      request_reply("Nget", true, [](sim::SimBus& b, line::Handle h, std::uint8_t* f, std::uint8_t* r) {
        return ex::Nget(b, 3, f, 3, r, h);
      }),
      request_reply("HANDLE_GetData", true, [](sim::SimBus& b, line::Handle h, std::uint8_t* f, std::uint8_t* r) {
        return ex::HANDLE_GetData(b, h, 3, f, 3, r, 200);
      }),
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
