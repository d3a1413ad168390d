// How every exported function is made from its row of the entry point table
// (exports/entry_point_table.h): TARVEX_EXPORT defines it with the row's C
// signature and forwards its arguments to the row's C++ function.
//
// A function that runs on a port runs on the operating system's platform,
// built for this one call, and, when an operating-system call failed, with
// that call's own error left for the host as the entry point returns
// (errno on Linux, GetLastError on Windows): nothing done after the failure,
// clean-up included, replaces it. The transforms touch no port: they are
// called as they are, and not logged.
//
// With the exchange log on (TARVEX_LOG, trace/exchange_log.h), the exchange
// runs inside the tracing wrapper and its block is appended once the call's
// last port operation is done, before the error is handed to the host; the
// log's own system calls leave that error as it was. With the log off, what
// it costs is one check of the process's log settings.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "exports/forward_call.h"
#include "exports/parameter_lists.h"
#include "line/os_platform.h"
#include "line/platform.h"
#include "tarvex.h"
#include "trace/exchange_log.h"

// The deliverable and its version, for the log's block headers
// (cmake/deliverables.cmake sets it for each).
#ifndef TARVEX_LOG_LIBRARY
#define TARVEX_LOG_LIBRARY "tarvex"
#endif

namespace tarvex::exports {

// `call`: the entry point, its parameter names and its arguments, for the
// log: {"getdata", "n frame reply_length reply port_name ", n, frame, ...}.
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

// The log shows a `port_name` as the name the call opened and a `port` as
// the trace shows handles; every other argument as its C type says.
enum class LogAs { Value, PortName, HeldPort };
consteval LogAs log_as(std::string_view parameter) {
  return parameter == "port_name" ? LogAs::PortName
         : parameter == "port"    ? LogAs::HeldPort
                                  : LogAs::Value;
}
template <LogAs as, class T>
trace::Argument logged(T value) {
  if constexpr (as == LogAs::PortName) {
    return trace::PortNameArg{value};
  } else if constexpr (as == LogAs::HeldPort) {
    return trace::HeldPortArg{value};
  } else {
    return value;
  }
}
#define TARVEX_LOGGED(...) TARVEX_FOR_EACH(TARVEX_LOGGED_ONE, __VA_ARGS__)
#define TARVEX_LOGGED_ONE(type, name) \
  , tarvex::exports::logged<tarvex::exports::log_as(#name)>(name)

template <auto function, class... Args>
auto enter(const trace::Call& call, Args... args) {
  if constexpr (kRunsOnAPort<function, Args...>) {
    return run_on_os(call, [&](line::Platform& os) {
      return forward_call<function>(&os, exchange::kHeap, args...);
    });
  } else {
    return function(args...);
  }
}

}  // namespace tarvex::exports

// One exported function: `function` is the C++ function it forwards to,
// in namespace tarvex.
#define TARVEX_EXPORT(name, returns, function, ...)                                               \
  TARVEX_API returns TARVEX_CALL name(TARVEX_PARAMETERS(__VA_ARGS__)) TARVEX_NOEXCEPT {           \
    return tarvex::exports::enter<&tarvex::function>(                                             \
        {#name, TARVEX_PARAMETER_NAMES(__VA_ARGS__) TARVEX_LOGGED(__VA_ARGS__)}                   \
            TARVEX_FORWARDED(__VA_ARGS__));                                                       \
  }
