#include "tools/tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>

#include "tools/exit_status.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr const char* kFooter = R"(
Without --port every command runs against the built-in simulated bus (port
SIM1) with demo terminals at addresses 05, 12 and 31, so it works on any
machine; each run starts with fresh terminals. With --port NAME it drives
that serial port (/dev/ttyUSB0, say). Bytes and addresses are hex (05C2,
0x31); lengths, limits and bauds decimal. `tarvex CMD --help` explains each.

Exit status: 0 success; 1 to 8 the library's result code; 64 bad arguments
or input; 66 an input file cannot be read; 70 a fault in the tool; 71 no
pseudo-terminal; 73 the diagram cannot be written.)";

void add_global_options(CLI::App& app, GlobalOptions& options) {
  app.add_option("--port", options.port,
                 "Serial port to drive (e.g. /dev/ttyUSB0); the simulated bus when absent")
      ->type_name("NAME");
  app.add_flag("--trace", options.trace,
               "Print the line as a bus analyser shows it: time, direction, parity, bytes, waits");
  app.add_option("--diagram", options.diagram, "Draw the trace as an SVG timing diagram into FILE")
      ->type_name("FILE");
  app.add_flag("--json", options.json, "Print one JSON object for scripts");
  app.add_flag("--yes,-y", options.yes, "Do not ask before a large blacklist download");
}

// What to say when no subcommand could be chosen: name the word that is not
// one, and list those there are.
std::string no_command_message(const CLI::App& app, const std::vector<std::string>& args) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
  const auto word = std::find_if(args.begin(), args.end(),
                                 [](const std::string& a) { return !a.empty() && a[0] != '-'; });
  if (word == args.end()) return "name a command: " + names;
  return "'" + *word + "' is no command; choose one of " + names;
}

}  // namespace

int run(const std::vector<std::string>& args, Console& console) {
  CLI::App app{"tarvex: talk to terminals on an RS-485 bus, or to the built-in simulated one",
               "tarvex"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the subcommand
  GlobalOptions options;
  add_global_options(app, options);
  CommandSet commands;
  add_get_command(app, commands);
  add_send_command(app, commands);
  add_hex_commands(app, commands);
  add_blacklist_command(app, commands);
  add_online_command(app, commands);
  add_scan_command(app, commands);
  add_lock_command(app, commands);
  add_codec_command(app, commands);
  add_terminal_command(app, commands);
  add_demo_command(app, commands);
  add_log_command(app, commands);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::Success& help) {
    return app.exit(help, console.out, console.err);
  } catch (const CLI::ParseError& error) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (chosen.empty()) {
      console.err << "tarvex: " << no_command_message(app, args) << " (see tarvex --help)\n";
    } else {
      console.err << "tarvex " << chosen[0]->get_name() << ": " << error.what() << " (see tarvex "
                  << chosen[0]->get_name() << " --help)\n";
    }
    return kUsage;
  }

  const auto entry = std::find_if(commands.begin(), commands.end(),
                                  [](const CommandEntry& e) { return e.cli->parsed(); });
  if (entry == commands.end()) return kUsage;
  Invocation invocation(console, options);
  try {
    return entry->command->run(invocation);
  } catch (const UsageError& error) {
    console.err << "tarvex " << entry->cli->get_name() << ": " << error.what() << "\n";
    return error.status();
  } catch (const std::exception& error) {
    console.err << "tarvex " << entry->cli->get_name() << ": internal error: " << error.what() << "\n";
    return kInternal;
  }
}

}  // namespace tarvex::tool
