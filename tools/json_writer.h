// JSON text for the tool's --json output, on one line: ", " between members
// and ": " after a key. Values come in as JSON text already made.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvex::tool {

std::string json_string(std::string_view text);  // quoted, escaped
std::string json_object(const std::vector<std::pair<std::string, std::string>>& members);
std::string json_array(const std::vector<std::string>& values);

}  // namespace tarvex::tool
