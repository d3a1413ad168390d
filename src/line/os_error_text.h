// The system's own words for an error code it gave (strerror on Linux,
// FormatMessage on Windows), for tools and logs; never used by an exchange.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex::line {

std::string os_error_text(std::uint32_t code);

}  // namespace tarvex::line
