#include "trace/exchange_log.h"

#include <chrono>
#include <cstring>
#include <string_view>

#include "line/result.h"
#include "trace/log_system.h"
#include "trace/trace_format.h"
#include "trace/tracing_platform.h"

namespace tarvex::trace {
namespace {

void append_pointer(std::string& out, std::uint64_t value) {
  if (value == 0) {
    out += "null";
    return;
  }
  out += "0x";
  append_hex(out, value);
}

// A port name between quotes: printable ASCII as it is, anything else as \xHH.
void append_quoted(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte > 0x7E) {
      out += "\\x";
      append_hex_byte(out, byte);
    } else {
      out += c;
    }
  }
  out += '"';
}

// The name the call opened: the log reads nothing of the caller's memory that
// the call itself did not read, so a name that was never opened (an argument
// out of contract ended the call first) shows as its address.
const std::string* opened_name(const std::vector<TraceEvent>& trace) {
  for (const TraceEvent& e : trace) {
    if (const Open* open = std::get_if<Open>(&e)) return &open->name;
  }
  return nullptr;
}

void append_call(std::string& out, const Call& call, const std::vector<TraceEvent>& trace) {
  out += call.entry_point;
  out += '(';
  const char* name = call.names;
  for (std::size_t i = 0; i < call.count; ++i) {
    if (i != 0) out += ", ";
    while (*name == ' ') ++name;
    const char* end = name;
    while (*end != '\0' && *end != ' ') ++end;
    out.append(name, static_cast<std::size_t>(end - name));
    name = end;
    out += '=';
    const Argument& a = call.arguments[i];
    switch (a.kind) {
      case Argument::Kind::Signed: {
        const auto v = static_cast<std::int64_t>(a.value);
        if (v < 0) out += '-';
        append_decimal(out, v < 0 ? static_cast<std::uint64_t>(-v) : static_cast<std::uint64_t>(v));
        break;
      }
      case Argument::Kind::Unsigned: append_decimal(out, a.value); break;
      case Argument::Kind::Pointer: append_pointer(out, a.value); break;
      case Argument::Kind::HeldPort: append_handle(out, static_cast<line::Handle>(a.value)); break;
      case Argument::Kind::PortName:
        if (const std::string* opened = opened_name(trace); opened != nullptr && a.value != 0) {
          append_quoted(out, *opened);
        } else {
          append_pointer(out, a.value);
        }
        break;
    }
  }
  out += ")\n";
}

}  // namespace

std::optional<std::uint64_t> parse_log_max(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  std::uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(*text - '0');
  }
  constexpr std::string_view kUnits = "KMGkmg";  // powers of 1024
  const std::size_t unit = kUnits.find(*text);
  const unsigned shift =
      unit == std::string_view::npos ? 0 : 10 * static_cast<unsigned>(unit % 3 + 1);
  if (shift != 0) ++text;
  if (*text == 'b' || *text == 'B') ++text;
  if (*text != '\0') return std::nullopt;
  if (shift != 0 && value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

LogSettings read_log_settings() noexcept {
  const system::KeptError kept;  // GetEnvironmentVariableA sets the last error when unset
  LogSettings settings;
  if (!system::environment(kLogVariable, settings.path, sizeof settings.path)) return settings;
  char max[32];
  if (system::environment(kLogMaxVariable, max, sizeof max)) {
    const std::optional<std::uint64_t> cap = parse_log_max(max);
    if (!cap) return LogSettings{};
    settings.max_bytes = *cap;
  }
  settings.on = true;
  return settings;
}

const LogSettings& log_settings() noexcept {
  static const LogSettings settings = read_log_settings();
  return settings;
}

void append_utc(std::string& out, std::uint64_t wall_us) {
  const std::uint64_t seconds = wall_us / 1000000;
  const std::chrono::year_month_day date{
      std::chrono::sys_days{std::chrono::days{static_cast<std::int64_t>(seconds / 86400)}}};
  const auto of_day = static_cast<unsigned>(seconds % 86400);
  append_decimal(out, static_cast<std::uint64_t>(static_cast<int>(date.year())));
  out += '-';
  append_padded(out, static_cast<unsigned>(date.month()), 2, '0');
  out += '-';
  append_padded(out, static_cast<unsigned>(date.day()), 2, '0');
  out += 'T';
  append_padded(out, of_day / 3600, 2, '0');
  out += ':';
  append_padded(out, of_day / 60 % 60, 2, '0');
  out += ':';
  append_padded(out, of_day % 60, 2, '0');
  out += '.';
  append_padded(out, wall_us % 1000000, 6, '0');
  out += 'Z';
}

void format_block(std::string& out, const CallStamp& stamp, const Call& call,
                  const std::vector<TraceEvent>& trace, Outcome outcome, bool complete) {
  out += "== ";
  append_utc(out, stamp.wall_us);
  out += " pid ";
  append_decimal(out, stamp.process);
  out += " thread ";
  append_decimal(out, stamp.thread);
  out += ' ';
  out += call.library;
  out += '\n';
  append_call(out, call, trace);
  format_trace(out, trace, 0, 0);
  if (outcome.kind == Outcome::Kind::Code) {
    format_result(out, trace, static_cast<Result>(outcome.value));
  } else {
    append_ms(out, trace_end_us(trace));
    const auto port = static_cast<line::Handle>(outcome.value);
    out += "  result ";
    append_handle(out, port);
    out += port == line::kInvalidHandle ? " (the port did not open)\n" : " (a held port)\n";
  }
  out += complete ? "== end\n" : "== end (the trace stopped here: out of memory)\n";
}

std::int64_t run_logged(const LogSettings& settings, const Call& call, line::Platform& os,
                        LoggedExchange exchange, Outcome::Kind outcome) noexcept {
  const CallStamp stamp{system::wall_clock_us(), system::process_id(), system::thread_id()};
  // The clock and the wrapper take their memory before the exchange starts.
  std::optional<TracingPlatform> tracer;
  try {
    tracer.emplace(os, TracingPlatform::monotonic_clock(), kReservedEvents);
  } catch (...) {
    return exchange.run(exchange.context, os);
  }
  const std::int64_t result = exchange.run(exchange.context, *tracer);
  // After the call's last port operation: nothing below touches the port,
  // and what the exchange left in errno (GetLastError) is put back once the
  // log's own calls, the freeing of its memory included, are done.
  const system::KeptError kept;
  try {
    std::string block;
    block.reserve(4096);
    format_block(block, stamp, call, tracer->trace(), Outcome{outcome, result}, tracer->complete());
    system::append(settings.path, settings.max_bytes, block.data(), block.size());
  } catch (...) {
    // Out of memory while formatting: this call goes unlogged.
  }
  tracer.reset();
  return result;
}

}  // namespace tarvex::trace
