// Reading an exchange log back (exchange_log.h): its blocks, one per call,
// with the trace lines as written and the trace events parsed from them, so
// that `tarvex log` can list the calls and draw any of them as --diagram
// does. Not part of the deliverables: the tool and the tests use it.
//
// What the text gives back: every event the timing diagram needs, at the
// microsecond (rx and tx lines: trace_grammar.h). An error's code comes
// back, its words stay in the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/exchange_log.h"
#include "trace/trace_event.h"

namespace tarvex::trace {

struct LoggedCall {
  std::size_t first_line = 0;  // where its block starts in the file, from 1
  std::string time;            // "2025-01-02T03:04:05.678901Z"
  std::uint64_t process = 0;
  std::uint64_t thread = 0;
  std::string library;             // "tarvex 2.5.0.10"
  std::string entry_point;         // "getdata"
  std::string call;                // the call line: getdata(n=2, ...)
  std::string port;                // the port it opened, or the held port it was given ("#1")
  std::vector<std::string> lines;  // the trace lines and the result line, as written
  std::vector<TraceEvent> events;
  Outcome outcome;
  std::string result;    // "0 (success)", "#1 (a held port)"
  bool complete = true;  // false: the trace stopped for want of memory
};

struct LogReading {
  std::vector<LoggedCall> calls;
  // What is not a whole block: "line 17: ...", one each.
  std::vector<std::string> problems;
};

LogReading read_log(std::string_view text);

// The events of one trace line ("    12.345  tx     M 1 9600  05  (1.146 ms on the line)"),
// appended to `events`; false when it is not a trace line. `handle` is the
// port the lines that name none belong to, updated by open, close and purge.
bool parse_trace_line(std::string_view line, std::vector<TraceEvent>& events, line::Handle& handle);

}  // namespace tarvex::trace
