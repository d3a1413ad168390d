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

// Without --port the command runs on the simulated bus: it says so, lest a
// success be taken for one on a real line.
void Invocation::open_line() {
  if (line_open()) return;
  port_name_ = options_.port.value_or(sim::kDemoPort);
  if (options_.port) {
    serial_ = std::make_unique<Serial>();
  } else {
    demo_.emplace();
    console_.err << kSimulatedBusNote;
  }
}

line::Platform& Invocation::platform() {
  open_line();
  return serial_ ? static_cast<line::Platform&>(serial_->tracer) : demo_->bus;
}

const std::string& Invocation::port_name() {
  open_line();
  return port_name_;
}

const sim::DemoBus* Invocation::demo() {
  open_line();
  return demo_ ? &*demo_ : nullptr;
}

const std::vector<trace::TraceEvent>& Invocation::trace() const {
  return serial_ ? serial_->tracer.trace() : demo_->bus.trace();
}

void Invocation::note_if_no_terminal(std::uint8_t address) {
  const sim::DemoBus* demo = this->demo();
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
  open_line();
  for (const trace::TraceEvent& e : trace()) {
    if (const auto* write = std::get_if<trace::Write>(&e)) taken += write->taken;
  }
  return taken;
}

int Invocation::finish(Report report) {
  std::vector<trace::TraceEvent> events;
  if (line_open()) {
    // Long enough for an acknowledgement, the last thing an exchange sends,
    // to leave the line, so the trace shows it.
    if (demo_) demo_->bus.advance(50000);
    events = trace();
    const std::optional<line::OsError> error = platform().error();
    if (error && report.result.value_or(kOk) != kOk) {
      report.add("reason", "reason", system_reason(*error, port_name_));
    }
  }
  // The path was checked before anything was sent; should the write fail
  // all the same, the exchange has happened and its result stands.
  std::string diagram_error;
  if (!options_.diagram.empty()) {
    const std::string title =
        "tarvex " + report.command + (line_open() ? " on " + port_name_ : "");
    if (!write_diagram_file(options_.diagram, events, report.result, title)) {
      diagram_error = "cannot write the diagram to " + options_.diagram;
      report.add("diagram_error", "", diagram_error);
    }
  }
  std::vector<std::string> trace;
  if (options_.trace) {
    std::string text = trace::trace_text(events);
    if (report.result && line_open()) trace::format_result(text, events, *report.result);
    trace = lines_of(text);
  }
  if (options_.trace && !line_open() && !options_.json) console_.out << "(nothing went on the line)\n";
  show_report(console_.out, report, options_.json, options_.trace ? &trace : nullptr);
  if (!diagram_error.empty() && !options_.json) {
    console_.err << "tarvex: " << diagram_error << "; the result above stands\n";
  }
  return report.result.value_or(0);
}

}  // namespace tarvex::tool
