// Shared pieces for exchange tests on the simulated bus.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "sim/scripted_terminal.h"
#include "sim/sim_bus.h"

namespace tarvex::testing {

using trace::is;
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

  template <class Kind>
  std::vector<Kind> events() const {
    std::vector<Kind> found;
    for (const TraceEvent& e : bus.trace()) {
      if (const auto* event = std::get_if<Kind>(&e)) found.push_back(*event);
    }
    return found;
  }

  // The polls of a wait: the output-queue queries of a drain, or else the
  // reads that found nothing.
  std::vector<trace::Timed> polled(bool drain) const {
    const auto spans = [](const auto& polls) { return std::vector<trace::Timed>(polls.begin(), polls.end()); };
    return drain ? spans(events<trace::QueueQuery>()) : spans(events<trace::ReadIdle>());
  }

  // No wait, write or read follows the last output-queue query.
  bool nothing_after_the_drain() const {
    const auto& trace = bus.trace();
    const auto last_query = std::ranges::find_if(trace.rbegin(), trace.rend(), is<trace::QueueQuery>);
    return last_query != trace.rend() && std::none_of(trace.rbegin(), last_query, [](const TraceEvent& e) {
             return is<trace::Spin>(e) || is<trace::Write>(e) || is<trace::Read>(e) || is<trace::ReadIdle>(e);
           });
  }

  // The timeout sets of the opens, in order: "SR" is an open with the
  // standard timeouts, then a re-open.
  std::string opens() const {
    std::string sets;
    for (const trace::Open& e : events<trace::Open>()) {
      sets += e.timeouts == line::TimeoutSet::Standard ? 'S' : 'R';
    }
    return sets;
  }

  // The busy waits, in ticks from the first reading to the last.
  std::vector<std::uint64_t> busy_waits_ms() const {
    std::vector<std::uint64_t> waits;
    for (const trace::Spin& e : events<trace::Spin>()) {
      if (e.readings > 2) waits.push_back(e.end_us / 1000 - e.time_us / 1000);
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
  template <class Kind> std::vector<Kind> events() const { return rig_->events<Kind>(); }
  std::vector<trace::Timed> polled(bool drain) const { return rig_->polled(drain); }
  std::vector<std::uint64_t> busy_waits_ms() const { return rig_->busy_waits_ms(); }
  std::string opens() const { return rig_->opens(); }
  bool nothing_after_the_drain() const { return rig_->nothing_after_the_drain(); }

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
