// Where a run of the tool reads and writes, so the commands can be run from
// tests with string streams in place of the process's standard streams.
#pragma once

#include <istream>
#include <ostream>

namespace tarvex::tool {

struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool in_is_terminal = false;   // a question may be asked on `in`
  bool err_is_terminal = false;  // progress lines may be drawn on `err`
};

}  // namespace tarvex::tool
