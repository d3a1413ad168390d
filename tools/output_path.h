// Whether an output file can be written where the user asked, checked before
// a command does anything, without creating or changing the file.
#pragma once

#include <optional>
#include <string>

namespace tarvex::tool {

// Why `path` cannot be written ("its directory /x does not exist"), or
// nothing when it can.
std::optional<std::string> why_not_writable(const std::string& path);

}  // namespace tarvex::tool
