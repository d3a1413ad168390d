// The trace as text, one line per event: the time in ms, the kind's word
// seven wide, its fields ("    12.345  open   COM5 (standard timeouts) -> #1").
// Each kind of line has one layout below, a step list over `io`, which either
// writes the fields (TextWriter, trace_format.cpp) or reads them back
// (TextReader, log_reader.cpp). A line that names no port is on the port of
// the lines before it. The steps:
//   word(w) lit(text)       the kind's word; this text
//   number(n) handle(h)     a count; a port, which the lines after it are on
//   span(e) bytes(b)        how long the event took; hex bytes
//   number_or(n, none)      a count, or `none` when there is none
//   text(s, until, where)   free text up to the first or last `until`
//   words(made, until)      words made of other fields; read: skipped
//   choice(v, words)        of words listed by rising value, the last at or below v
//   part(shown, text)       an optional part, there exactly when `shown`
//   marked(flag, text)      `text` is there exactly when `flag` is set (read: sets it)
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "line/os_error_text.h"
#include "trace/trace_event.h"

namespace tarvex::trace {

// Bytes read one after the other: one rx line, from the first read to the
// end of the last. Read back, spread evenly over that span.
struct ReadRun : OnPort {
  std::vector<std::uint8_t> bytes;
};

// Characters that left the line back to back under one setting (baud empty:
// not known): one tx line. Read back, each takes an equal share of the span,
// or its time at 9600 baud when the baud is not known.
struct SentRun : OnPort {
  LineSetting setting{Parity::None, StopBits::One, std::nullopt};
  std::vector<std::uint8_t> bytes;
};

inline constexpr std::size_t kWordWidth = 7;
enum class Search { First, Last };

template <class Value>
using Word = std::pair<Value, std::string_view>;  // a value and its words

// An event of kind K, to write (const) or to read into.
template <class E, class K>
concept Like = std::same_as<std::remove_const_t<E>, K>;

void layout(auto& io, Like<LineSetting> auto& s) {  // M 1 9600, S 2 kept (the baud not known)
  io.choice(s.parity, {{Parity::None, "N "}, {Parity::Mark, "M "}, {Parity::Space, "S "}});
  io.choice(s.stop_bits, {{StopBits::One, "1 "}, {StopBits::Two, "2 "}});
  io.number_or(s.baud, "kept");
}

void layout(auto& io, Like<Open> auto& e) {  // open   COM5 (standard timeouts) -> #1
  io.word("open");
  io.text(e.name, " (", Search::Last);
  io.choice(e.timeouts, {{line::TimeoutSet::Standard, " (standard timeouts) -> "},
                         {line::TimeoutSet::Reopen, " (re-open timeouts) -> "}});
  io.handle(e.handle);
}

void layout(auto& io, Like<Close> auto& e) {  // close  #1
  io.word("close");
  io.handle(e.handle);
}

void layout(auto& io, Like<Purge> auto& e) {  // purge  input of #1
  io.word("purge");
  io.lit("input of ");
  io.handle(e.handle);
}

void layout(auto& io, Like<SetLine> auto& e) {  // line   M 1 9600
  io.word("line");
  layout(io, e.setting);
}

// write  3 byte(s), 3 taken[: 05 A1 A6 (under the port's setting from before the call)]
void layout(auto& io, Like<Write> auto& e) {
  io.word("write");
  io.number(e.asked);
  io.lit(" byte(s), ");
  io.number(e.taken);
  io.lit(" taken");
  if (io.marked(e.unplaced, ": ")) {
    io.bytes(e.bytes);
    io.lit(" (under the port's setting from before the call)");
  }
}

void layout(auto& io, Like<ReadRun> auto& e) {  // rx     10 20 30  (2.450 ms)
  io.word("rx");
  io.bytes(e.bytes);
  if (io.part(e.bytes.size() > 1, "  (")) {
    io.span(e);
    io.lit(")");
  }
}

void layout(auto& io, Like<ReadIdle> auto& e) {  // read   nothing for 15.000 ms
  io.word("read");
  io.lit("nothing for ");
  io.span(e);
}

void layout(auto& io, Like<HungUp> auto&) {  // read   the port has hung up
  io.word("read");
  io.lit("the port has hung up");
}

void layout(auto& io, Like<Failed> auto& e) {  // error  open: No such file or directory (code 2)
  io.word("error");
  io.text(e.operation, ": ", Search::First);
  io.lit(": ");
  io.words([&e] { return line::os_error_text(e.code); }, " (code ");
  io.lit(" (code ");
  io.number(e.code);
  io.lit(")");
}

void layout(auto& io, Like<QueueQuery> auto& e) {  // drain  1.234 ms, queue empty
  io.word("drain");
  io.span(e);
  io.choice(e.queued, {{0, ", queue empty"}, {1, ", queue not empty"}});
}

void layout(auto& io, Like<Spin> auto& e) {  // wait   9.000 ms busy
  io.word("wait");
  io.span(e);
  io.choice(e.readings, {{Spin::kBusy, " busy"}});
}

void layout(auto& io, Like<SentRun> auto& e) {  // tx     M 1 9600  05 C2  (2.292 ms on the line)
  io.word("tx");
  layout(io, e.setting);
  io.lit("  ");
  io.bytes(e.bytes);
  // With the baud not known (kept), neither is their time on the line.
  if (io.part(e.setting.baud.has_value(), "  (")) {
    io.span(e);
    io.lit(" on the line)");
  }
}

// Every kind of line, as a reader tries them.
using TextLines = std::tuple<Open, Close, Purge, SetLine, Write, ReadRun, ReadIdle, HungUp, Failed,
                             QueueQuery, Spin, SentRun>;

}  // namespace tarvex::trace
