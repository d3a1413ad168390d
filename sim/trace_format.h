// The line trace printed to a stream, for the tool and the tests: the
// library's own printer (src/trace/trace_format.h), which writes to a
// string so that the DLLs carry no iostreams.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "trace/trace_format.h"

namespace tarvex::sim {

inline void print_trace(std::ostream& out, const std::vector<trace::TraceEvent>& trace,
                        std::uint64_t origin_us = 0, std::size_t max_bytes = 32) {
  std::string text;
  trace::format_trace(text, trace, origin_us, max_bytes);
  out << text;
}

inline void print_result(std::ostream& out, const std::vector<trace::TraceEvent>& trace, Result result,
                         std::uint64_t origin_us = 0) {
  std::string text;
  trace::format_result(text, trace, result, origin_us);
  out << text;
}

}  // namespace tarvex::sim
