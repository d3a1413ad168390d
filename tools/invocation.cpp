#include "tools/invocation.h"

#include <string>
#include <vector>

#include "tools/exit_status.h"
#include "tools/system_reason.h"
#include "tools/timing_diagram.h"
#include "trace/trace_format.h"

namespace tarvex::tool {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

LineSession::LineSession(const std::optional<std::string>& port)
    : name_(port.value_or(sim::kDemoPort)) {
  if (port) {
    serial_ = std::make_unique<Serial>();
  } else {
    demo_.emplace();
  }
}

line::Platform& LineSession::platform() {
  return serial_ ? static_cast<line::Platform&>(serial_->tracer) : demo_->bus;
}

const std::vector<trace::TraceEvent>& LineSession::trace() const {
  return serial_ ? serial_->tracer.trace() : demo_->bus.trace();
}

// Long enough for an acknowledgement, the last thing an exchange sends.
void LineSession::settle() {
  if (demo_) demo_->bus.advance(50000);
}

// Without --port the command runs on the simulated bus: it says so, lest a
// success be taken for one on a real line.
LineSession& Invocation::line() {
  if (line_) return *line_;
  line_ = std::make_unique<LineSession>(options_.port);
  if (line_->demo() != nullptr) console_.err << kSimulatedBusNote;
  return *line_;
}

void Invocation::note_if_no_terminal(std::uint8_t address) {
  const sim::DemoBus* demo = line().demo();
  if (demo == nullptr || demo->terminal(address) != nullptr) return;
  std::string known;
  for (const std::uint8_t a : sim::kDemoAddresses)
    known += (known.empty() ? "" : ", ") + hex_byte(a);
  console_.err << "tarvex: note: no terminal at address " << hex_byte(address)
               << " on the simulated bus (its terminals are at " << known
               << "); it stays silent, as a real bus would\n";
}

std::size_t Invocation::bytes_taken() {
  std::size_t taken = 0;
  for (const trace::TraceEvent& e : line().trace()) {
    if (const auto* write = std::get_if<trace::Write>(&e)) taken += write->taken;
  }
  return taken;
}

int Invocation::finish(Report report) {
  std::vector<trace::TraceEvent> events;
  if (line_) {
    line_->settle();
    events = line_->trace();
    const std::optional<line::OsError> error = line_->platform().error();
    if (error && report.result.value_or(kOk) != kOk) {
      report.add("reason", "reason", system_reason(*error, line_->port_name()));
    }
  }
  // The path was checked before anything was sent; should the write fail
  // all the same, the exchange has happened and its result stands.
  std::string diagram_error;
  if (!options_.diagram.empty()) {
    const std::string title =
        "tarvex " + report.command + (line_ ? " on " + line_->port_name() : "");
    if (!write_diagram_file(options_.diagram, events, report.result, title)) {
      diagram_error = "cannot write the diagram to " + options_.diagram;
      report.add("diagram_error", "", diagram_error);
    }
  }
  std::vector<std::string> trace;
  if (options_.trace) {
    std::string text = trace::trace_text(events);
    if (report.result && line_) trace::format_result(text, events, *report.result);
    trace = lines_of(text);
  }
  if (options_.trace && !line_ && !options_.json) console_.out << "(nothing went on the line)\n";
  show_report(console_.out, report, options_.json, options_.trace ? &trace : nullptr);
  if (!diagram_error.empty() && !options_.json) {
    console_.err << "tarvex: " << diagram_error << "; the result above stands\n";
  }
  return report.result.value_or(0);
}

}  // namespace tarvex::tool
