#include "tools/json_writer.h"

#include <cstdio>

namespace tarvex::tool {

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.append(1, '\\').append(1, c);
    } else if (c == '\n' || c == '\t') {
      out.append(c == '\n' ? "\\n" : "\\t");
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out.append(escaped);
    } else {
      out.append(1, c);
    }
  }
  return out.append("\"");
}

std::string json_object(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (const auto& [key, value] : members) out.append(out.size() > 1 ? ", " : "").append(json_string(key) + ": " + value);
  return out.append("}");
}

std::string json_array(const std::vector<std::string>& values) {
  std::string out = "[";
  for (const std::string& value : values) out.append(out.size() > 1 ? ", " : "").append(value);
  return out.append("]");
}

}  // namespace tarvex::tool
