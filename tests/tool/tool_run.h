// Runs the tool in-process with string streams for its console.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/tool.h"

namespace tarvex::testing {

// Output for scripts: one JSON value a strict reader takes, with no key twice
// in an object and every "result" a number with its "meaning" beside it.
inline void expect_strict_json(const std::string& text) {
  using Event = nlohmann::json::parse_event_t;
  std::vector<std::set<std::string>> keys;
  bool bad = false;
  const auto json = nlohmann::json::parse(text, [&](int, Event event, nlohmann::json& parsed) {
    if (event == Event::object_start) keys.emplace_back();
    bad = bad || (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second);
    if (event != Event::object_end) return true;
    keys.pop_back();
    bad = bad || (parsed.contains("result") && !(parsed["result"].is_number() && parsed.contains("meaning")));
    return true;
  }, false);
  EXPECT_FALSE(json.is_discarded() || bad) << text;
}

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
  if (!out.str().empty() && std::find(args.begin(), args.end(), "--json") != args.end()) expect_strict_json(out.str());
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
