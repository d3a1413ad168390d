// Shared pieces for exchange tests on the simulated bus.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "sim/scripted_terminal.h"
#include "sim/sim_bus.h"

namespace tarvex::testing {

using trace::TraceEvent;
using trace::WireByte;

// A simulated bus with one port and a scripted terminal on it.
struct SimRig {
  static constexpr const char* kPort = "COM1";

  explicit SimRig(std::uint32_t tick_start_ms, std::uint64_t tick_cost_us = 20)
      : bus(sim::SimBus::Options{.tick_start_ms = tick_start_ms, .tick_cost_us = tick_cost_us}) {
    bus.add_port(kPort);
    bus.attach(kPort, terminal);
  }

  // The bytes that left the line, with their parity letters: "M05 SA1 SA6".
  std::string wire() const {
    std::string text;
    for (const WireByte& b : bus.sent(kPort)) {
      char item[8];
      std::snprintf(item, sizeof item, "%s%c%02X", text.empty() ? "" : " ",
                    b.parity == line::Parity::Mark ? 'M' : b.parity == line::Parity::Space ? 'S' : 'N',
                    b.value);
      text += item;
    }
    return text;
  }

  std::vector<TraceEvent> events(TraceEvent::Kind kind) const {
    std::vector<TraceEvent> found;
    for (const TraceEvent& e : bus.trace()) {
      if (e.kind == kind) found.push_back(e);
    }
    return found;
  }

  // The timeout sets of the opens, in order: "SR" is an open with the
  // standard timeouts, then a re-open.
  std::string opens() const {
    std::string sets;
    for (const TraceEvent& e : events(TraceEvent::Kind::Open)) {
      sets += e.timeouts == line::TimeoutSet::Standard ? 'S' : 'R';
    }
    return sets;
  }

  // The busy waits, in ticks from the first reading to the last.
  std::vector<std::uint64_t> busy_waits_ms() const {
    std::vector<std::uint64_t> waits;
    for (const TraceEvent& e : events(TraceEvent::Kind::Spin)) {
      if (e.count > 2) waits.push_back(e.end_us / 1000 - e.time_us / 1000);
    }
    return waits;
  }

  sim::SimBus bus;
  std::shared_ptr<sim::ScriptedTerminal> terminal = std::make_shared<sim::ScriptedTerminal>();
};

// Every exchange test runs twice: with the tick starting at 0, and just
// below the wrap of the 32-bit counter, so each limit and wait is also
// measured across it. fresh() starts over with a new bus, for tests that
// loop over cases.
class SimTest : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  static constexpr const char* kPort = SimRig::kPort;

  SimTest() { fresh(); }
  void fresh() { rig_.emplace(GetParam()); }

  sim::SimBus& bus() { return rig_->bus; }
  sim::ScriptedTerminal& terminal() { return *rig_->terminal; }
  std::string wire() const { return rig_->wire(); }
  std::vector<TraceEvent> events(TraceEvent::Kind kind) const { return rig_->events(kind); }
  std::vector<std::uint64_t> busy_waits_ms() const { return rig_->busy_waits_ms(); }
  std::string opens() const { return rig_->opens(); }

 private:
  std::optional<SimRig> rig_;
};

// The bus's write number `index` (from 0) takes only `takes` bytes.
template <class Index>
void short_write(sim::SimBus& bus, Index index, std::uint32_t takes) {
  bus.faults().short_write_at = static_cast<std::uint64_t>(index);
  bus.faults().short_write_takes = takes;
}

#define TARVEX_SIM_TEST_SUITE(Suite)                                              \
  INSTANTIATE_TEST_SUITE_P(TickStart, Suite, ::testing::Values(0u, 0xFFFFFFF0u), \
                           [](const auto& tick_start) { return tick_start.param == 0 ? std::string("FromZero") : std::string("AcrossWrap"); })

}  // namespace tarvex::testing
