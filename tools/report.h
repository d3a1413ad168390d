// What a command found out, shown as text for people or as JSON for
// scripts: named fields, an optional table (one row per terminal, say) and
// the library's result code with its meaning.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "line/result.h"
#include "tools/text_input.h"

namespace tarvex::tool {

// A number, a text, or bytes (shown as hex pairs in both forms).
using Value = std::variant<std::int64_t, std::string, Bytes>;

struct Field {
  std::string key;    // in JSON; empty: in text only
  std::string label;  // in text; empty: in JSON only
  Value value;
};

struct Table {
  std::string key;                  // in JSON: an array of objects under this key
  std::vector<std::string> keys;    // per column, in JSON; an empty one: in text only
  std::vector<std::string> labels;  // per column, in text; an empty one: in JSON only
  std::vector<std::vector<Value>> rows = {};
};

struct Report {
  std::string command;
  std::vector<Field> fields = {};
  std::optional<Table> table = {};
  std::optional<Result> result = {};

  // Shown as `label`, or without one as the key with spaces for underscores.
  Report& add(std::string key, Value value);
  Report& add(std::string key, std::string label, Value value);

  // Bytes the library meant to send (a frame, a block), of which the port
  // took `taken`: "frame sent: 05 C2 C7" only when it took them all, else
  // "frame (not sent): 05 C2 C7" or "frame (1 of 3 bytes sent): ...". JSON
  // has the bytes under `key` and the count taken under `key`_sent.
  Report& add_sent(const std::string& key, const Bytes& bytes, std::size_t taken);
};

// The report as text or as one JSON object, after the lines of `trace` when
// given (in JSON, a "trace" array).
void show_report(std::ostream& out, const Report& report, bool json,
                 const std::vector<std::string>* trace);

// A run that ended without a report: {"command": ..., "error": ..., "exit": ...},
// the command left out when none was chosen.
void write_json_error(std::ostream& out, const std::string& command, const std::string& message,
                      int status);

// JSON text on one line: ", " between members and ": " after a key. Values
// come in as JSON text already made.
std::string json_string(std::string_view text);  // quoted, escaped
std::string json_object(const std::vector<std::pair<std::string, std::string>>& members);
std::string json_array(const std::vector<std::string>& values);

}  // namespace tarvex::tool
