// The simulated bus the tool runs against when no real port is named: one
// port with demo terminals at a few addresses.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/demo_terminal.h"
#include "sim/sim_bus.h"

namespace tarvex::sim {

inline constexpr const char* kDemoPort = "SIM1";
inline constexpr std::array<std::uint8_t, 3> kDemoAddresses{0x05, 0x12, 0x31};

struct DemoBus {
  DemoBus();

  // The terminal at `address`, or nullptr when none answers there.
  DemoTerminal* terminal(std::uint8_t address) const;

  SimBus bus;
  std::vector<std::shared_ptr<DemoTerminal>> terminals;
};

}  // namespace tarvex::sim
