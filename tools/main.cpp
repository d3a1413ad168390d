// The tarvex command-line tool.
#include <CLI/CLI.hpp>

#include "tool_commands.h"

int main(int argc, char** argv) {
  CLI::App app{"tarvex: talk to terminals on an RS-485 bus, or to the built-in simulated one"};
  app.require_subcommand(1);
  int status = 0;
  tarvex::tool::add_demo_command(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 64;  // 64 and up: usage errors
  }
  return status;
}
