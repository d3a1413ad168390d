#include "tools/tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <sstream>

#include "tools/exit_status.h"
#include "tools/report.h"
#include "tools/command.h"

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
pseudo-terminal; 73 the diagram cannot be written (refused before anything
is sent). With --json, errors too are one JSON object: {"error": ..., "exit": 64}.)";

// The versions the build passes in: the library's current and legacy builds.
std::string version_line() {
  return std::string("tarvex ") + TARVEX_VERSION + " (the library's current build; legacy build " +
         TARVEX_LEGACY_VERSION + ")";
}

// Whether the arguments ask for JSON, for a command line that could not be
// parsed: --json anywhere before "--".
bool asks_for_json(const std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  return std::find(args.begin(), end, "--json") != end;
}

// A run that ends without a report: one line on standard error per line of
// `message`, each naming the command, or one JSON object on standard output.
int fail(Console& console, bool json, const std::string& command, const std::string& message,
         int status) {
  if (json) {
    write_json_error(console.out, command, message, status);
    return status;
  }
  std::istringstream lines(message);
  for (std::string line; std::getline(lines, line);) {
    console.err << "tarvex" << (command.empty() ? "" : " " + command) << ": " << line << "\n";
  }
  return status;
}

// What to say when no subcommand could be chosen: name the word that is not
// one, and list those there are; or, when an option took the command for
// its value, say what that option needs.
std::string no_command_message(const CLI::App& app, const std::vector<std::string>& args) {
  std::string names;
  bool command = false;
  const auto word = std::find_if(args.begin(), args.end(),
                                 [](const std::string& a) { return !a.empty() && a[0] != '-'; });
  for (const CLI::App* sub : app.get_subcommands({})) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
    command = command || (word != args.end() && *word == sub->get_name());
  }
  if (word == args.end()) return "name a command: " + names;
  const CLI::Option* before = word == args.begin() ? nullptr : app.get_option_no_throw(*(word - 1));
  if (command && before != nullptr && !before->get_type_name().empty()) {
    return *(word - 1) + " needs a " + before->get_type_name() + "; '" + *word + "' is a command";
  }
  return "'" + *word + "' is no command; choose one of " + names;
}

}  // namespace

int run(const std::vector<std::string>& args, Console& console) {
  CLI::App app{"tarvex: talk to terminals on an RS-485 bus, or to the built-in simulated one",
               "tarvex"};
  app.footer(kFooter);
  app.require_subcommand(1);
  // The same command line on every system: CLI11 would take /x for an option
  // on Windows, and a path such as /tmp/cards.txt with it.
  app.allow_windows_style_options(false);
  app.fallthrough();  // global options may follow the subcommand
  app.set_version_flag("--version", version_line(), "Print the tool's and the library's versions");
  GlobalOptions options;
  add_global_options(app, options, GlobalUse{.yes = true});
  CommandSet commands;
  for (const auto add : {add_get_command, add_send_command, add_hex_commands, add_blacklist_command,
                         add_online_commands, add_transform_commands, add_terminal_command,
                         add_demo_command, add_log_command}) {
    add(app, commands);
  }
  for (const CommandEntry& entry : commands) add_global_options(*entry.cli, options, entry.use);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForVersion&) {
    if (!asks_for_json(args)) {
      console.out << version_line() << "\n";
    } else {
      console.out << json_object({{"version", json_string(TARVEX_VERSION)},
                                  {"legacy_version", json_string(TARVEX_LEGACY_VERSION)}})
                  << "\n";
    }
    return 0;
  } catch (const CLI::Success& help) {
    return app.exit(help, console.out, console.err);
  } catch (const CLI::ParseError& error) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (chosen.empty()) {
      return fail(console, asks_for_json(args), "",
                  no_command_message(app, args) + " (see tarvex --help)", kUsage);
    }
    const std::string name = chosen[0]->get_name();
    return fail(console, asks_for_json(args), name,
                error.what() + std::string(" (see tarvex ") + name + " --help)", kUsage);
  }

  const auto entry = std::find_if(commands.begin(), commands.end(),
                                  [](const CommandEntry& e) { return e.cli->parsed(); });
  if (entry == commands.end()) return kUsage;
  const std::string name = entry->cli->get_name();
  try {
    check_global_options(app, name, entry->use, options);
    Invocation invocation(console, options, name);
    return entry->command->run(invocation);
  } catch (const UsageError& error) {
    return fail(console, options.json, name, error.what(), error.status());
  } catch (const std::exception& error) {
    return fail(console, options.json, name, std::string("internal error: ") + error.what(),
                kInternal);
  }
}

}  // namespace tarvex::tool
