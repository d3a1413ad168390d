#include "tools/diagram_layout.h"

#include <algorithm>
#include <cstdio>

#include "trace/trace_format.h"

namespace tarvex::tool {
namespace {

std::string ms_text(std::uint64_t us) {
  char text[32];
  const double ms = static_cast<double>(us) / 1000.0;
  std::snprintf(text, sizeof text, ms < 10 ? "%.2f ms" : ms < 1000 ? "%.1f ms" : "%.0f ms", ms);
  return text;
}

// A run of boxes on one lane that may become one group.
void add_run(std::vector<DiagramBox>& boxes, std::vector<DiagramBox>& run, std::size_t group_above) {
  if (run.size() > group_above) {
    DiagramBox group = run.front();
    group.end_us = run.back().end_us;
    group.bytes.clear();
    for (const DiagramBox& b : run) group.bytes.push_back(b.bytes.front());
    boxes.push_back(group);
  } else {
    boxes.insert(boxes.end(), run.begin(), run.end());
  }
  run.clear();
}

void sent_boxes(const std::vector<trace::TraceEvent>& events, DiagramLayout& layout, std::size_t group_above) {
  std::vector<DiagramBox> run;
  for (const trace::TraceEvent& e : events) {
    const auto* sent = std::get_if<trace::Sent>(&e);
    if (sent == nullptr) continue;
    const trace::WireByte& wire = sent->wire;
    const DiagramBox box{Lane::Host, wire.start_us, wire.end_us, {wire.value}, wire.parity_bit()};
    if (!run.empty() && (run.back().end_us != box.start_us || run.back().parity_bit != box.parity_bit)) {
      add_run(layout.boxes, run, group_above);
    }
    run.push_back(box);
    layout.char_us = std::min(layout.char_us, wire.end_us - wire.start_us);
  }
  add_run(layout.boxes, run, group_above);
}

// A read is seen when it returns; the box of its byte ends there and takes
// one character time. Bytes a port had buffered come back faster than the
// line carries them: they are laid back to back, each a character wide.
void read_boxes(const std::vector<trace::TraceEvent>& events, DiagramLayout& layout, std::size_t group_above) {
  std::vector<DiagramBox> run;
  std::uint64_t char_us = trace::character_time_us({line::Parity::None, line::StopBits::One, 9600}, 9600);
  std::optional<int> parity_bit;
  for (const trace::TraceEvent& e : events) {
    if (const auto* set = std::get_if<trace::SetLine>(&e)) {
      const std::uint32_t baud = set->setting.baud.value_or(line::kDefaultBaud);
      char_us = trace::character_time_us(set->setting, baud);
      parity_bit = trace::WireByte{.parity = set->setting.parity}.parity_bit();
      continue;
    }
    const auto* read = std::get_if<trace::Read>(&e);
    if (read == nullptr) continue;
    std::uint64_t start = read->time_us >= char_us ? read->time_us - char_us : 0;
    if (!run.empty()) {
      if (run.back().end_us + char_us < start) {
        add_run(layout.boxes, run, group_above);
      } else {
        start = std::max(start, run.back().end_us);
      }
    }
    run.push_back({Lane::Terminal, start, std::max(read->time_us, start + char_us), {read->byte}, parity_bit});
  }
  add_run(layout.boxes, run, group_above);
}

void spans_and_marks(const std::vector<trace::TraceEvent>& events, DiagramLayout& layout) {
  const auto span = [&layout](DiagramSpan::Kind kind, const trace::Timed& e, const char* what) {
    layout.spans.push_back({kind, e.time_us, e.end_us, what + ms_text(e.end_us - e.time_us)});
  };
  const auto mark = [&layout](const trace::Timed& e, std::string label, bool alarm = false) {
    layout.marks.push_back({e.time_us, std::move(label), alarm});
  };
  for (const trace::TraceEvent& event : events) {
    std::visit(trace::Overloaded{
                   [&](const trace::Spin& e) { if (e.busy()) span(DiagramSpan::Kind::Busy, e, "busy "); },
                   [&](const trace::QueueQuery& e) { span(DiagramSpan::Kind::Drain, e, "drain "); },
                   [&](const trace::ReadIdle& e) { span(DiagramSpan::Kind::Read, e, "no byte "); },
                   [&](const trace::Open& e) {
                     mark(e, "open " + e.name + (e.handle == line::kInvalidHandle ? " FAILED" : ""));
                   },
                   [&](const trace::Close& e) { mark(e, "close"); },
                   [&](const trace::Purge& e) { mark(e, "purge"); },
                   [&](const trace::SetLine& e) { mark(e, trace::setting_text(e.setting)); },
                   [&](const trace::HungUp& e) { mark(e, "hung up", true); },
                   [&](const trace::Failed& e) { mark(e, e.operation + " failed", true); },
                   [](const auto&) {}},
               event);
  }
}

}  // namespace

DiagramLayout layout_diagram(const std::vector<trace::TraceEvent>& trace, std::size_t group_above) {
  std::vector<trace::TraceEvent> events = trace;
  std::stable_sort(events.begin(), events.end(), [](const trace::TraceEvent& a, const trace::TraceEvent& b) {
    return trace::timed(a).time_us < trace::timed(b).time_us;
  });
  DiagramLayout layout;
  sent_boxes(events, layout, group_above);
  read_boxes(events, layout, group_above);
  spans_and_marks(events, layout);
  for (const DiagramBox& b : layout.boxes) layout.end_us = std::max(layout.end_us, b.end_us);
  for (const DiagramSpan& s : layout.spans) layout.end_us = std::max(layout.end_us, s.end_us);
  for (const DiagramMark& m : layout.marks) layout.end_us = std::max(layout.end_us, m.at_us);
  fold_frames(layout);
  return layout;
}

}  // namespace tarvex::tool
