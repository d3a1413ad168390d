// The trace drawn as a logic analyser draws it: an SVG timing diagram with a
// lane for what the host sent, one for what came back, the host's waits as
// labelled spans, port calls and line settings as marks, and the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/result.h"
#include "sim/sim_bus.h"
#include "tools/diagram_layout.h"

namespace tarvex::tool {

// The diagram's time axis. Character times are drawn to scale, so bytes
// stay readable boxes at any baud; anything longer than two characters is
// compressed logarithmically, so a 9 ms busy wait and a 4.5 s limit fit the
// same page.
class TimeScale {
 public:
  // `times`: every start and end the diagram draws; `unit_us`: one character
  // time, drawn `unit_px` wide; the axis starts at `left`.
  TimeScale(std::vector<std::uint64_t> times, std::uint64_t unit_us, double left, double unit_px = 27);

  double x(std::uint64_t t) const;
  double right() const { return xs_.empty() ? left_ : xs_.back(); }
  const std::vector<std::uint64_t>& times() const { return times_; }

  // The width an interval of `us` gets between two neighbouring times.
  double width(std::uint64_t us) const;

 private:
  std::vector<std::uint64_t> times_;
  std::vector<double> xs_;
  std::uint64_t unit_us_;
  double left_;
  double unit_px_;
};

std::string render_svg(const DiagramLayout& layout, std::optional<Result> result, const std::string& title);

// Lays out and renders `trace` into the file at `path`; false when the file
// cannot be written.
bool write_diagram_file(const std::string& path, const std::vector<trace::TraceEvent>& trace,
                        std::optional<Result> result, const std::string& title);

}  // namespace tarvex::tool
