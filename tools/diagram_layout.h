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

struct DiagramLayout {
  std::vector<DiagramBox> boxes;
  std::vector<DiagramSpan> spans;
  std::vector<DiagramMark> marks;
  std::uint64_t char_us = 1146;  // the shortest character time seen: the diagram's unit
  std::uint64_t end_us = 0;
};

// Runs of more than `group_above` back-to-back bytes become one group box.
DiagramLayout layout_diagram(const std::vector<sim::TraceEvent>& trace, std::size_t group_above = 24);

}  // namespace tarvex::tool
