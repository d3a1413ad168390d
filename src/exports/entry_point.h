// How every exported exchange runs: on the operating system's platform,
// built for this one call, and, when an operating-system call failed, with
// that call's own error left for the host as the entry point returns
// (errno on Linux, GetLastError on Windows): nothing done after the failure,
// clean-up included, replaces it.
//
// With the exchange log on (TARVEX_LOG, trace/exchange_log.h), the exchange
// runs inside the tracing wrapper and its block is appended once the call's
// last port operation is done, before the error is handed to the host; the
// log's own system calls leave that error as it was. With the log off, what
// it costs is one check of the process's log settings.
#pragma once

#include <cstdint>
#include <type_traits>

#include "line/os_platform.h"
#include "line/platform.h"
#include "trace/exchange_log.h"

// The deliverable and its version, for the log's block headers
// (cmake/deliverables.cmake sets it for each).
#ifndef TARVEX_LOG_LIBRARY
#define TARVEX_LOG_LIBRARY "tarvex"
#endif

namespace tarvex::exports {

using trace::HeldPortArg;
using trace::PortNameArg;

// `call`: the entry point, its parameter names and its arguments, for the
// log: {"getdata", "n frame reply_length reply port_name", n, frame, ...}.
template <class Exchange>
auto run_on_os(const trace::Call& call, Exchange&& exchange) {
  using Result = decltype(exchange(std::declval<line::Platform&>()));
  line::OsPlatform os;
  const trace::LogSettings& log = trace::log_settings();
  if (!log.on) [[likely]] {
    const Result result = exchange(static_cast<line::Platform&>(os));
    os.hand_error_to_host();
    return result;
  }
  trace::Call logged = call;
  logged.library = TARVEX_LOG_LIBRARY;
  const auto run = [](void* context, line::Platform& platform) -> std::int64_t {
    return (*static_cast<std::remove_reference_t<Exchange>*>(context))(platform);
  };
  const auto result = static_cast<Result>(trace::run_logged(log, logged, os, {&exchange, run},
                                                            std::is_same_v<Result, line::Handle>
                                                                ? trace::Outcome::Kind::Port
                                                                : trace::Outcome::Kind::Code));
  os.hand_error_to_host();
  return result;
}

}  // namespace tarvex::exports
