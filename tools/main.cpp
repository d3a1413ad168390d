// The tarvex command-line tool.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/tool.h"

int main(int argc, char** argv) {
  tarvex::tool::Console console{std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) == 1,
                                isatty(STDERR_FILENO) == 1};
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = tarvex::tool::run(args, console);
  std::cout.flush();
  return status;
}
