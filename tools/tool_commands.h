// Every subcommand of the tool, one per file.
#pragma once

#include "tools/command.h"

namespace tarvex::tool {

void add_get_command(CLI::App& app, CommandSet& commands);
void add_send_command(CLI::App& app, CommandSet& commands);
void add_hex_commands(CLI::App& app, CommandSet& commands);
void add_blacklist_command(CLI::App& app, CommandSet& commands);
void add_online_command(CLI::App& app, CommandSet& commands);
void add_scan_command(CLI::App& app, CommandSet& commands);
void add_lock_command(CLI::App& app, CommandSet& commands);
void add_codec_command(CLI::App& app, CommandSet& commands);
void add_terminal_command(CLI::App& app, CommandSet& commands);
void add_demo_command(CLI::App& app, CommandSet& commands);
void add_log_command(CLI::App& app, CommandSet& commands);

}  // namespace tarvex::tool
