#include "line/os_error_text.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cstring>
#endif

namespace tarvex::line {

#if defined(_WIN32)

std::string os_error_text(std::uint32_t code) {
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string words(text, length);
  // The system's messages end in a full stop and a line break.
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "error " + std::to_string(code) : words;
}

#else

std::string os_error_text(std::uint32_t code) {
  char text[256] = {};
  // The GNU strerror_r: it may give back its own static text instead of
  // filling the buffer.
  return strerror_r(static_cast<int>(code), text, sizeof text);
}

#endif

}  // namespace tarvex::line
