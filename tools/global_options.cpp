#include "tools/global_options.h"

#include "tools/exit_status.h"

namespace tarvex::tool {
namespace {

struct GlobalOption {
  const char* name;
  bool (*used)(const GlobalUse&);
  std::string_view refused_because;  // after the command's name; empty: the command has no line
  CLI::Option* (*add)(CLI::App&, GlobalOptions&);
};

const GlobalOption kGlobalOptions[] = {
    {"--port",
     [](const GlobalUse& u) { return u.line; },
     {},
     [](CLI::App& app, GlobalOptions& o) {
       return app
           .add_option("--port", o.port,
                       "Serial port to drive (e.g. /dev/ttyUSB0); the simulated bus when absent")
           ->type_name("NAME");
     }},
    {"--trace",
     [](const GlobalUse& u) { return u.line; },
     {},
     [](CLI::App& app, GlobalOptions& o) {
       return app.add_flag("--trace", o.trace,
                           "Print the line as a bus analyser shows it: time, direction, parity, "
                           "bytes, waits");
     }},
    {"--diagram",
     [](const GlobalUse& u) { return u.line || u.diagram_without_line; },
     {},
     [](CLI::App& app, GlobalOptions& o) {
       return app
           .add_option("--diagram", o.diagram,
                       "Draw the trace as an SVG timing diagram into FILE (checked before "
                       "anything is sent)")
           ->type_name("FILE");
     }},
    {"--json", [](const GlobalUse& u) { return u.json; }, "prints no report to put in JSON",
     [](CLI::App& app, GlobalOptions& o) {
       return app.add_flag("--json", o.json, "Print one JSON object for scripts, errors included");
     }},
    {"--yes", [](const GlobalUse& u) { return u.yes; }, "asks nothing (only blacklist confirms a large download)",
     [](CLI::App& app, GlobalOptions& o) {
       return app.add_flag("--yes,-y", o.yes, "Do not ask before a large blacklist download");
     }},
};

}  // namespace

void add_global_options(CLI::App& app, GlobalOptions& options, const GlobalUse& use) {
  for (const GlobalOption& option : kGlobalOptions) {
    if (option.used(use)) option.add(app, options)->group("Global options");
  }
}

void refuse_unused_global_options(const CLI::App& top, std::string_view name,
                                  const GlobalUse& use) {
  for (const GlobalOption& option : kGlobalOptions) {
    if (option.used(use) || top.get_option(option.name)->count() == 0) continue;
    const std::string_view because =
        option.refused_because.empty() ? use.without_line : option.refused_because;
    throw UsageError(std::string(option.name) + ": " + std::string(name) + " " +
                     std::string(because) + "; drop " + option.name);
  }
}

}  // namespace tarvex::tool
