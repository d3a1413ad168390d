// How every exported exchange runs: on the operating system's platform,
// built for this one call, and, when an operating-system call failed, with
// that call's own error left for the host as the entry point returns
// (errno on Linux, GetLastError on Windows): nothing done after the failure,
// clean-up included, replaces it.
#pragma once

#include "line/os_platform.h"
#include "line/platform.h"

namespace tarvex::exports {

template <class Exchange>
auto run_on_os(Exchange&& exchange) {
  line::OsPlatform os;
  const auto result = exchange(static_cast<line::Platform&>(os));
  os.hand_error_to_host();
  return result;
}

}  // namespace tarvex::exports
