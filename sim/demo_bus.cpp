#include "sim/demo_bus.h"

namespace tarvex::sim {

DemoBus::DemoBus() {
  bus.add_port(kDemoPort);
  for (const std::uint8_t address : kDemoAddresses) {
    terminals.push_back(std::make_shared<DemoTerminal>(address));
    bus.attach(kDemoPort, terminals.back());
  }
}

DemoTerminal* DemoBus::terminal(std::uint8_t address) const {
  for (const auto& t : terminals) {
    if (t->address() == address) return t.get();
  }
  return nullptr;
}

}  // namespace tarvex::sim
