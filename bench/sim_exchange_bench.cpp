// Processor time of whole exchanges on the simulated bus: the library's
// sequence and primitives plus the simulation itself (virtual clock, trace,
// terminal), with no real waiting. A fresh bus per exchange, as each call
// opens, drives and releases its own port.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "exchange/data_block.h"
#include "exchange/request_reply.h"
#include "sim/scripted_terminal.h"
#include "sim/sim_bus.h"

namespace tarvex::bench {
namespace {

constexpr const char* kPort = "COM1";

std::vector<std::uint8_t> with_checksum(std::vector<std::uint8_t> data) {
  std::uint8_t sum = 0;
  for (const std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  data.push_back(sum);
  return data;
}

struct Rig {
  Rig() {
    bus.add_port(kPort);
    bus.attach(kPort, terminal);
  }
  sim::SimBus bus;
  std::shared_ptr<sim::ScriptedTerminal> terminal = std::make_shared<sim::ScriptedTerminal>();
};

// The exchange's own time on the virtual clock, as the label (a counter would
// not fit the CSV the bench script reads).
void label_virtual_time(benchmark::State& state, std::int64_t virtual_us) {
  const auto iterations = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  char label[64];
  std::snprintf(label, sizeof label, "%.1f ms virtual",
                static_cast<double>(virtual_us) / 1000.0 / iterations);
  state.SetLabel(label);
}

// getdata, command 0xA1 with two parameter bytes, an 8-byte reply.
void SimGetdata(benchmark::State& state) {
  const std::vector<std::uint8_t> reply_bytes =
      with_checksum({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
  std::int64_t virtual_us = 0;
  for (auto _ : state) {
    Rig rig;
    rig.terminal->then(4, reply_bytes);
    std::uint8_t frame[5] = {0x05, 0xA1, 0x10, 0x20, 0x00};
    std::uint8_t reply[9] = {};
    const Result result = exchange::getdata(rig.bus, 4, frame, 8, reply, kPort);
    if (result != kOk) state.SkipWithError("getdata did not succeed");
    virtual_us += static_cast<std::int64_t>(rig.bus.now_us());
  }
  label_virtual_time(state, virtual_us);
}
BENCHMARK(SimGetdata)->Unit(benchmark::kMicrosecond);

// senddata, command 0xC1 with a 10-byte block, acknowledged.
void SimSenddata(benchmark::State& state) {
  std::int64_t virtual_us = 0;
  for (auto _ : state) {
    Rig rig;
    rig.terminal->then(5 + 11, {0x02, 0x4F});
    std::uint8_t frame[5] = {0x05, 0xC1, 0x10, 0x20, 0x00};
    std::uint8_t block[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
    const Result result = exchange::senddata(rig.bus, 4, frame, 10, block, kPort);
    if (result != kOk) state.SkipWithError("senddata did not succeed");
    virtual_us += static_cast<std::int64_t>(rig.bus.now_us());
  }
  label_virtual_time(state, virtual_us);
}
BENCHMARK(SimSenddata)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvex::bench
