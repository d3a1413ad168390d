// The options every subcommand takes.
#pragma once

#include <optional>
#include <string>

namespace tarvex::tool {

struct GlobalOptions {
  std::optional<std::string> port;  // a real serial port; the simulated bus when absent
  bool trace = false;               // print the line as a bus analyser shows it
  std::string diagram;              // write the trace as an SVG timing diagram here
  bool json = false;                // one JSON object on standard output
  bool yes = false;                 // do not ask before a large download
};

}  // namespace tarvex::tool
