#include "tools/output_path.h"

#include <unistd.h>

#include <filesystem>

namespace tarvex::tool {

std::optional<std::string> why_not_writable(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  const fs::path file(path);
  const fs::path directory = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (fs::is_directory(file, ignored)) return path + " is a directory";
  if (!fs::exists(directory, ignored))
    return "its directory " + directory.string() + " does not exist";
  if (!fs::is_directory(directory, ignored)) return directory.string() + " is not a directory";
  // access() asks the system, which knows groups, ACLs and read-only mounts.
  if (fs::exists(file, ignored)) {
    if (access(path.c_str(), W_OK) != 0) return "no permission to write " + path;
  } else if (access(directory.string().c_str(), W_OK) != 0) {
    return "no permission to create a file in " + directory.string();
  }
  return std::nullopt;
}

}  // namespace tarvex::tool
