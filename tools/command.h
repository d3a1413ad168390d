// A subcommand: its options live in the object, bound when it is made;
// run() does the work once the command line has been parsed. Each command is
// added by its own file or beside its kin (get and send, get-hex and
// send-hex, online and scan, lock and codec).
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "tools/invocation.h"

namespace tarvex::tool {

class Command {
 public:
  virtual ~Command() = default;
  virtual int run(Invocation& invocation) = 0;
};

struct CommandEntry {
  CLI::App* cli;
  std::unique_ptr<Command> command;
  GlobalUse use;  // the global options it takes; the others are refused
};
using CommandSet = std::vector<CommandEntry>;

// Adds a subcommand to `app` and its object to `commands`.
template <class C>
void add_command(CLI::App& app, CommandSet& commands, const std::string& name,
                 const std::string& description, const GlobalUse& use = kOnALine) {
  CLI::App* cli = app.add_subcommand(name, description);
  commands.push_back({cli, std::make_unique<C>(*cli), use});
}

void add_get_command(CLI::App& app, CommandSet& commands);
void add_send_command(CLI::App& app, CommandSet& commands);
void add_hex_commands(CLI::App& app, CommandSet& commands);
void add_blacklist_command(CLI::App& app, CommandSet& commands);
void add_online_commands(CLI::App& app, CommandSet& commands);     // online, scan
void add_transform_commands(CLI::App& app, CommandSet& commands);  // lock, codec
void add_terminal_command(CLI::App& app, CommandSet& commands);
void add_demo_command(CLI::App& app, CommandSet& commands);
void add_log_command(CLI::App& app, CommandSet& commands);

}  // namespace tarvex::tool
