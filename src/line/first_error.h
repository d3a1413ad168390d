// The first operating-system error of one call, kept for the host: the
// clean-up calls that follow a failure (a purge, a close) must not replace
// the reason the call ended.
#pragma once

#include <cstdint>
#include <optional>

#include "line/platform.h"

namespace tarvex::line {

class FirstError {
 public:
  void keep(const char* operation, std::uint32_t code) {
    if (!error_) error_ = OsError{operation, code};
  }
  std::optional<OsError> get() const { return error_; }

 private:
  std::optional<OsError> error_;
};

}  // namespace tarvex::line
