#include "tools/global_options.h"

#include <unistd.h>

#include <filesystem>

#include "tools/exit_status.h"

namespace tarvex::tool {
namespace {

// Why `path` cannot be written ("its directory /x does not exist"), found
// without creating or changing the file; nothing when it can.
std::optional<std::string> why_not_writable(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  const fs::path file(path);
  const fs::path directory = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (fs::is_directory(file, ignored)) return path + " is a directory";
  if (!fs::exists(directory, ignored)) return "its directory " + directory.string() + " does not exist";
  if (!fs::is_directory(directory, ignored)) return directory.string() + " is not a directory";
  // access() asks the system, which knows groups, ACLs and read-only mounts.
  if (fs::exists(file, ignored)) {
    if (access(path.c_str(), W_OK) != 0) return "no permission to write " + path;
  } else if (access(directory.string().c_str(), W_OK) != 0) {
    return "no permission to create a file in " + directory.string();
  }
  return std::nullopt;
}

}  // namespace

void add_global_options(CLI::App& app, GlobalOptions& o, const GlobalUse& use) {
  const auto global = [](CLI::Option* option) { option->group("Global options"); };
  if (use.line) {
    global(app.add_option("--port", o.port,
                          "Serial port to drive (e.g. /dev/ttyUSB0); the simulated bus when absent")
               ->type_name("NAME"));
    global(app.add_flag("--trace", o.trace,
                        "Print the line as a bus analyser shows it: time, direction, parity, bytes, "
                        "waits"));
  }
  if (use.line || use.diagram_without_line) {
    global(app.add_option("--diagram", o.diagram,
                          "Draw the trace as an SVG timing diagram into FILE (checked before "
                          "anything is sent)")
               ->type_name("FILE"));
  }
  if (use.json) global(app.add_flag("--json", o.json, "Print one JSON object for scripts, errors included"));
  if (use.yes) global(app.add_flag("--yes,-y", o.yes, "Do not ask before a large blacklist download"));
}

void check_global_options(const CLI::App& top, std::string_view name, const GlobalUse& use,
                          const GlobalOptions& options) {
  const struct {
    const char* name;
    bool used;
    std::string_view refused_because;
  } kinds[] = {
      {"--port", use.line, use.without_line},
      {"--trace", use.line, use.without_line},
      {"--diagram", use.line || use.diagram_without_line, use.without_line},
      {"--json", use.json, "prints no report to put in JSON"},
      {"--yes", use.yes, "asks nothing (only blacklist confirms a large download)"},
  };
  for (const auto& option : kinds) {
    if (option.used || top.get_option(option.name)->count() == 0) continue;
    throw UsageError(std::string(option.name) + ": " + std::string(name) + " " +
                     std::string(option.refused_because) + "; drop " + option.name);
  }
  if (options.port && options.port->empty()) throw UsageError("--port needs a NAME; an empty one names no port");
  if (options.diagram.empty()) return;
  if (const auto why = why_not_writable(options.diagram)) {
    throw UsageError("--diagram: cannot write the diagram to " + options.diagram + ": " + *why,
                     kCannotCreate);
  }
}

}  // namespace tarvex::tool
