// Prints a line trace the way a bus analyser shows it.
#pragma once

#include <ostream>
#include <vector>

#include "sim/sim_bus.h"

namespace tarvex::sim {

// One line per event, in time order, times in milliseconds since `origin_us`.
// Characters that left the line back to back with the same setting are
// grouped on one line.
void print_trace(std::ostream& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us = 0);

const char* parity_letter(line::Parity parity);

}  // namespace tarvex::sim
