// Every subcommand of the tool, each added by its own file or beside its
// kin (get-hex and send-hex, online and scan, lock and codec).
#pragma once

#include "tools/command.h"

namespace tarvex::tool {

void add_get_command(CLI::App& app, CommandSet& commands);
void add_send_command(CLI::App& app, CommandSet& commands);
void add_hex_commands(CLI::App& app, CommandSet& commands);
void add_blacklist_command(CLI::App& app, CommandSet& commands);
void add_online_commands(CLI::App& app, CommandSet& commands);  // online, scan
void add_transform_commands(CLI::App& app, CommandSet& commands);  // lock, codec
void add_terminal_command(CLI::App& app, CommandSet& commands);
void add_demo_command(CLI::App& app, CommandSet& commands);
void add_log_command(CLI::App& app, CommandSet& commands);

}  // namespace tarvex::tool
