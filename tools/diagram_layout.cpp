#include "tools/diagram_layout.h"

#include <algorithm>
#include <cstdio>

#include "sim/trace_format.h"

namespace tarvex::tool {
namespace {

using Kind = trace::TraceEvent::Kind;

std::string ms_text(std::uint64_t us) {
  char text[32];
  const double ms = static_cast<double>(us) / 1000.0;
  std::snprintf(text, sizeof text, ms < 10 ? "%.2f ms" : ms < 1000 ? "%.1f ms" : "%.0f ms", ms);
  return text;
}

std::string setting_label(const line::LineSetting& s) {
  return std::string(trace::parity_letter(s.parity)) + (s.stop_bits == line::StopBits::Two ? " 2 " : " 1 ") +
         (s.baud ? std::to_string(*s.baud) : std::string("kept"));
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
    if (e.kind != Kind::Sent) continue;
    const DiagramBox box{Lane::Host, e.wire.start_us, e.wire.end_us, {e.wire.value}, e.wire.parity_bit()};
    if (!run.empty() && (run.back().end_us != box.start_us || run.back().parity_bit != box.parity_bit)) {
      add_run(layout.boxes, run, group_above);
    }
    run.push_back(box);
    layout.char_us = std::min(layout.char_us, e.wire.end_us - e.wire.start_us);
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
    if (e.kind == Kind::SetLine) {
      const std::uint32_t baud = e.setting.baud.value_or(line::kDefaultBaud);
      char_us = trace::character_time_us(e.setting, baud);
      parity_bit = trace::WireByte{.parity = e.setting.parity}.parity_bit();
      continue;
    }
    if (e.kind != Kind::Read) continue;
    std::uint64_t start = e.time_us >= char_us ? e.time_us - char_us : 0;
    if (!run.empty()) {
      if (run.back().end_us + char_us < start) {
        add_run(layout.boxes, run, group_above);
      } else {
        start = std::max(start, run.back().end_us);
      }
    }
    run.push_back({Lane::Terminal, start, std::max(e.time_us, start + char_us), {e.bytes.front()}, parity_bit});
  }
  add_run(layout.boxes, run, group_above);
}

void spans_and_marks(const std::vector<trace::TraceEvent>& events, DiagramLayout& layout) {
  for (const trace::TraceEvent& e : events) {
    const std::uint64_t length = e.end_us - e.time_us;
    switch (e.kind) {
      case Kind::Spin:
        if (e.count > 1) {
          layout.spans.push_back({DiagramSpan::Kind::Busy, e.time_us, e.end_us, "busy " + ms_text(length)});
        }
        break;
      case Kind::QueueQuery:
        layout.spans.push_back({DiagramSpan::Kind::Drain, e.time_us, e.end_us, "drain " + ms_text(length)});
        break;
      case Kind::ReadIdle:
        layout.spans.push_back({DiagramSpan::Kind::Read, e.time_us, e.end_us, "no byte " + ms_text(length)});
        break;
      case Kind::Open:
        layout.marks.push_back({e.time_us, "open " + e.text + (e.handle == line::kInvalidHandle ? " FAILED" : "")});
        break;
      case Kind::Close: layout.marks.push_back({e.time_us, "close"}); break;
      case Kind::Purge: layout.marks.push_back({e.time_us, "purge"}); break;
      case Kind::SetLine: layout.marks.push_back({e.time_us, setting_label(e.setting)}); break;
      case Kind::HungUp: layout.marks.push_back({e.time_us, "hung up", true}); break;
      case Kind::Failed: layout.marks.push_back({e.time_us, e.text + " failed", true}); break;
      case Kind::Write: case Kind::Read: case Kind::Sent: break;
    }
  }
}

}  // namespace

DiagramLayout layout_diagram(const std::vector<trace::TraceEvent>& trace, std::size_t group_above) {
  std::vector<trace::TraceEvent> events = trace;
  std::stable_sort(events.begin(), events.end(), [](const trace::TraceEvent& a, const trace::TraceEvent& b) {
    return a.time_us < b.time_us;
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
