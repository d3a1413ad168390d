// The line a command talks over: the built-in simulated bus with its demo
// terminals, or a real serial port through the operating system, traced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "line/platform.h"
#include "sim/demo_bus.h"
#include "sim/sim_bus.h"

namespace tarvex::tool {

class LineSession {
 public:
  virtual ~LineSession() = default;

  virtual line::Platform& platform() = 0;
  virtual const std::string& port_name() const = 0;
  virtual std::vector<trace::TraceEvent> trace() const = 0;
  // Lets what is still going out leave the line, so the trace shows it.
  virtual void settle() = 0;
  // The simulated bus, or nullptr on a real port.
  virtual const sim::DemoBus* demo() const = 0;
};

// The simulated bus when `port` is empty, else the named serial port.
std::unique_ptr<LineSession> open_session(const std::optional<std::string>& port);

}  // namespace tarvex::tool
