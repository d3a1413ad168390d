// Runs the tool in-process with string streams for its console.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tools/tool.h"

namespace tarvex::testing {

struct ToolRun {
  int status;
  std::string out;
  std::string err;

  bool shows(const std::string& text) const { return out.find(text) != std::string::npos; }
  bool complains(const std::string& text) const { return err.find(text) != std::string::npos; }
};

// `input` feeds standard input; `interactive` makes both it and standard
// error count as terminals (questions asked, progress drawn).
inline ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "",
                        bool interactive = false) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  tool::Console console{in, out, err, interactive, interactive};
  const int status = tool::run(args, console);
  return {status, out.str(), err.str()};
}

// The value of a top-level "key": in one line of JSON, as written: `0`,
// `"05 C2 C7"` (quotes kept), or empty when the key is absent.
inline std::string json_field(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\": ";
  const auto at = json.find(needle);
  if (at == std::string::npos) return "";
  auto start = at + needle.size();
  auto end = start;
  if (json[start] == '"') {
    end = json.find('"', start + 1) + 1;
  } else {
    while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
  }
  return json.substr(start, end - start);
}

}  // namespace tarvex::testing
