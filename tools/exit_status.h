// The tool's exit statuses beyond the library's result codes (0 to 8).
#pragma once

#include <stdexcept>
#include <string>

namespace tarvex::tool {

inline constexpr int kUsage = 64;         // bad arguments or malformed input
inline constexpr int kNoInput = 66;       // an input file cannot be read
inline constexpr int kInternal = 70;      // a fault in the tool itself
inline constexpr int kSystem = 71;        // the system refused (no pseudo-terminal)
inline constexpr int kCannotCreate = 73;  // an output file cannot be written

// Thrown by a command for input it cannot use; the message is one line that
// says what to fix.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message, int status = kUsage)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

}  // namespace tarvex::tool
