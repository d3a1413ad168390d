// What a timing diagram shows, in time, before any drawing: the bytes on
// each lane (single boxes, or groups for long runs), the host's waits as
// spans, and the port calls and line settings as marks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_bus.h"

namespace tarvex::tool {

enum class Lane { Host, Terminal };  // host to bus (sent), bus to host (read)

struct DiagramBox {
  Lane lane;
  std::uint64_t start_us;
  std::uint64_t end_us;
  std::vector<std::uint8_t> bytes;  // one byte, or the bytes of a group
  std::optional<int> parity_bit;    // 1 under MARK, 0 under SPACE, none without parity
  bool group() const { return bytes.size() > 1; }
};

struct DiagramSpan {
  enum class Kind { Busy, Drain, Read };  // busy wait, drain wait, a read that found nothing
  Kind kind;
  std::uint64_t start_us;
  std::uint64_t end_us;
  std::string label;
};

struct DiagramMark {
  std::uint64_t at_us;
  std::string label;  // "open SIM1", "M 1 9600", "close", ...
  bool alarm = false;  // drawn in red: the port hung up, an operating-system call failed
};

// Frames folded away with everything between them (fold_frames).
struct DiagramFold {
  std::uint64_t start_us;
  std::uint64_t end_us;
  std::size_t frames;
  std::size_t answered;  // frames among them that a terminal answered
  std::uint8_t first_address;
  std::uint8_t last_address;
};

struct DiagramLayout {
  std::vector<DiagramBox> boxes;
  std::vector<DiagramSpan> spans;
  std::vector<DiagramMark> marks;
  std::vector<DiagramFold> folds;
  std::uint64_t char_us = 1146;  // the shortest character time seen: the diagram's unit
  std::uint64_t end_us = 0;
};

// Runs of more than `group_above` back-to-back bytes become one group box;
// long runs of frames are folded (fold_frames).
DiagramLayout layout_diagram(const std::vector<trace::TraceEvent>& trace, std::size_t group_above = 24);

// Keeps a long trace (a scan) a page wide (diagram_folds.cpp). A frame
// starts with an address byte: a byte under MARK after one that was not, or
// after a pause. Of a run of more than two frames that met silence, the
// first is drawn and the others folded; when more than `most_drawn` frames
// are still drawn, the middle ones are folded too, so the page's width is
// bounded whatever the length of the trace.
void fold_frames(DiagramLayout& layout, std::size_t most_drawn = 12);

}  // namespace tarvex::tool
