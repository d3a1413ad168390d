// The tarvex command-line tool, callable in-process: `args` are the
// arguments after the program name.
#pragma once

#include <string>
#include <vector>

#include "tools/console.h"

namespace tarvex::tool {

// Runs one subcommand and gives the exit status: 0 on success, the
// library's result code when an exchange failed, 64 and up for usage errors
// (see exit_status.h).
int run(const std::vector<std::string>& args, Console& console);

}  // namespace tarvex::tool
