// The exchange log: with TARVEX_LOG=PATH in the host's environment, every
// exported exchange appends one block to PATH: when, who, the entry point and
// its arguments, the line trace (the tool's --trace form, every byte shown),
// and the result. `tarvex log PATH` lists the blocks and draws one.
//
//   == 2025-01-02T03:04:05.678901Z pid 4242 thread 4243 tarvex 2.5.0.10
//   getdata(n=2, frame=0x7FFD5A3C10, reply_length=8, reply=0x7FFD5A3C20, port_name="COM5")
//        0.012  open   COM5 (standard timeouts) -> #1
//        ...
//       28.305  result 0 (success)
//   == end
//
// TARVEX_LOG_MAX=BYTES (K, M or G for KiB, MiB, GiB) caps the file, which is
// then rotated once to PATH.1. Both are read from the process's environment
// at the first call that asks and kept for the life of the process: with the
// held-port table, the only state the library keeps across calls.
//
// The exchange runs as it does without the log, only inside the tracing
// wrapper: the block is formatted after the call's last port operation, and
// written with the error the host will see (errno, GetLastError) kept
// across the log's own system calls. A log that cannot be written is
// skipped; nothing of it reaches the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/platform.h"
#include "trace/trace_event.h"

namespace tarvex::trace {

inline constexpr const char* kLogVariable = "TARVEX_LOG";
inline constexpr const char* kLogMaxVariable = "TARVEX_LOG_MAX";
inline constexpr std::size_t kLogPathSize = 1024;
// Trace events room is made for before the exchange runs: most calls need
// fewer, so recording does not allocate as it goes.
inline constexpr std::size_t kReservedEvents = 128;

struct LogSettings {
  bool on = false;
  char path[kLogPathSize] = {};
  std::uint64_t max_bytes = 0;  // 0: no cap
};

// TARVEX_LOG_MAX: decimal bytes, optionally followed by K, M or G (powers of
// 1024) and an optional B; nothing for anything else, and the log then stays
// off, so that a mistyped cap never lets the file grow without bound.
std::optional<std::uint64_t> parse_log_max(const char* text);

// The settings of the environment now: on when TARVEX_LOG names a path
// (shorter than kLogPathSize) and TARVEX_LOG_MAX, when set, is a cap.
LogSettings read_log_settings() noexcept;

// The process's settings: read at the first call that asks, then kept.
const LogSettings& log_settings() noexcept;

// ---- What the log says of a call --------------------------------------------

// Arguments that say more than their C type: a port name (shown as the name
// the call opened) and a held port (shown as the trace shows handles).
struct PortNameArg {
  const char* text;
};
struct HeldPortArg {
  std::uint32_t handle;
};

struct Argument {
  enum class Kind : std::uint8_t { Signed, Unsigned, Pointer, PortName, HeldPort };
  Kind kind = Kind::Signed;
  std::uint64_t value = 0;

  Argument() = default;
  Argument(std::int32_t v)
      : kind(Kind::Signed), value(static_cast<std::uint64_t>(static_cast<std::int64_t>(v))) {}
  Argument(std::uint32_t v) : kind(Kind::Unsigned), value(v) {}
  Argument(const void* p) : kind(Kind::Pointer), value(reinterpret_cast<std::uintptr_t>(p)) {}
  Argument(PortNameArg p) : kind(Kind::PortName), value(reinterpret_cast<std::uintptr_t>(p.text)) {}
  Argument(HeldPortArg h) : kind(Kind::HeldPort), value(h.handle) {}
};

// An entry point and its arguments: `names` holds the parameter names,
// separated by spaces, in the order of the values.
struct Call {
  static constexpr std::size_t kMaxArguments = 8;
  const char* entry_point = "";
  const char* names = "";
  std::array<Argument, kMaxArguments> arguments{};
  std::size_t count = 0;
  const char* library = "tarvex";  // the deliverable and its version

  template <class... Values>
  Call(const char* entry, const char* parameter_names, Values... values)
      : entry_point(entry),
        names(parameter_names),
        arguments{Argument(values)...},
        count(sizeof...(Values)) {
    static_assert(sizeof...(Values) <= kMaxArguments);
  }
};

// What the call returned: a result code, or (com_init) a held port.
struct Outcome {
  enum class Kind : std::uint8_t { Code, Port };
  Kind kind = Kind::Code;
  std::int64_t value = 0;
};

// When and where a call ran.
struct CallStamp {
  std::uint64_t wall_us = 0;  // since 1970-01-01 UTC
  std::uint64_t process = 0;
  std::uint64_t thread = 0;
};

// "2025-01-02T03:04:05.678901Z"
void append_utc(std::string& out, std::uint64_t wall_us);

// One call's block, ending in a line break. `complete`: false when the trace
// stopped for want of memory.
void format_block(std::string& out, const CallStamp& stamp, const Call& call,
                  const std::vector<TraceEvent>& trace, Outcome outcome, bool complete = true);

// ---- Running a call with the log on ------------------------------------------

// The exchange to run: `run(context, platform)` returns its result widened.
struct LoggedExchange {
  void* context;
  std::int64_t (*run)(void* context, line::Platform& platform);
};

// Runs the exchange on `os` inside the tracing wrapper, then appends its
// block to the log. Returns the exchange's result.
std::int64_t run_logged(const LogSettings& settings, const Call& call, line::Platform& os,
                        LoggedExchange exchange, Outcome::Kind outcome) noexcept;

}  // namespace tarvex::trace
