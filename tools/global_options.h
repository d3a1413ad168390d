// The options every subcommand may take, which of them each command uses,
// and the refusal of the others.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tarvex::tool {

struct GlobalOptions {
  std::optional<std::string> port;  // a real serial port; the simulated bus when absent
  bool trace = false;               // print the line as a bus analyser shows it
  std::string diagram;              // write the trace as an SVG timing diagram here
  bool json = false;                // one JSON object on standard output
  bool yes = false;                 // do not ask before a large download
};

// Which global options a command makes use of. `line` covers --port, --trace
// and --diagram: they all concern the line a command talks over.
struct GlobalUse {
  bool line = true;
  bool json = true;
  bool yes = false;
  bool diagram_without_line = false;  // draws what it reads, not a line (--diagram only)
  std::string_view without_line = {};  // why a command without a line has none
};

// A command that runs exchanges on a line and reports them.
inline constexpr GlobalUse kOnALine{};

// Adds the global options `use` covers to `app`, bound to `options`. The
// top-level command gets them all (so they may come before the subcommand),
// each subcommand those it uses (so its help shows them).
void add_global_options(CLI::App& app, GlobalOptions& options, const GlobalUse& use);

// Before the command `name` runs: a UsageError naming the first global
// option given to `top` that the command does not use, refusing an empty
// port name, or saying why the diagram cannot be written where --diagram
// asks, so that a diagram that cannot be written never costs an exchange.
void check_global_options(const CLI::App& top, std::string_view name, const GlobalUse& use,
                          const GlobalOptions& options);

}  // namespace tarvex::tool
