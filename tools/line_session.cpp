#include "tools/line_session.h"

#include "line/os_platform.h"
#include "trace/tracing_platform.h"

namespace tarvex::tool {
namespace {

class SimulatedLine final : public LineSession {
 public:
  line::Platform& platform() override { return demo_.bus; }
  const std::string& port_name() const override { return name_; }
  std::vector<trace::TraceEvent> trace() const override { return demo_.bus.trace(); }
  // Long enough for an acknowledgement, the last thing an exchange sends.
  void settle() override { demo_.bus.advance(50000); }
  const sim::DemoBus* demo() const override { return &demo_; }

 private:
  sim::DemoBus demo_;
  std::string name_ = sim::kDemoPort;
};

class SerialLine final : public LineSession {
 public:
  explicit SerialLine(std::string name) : name_(std::move(name)) {}
  line::Platform& platform() override { return tracer_; }
  const std::string& port_name() const override { return name_; }
  std::vector<trace::TraceEvent> trace() const override { return tracer_.trace(); }
  void settle() override {}
  const sim::DemoBus* demo() const override { return nullptr; }

 private:
  std::string name_;
  line::OsPlatform os_;
  trace::TracingPlatform tracer_{os_, trace::TracingPlatform::monotonic_clock()};
};

}  // namespace

std::unique_ptr<LineSession> open_session(const std::optional<std::string>& port) {
  if (port) return std::make_unique<SerialLine>(*port);
  return std::make_unique<SimulatedLine>();
}

}  // namespace tarvex::tool
