// The stops of `tarvex demo`: one exchange per family on the simulated bus,
// each with a sentence on what it shows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "line/result.h"
#include "sim/demo_bus.h"

namespace tarvex::tool {

struct TourStep {
  std::string title;
  std::string sentence;
  bool traced;  // whether the line trace is worth showing
  // Runs the exchange on the bus and adds the lines that sum up its outcome.
  std::function<Result(sim::DemoBus&, std::vector<std::string>&)> run;
};

std::vector<TourStep> demo_tour();

}  // namespace tarvex::tool
