// Every subcommand of the tool, one per file.
#pragma once

#include "tools/command.h"

namespace tarvex::tool {

void add_get_command(CLI::App& app, CommandSet& commands);
void add_demo_command(CLI::App& app, CommandSet& commands);

}  // namespace tarvex::tool
