// The tool's subcommands. Each one stores its exit status in `status`:
// 0 on success, otherwise the library's result code.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvex::tool {

void add_demo_command(CLI::App& app, int& status);

}  // namespace tarvex::tool
