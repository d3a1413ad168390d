// Prints a line trace the way a bus analyser shows it.
#pragma once

#include <ostream>
#include <vector>

#include "line/result.h"
#include "sim/sim_bus.h"

namespace tarvex::sim {

// One line per event, in time order, times in milliseconds since `origin_us`.
// Characters that left the line back to back with the same setting are
// grouped on one line, as are bytes read one after the other; a group of more
// than `max_bytes` shows its first and last bytes and its length (0: show
// every byte).
void print_trace(std::ostream& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us = 0,
                 std::size_t max_bytes = 32);

// The closing line of a trace: the result code and its meaning, at the end
// of the last event.
void print_result(std::ostream& out, const std::vector<TraceEvent>& trace, Result result,
                  std::uint64_t origin_us = 0);

const char* parity_letter(line::Parity parity);

}  // namespace tarvex::sim
