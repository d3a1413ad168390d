// The trace drawn as a logic analyser draws it: an SVG timing diagram with a
// lane for what the host sent, one for what came back, the host's waits as
// labelled spans, port calls and line settings as marks, and the result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "line/result.h"
#include "sim/sim_bus.h"
#include "tools/diagram_layout.h"

namespace tarvex::tool {

std::string render_svg(const DiagramLayout& layout, std::optional<Result> result, const std::string& title);

// Lays out and renders `trace` into the file at `path`; false when the file
// cannot be written.
bool write_diagram_file(const std::string& path, const std::vector<trace::TraceEvent>& trace,
                        std::optional<Result> result, const std::string& title);

}  // namespace tarvex::tool
