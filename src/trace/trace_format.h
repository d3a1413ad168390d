// A line trace as text, the way a bus analyser shows it: what the tool's
// --trace prints and what the exchange log writes (exchange_log.h), one
// implementation for both. Text is appended to a string: no streams, so the
// DLLs carry no iostreams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "line/result.h"
#include "trace/trace_event.h"

namespace tarvex::trace {

// One line per event, in time order, times in milliseconds since `origin_us`.
// Characters that left the line back to back with the same setting are
// grouped on one line, as are bytes read one after the other; a group of more
// than `max_bytes` shows its first and last bytes and its length (0: show
// every byte).
void format_trace(std::string& out, const std::vector<TraceEvent>& trace,
                  std::uint64_t origin_us = 0, std::size_t max_bytes = 32);
// The same, as a string of its own.
std::string trace_text(const std::vector<TraceEvent>& trace, std::uint64_t origin_us = 0,
                       std::size_t max_bytes = 32);

// The closing line of a trace: the result code and its meaning, at the end
// of the last event.
void format_result(std::string& out, const std::vector<TraceEvent>& trace, Result result,
                   std::uint64_t origin_us = 0);

// The end of the last event of a trace, or `origin_us` for an empty one.
std::uint64_t trace_end_us(const std::vector<TraceEvent>& trace, std::uint64_t origin_us = 0);

// "    12.345": microseconds as milliseconds, three decimals, ten wide.
void append_ms(std::string& out, std::uint64_t us);
// "#1A", or "invalid" for the all-ones handle.
void append_handle(std::string& out, line::Handle handle);
void append_hex_byte(std::string& out, std::uint8_t byte);
// `value` in decimal, at least `width` wide, `fill` on its left.
void append_padded(std::string& out, std::uint64_t value, std::size_t width, char fill);
// Upper-case hex digits, no leading zeros.
void append_hex(std::string& out, std::uint64_t value);
void append_decimal(std::string& out, std::uint64_t value);

// "M 1 9600", "S 2 kept" (the baud not known).
std::string setting_text(const LineSetting& setting);

}  // namespace tarvex::trace
