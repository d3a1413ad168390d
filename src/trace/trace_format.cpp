#include "trace/trace_format.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "trace/trace_grammar.h"

namespace tarvex::trace {
namespace {

void append_number(std::string& out, std::uint64_t value, unsigned base) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value != 0);
  while (n > 0) out += digits[--n];
}

// "     12.345": microseconds as milliseconds, three decimals, the whole
// part at least `width` wide.
void append_millis(std::string& out, std::uint64_t us, std::size_t width) {
  append_padded(out, us / 1000, width, ' ');
  out += '.';
  append_padded(out, us % 1000, 3, '0');
}

// The writing side of the layouts' steps (trace_grammar.h).
class TextWriter {
 public:
  TextWriter(std::string& out, std::uint64_t origin_us, std::size_t max_bytes)
      : out_(out), origin_us_(origin_us), max_bytes_(max_bytes) {}

  void line(const auto& e) {
    append_ms(out_, e.time_us >= origin_us_ ? e.time_us - origin_us_ : 0);
    out_ += "  ";
    layout(*this, e);
    out_ += '\n';
  }

  void word(std::string_view word) {
    out_ += word;
    out_.append(kWordWidth - word.size(), ' ');
  }
  void lit(std::string_view text) { out_ += text; }
  void number(std::uint32_t value) { append_decimal(out_, value); }
  void handle(Handle handle) { append_handle(out_, handle); }
  void span(const Timed& e) {
    append_millis(out_, e.end_us - e.time_us, 0);
    out_ += " ms";
  }
  void number_or(const std::optional<std::uint32_t>& value, std::string_view none) {
    if (value) return append_decimal(out_, *value);
    out_ += none;
  }
  // A group of more than max_bytes_ (0: no limit) shows its first bytes, its
  // last four and its length.
  void bytes(const std::vector<std::uint8_t>& bytes) {
    const bool cut = max_bytes_ != 0 && bytes.size() > max_bytes_;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i != 0) out_ += ' ';
      if (cut && i == max_bytes_ - 4) {
        out_ += "... ";
        i = bytes.size() - 4;
      }
      append_hex_byte(out_, bytes[i]);
    }
    if (!cut) return;
    out_ += "  [";
    append_decimal(out_, bytes.size());
    out_ += " bytes]";
  }
  void text(const std::string& text, std::string_view, Search) { out_ += text; }
  void words(const auto& made, std::string_view) { out_ += made(); }
  template <class Value>
  void choice(Value value, std::initializer_list<Word<Value>> words) {
    const Word<Value>* chosen = nullptr;
    for (const Word<Value>& w : words) {
      if (w.first <= value) chosen = &w;
    }
    if (chosen != nullptr) out_ += chosen->second;
  }
  bool part(bool shown, std::string_view text) {
    if (shown) out_ += text;
    return shown;
  }
  bool marked(bool flag, std::string_view text) { return part(flag, text); }

 private:
  std::string& out_;
  std::uint64_t origin_us_;
  std::size_t max_bytes_;
};

// The events in the order they are printed, by reference. A single tick
// reading (the start of a timed read, say) is no busy wait. Calls keep their
// order; a character that starts at the same moment as a call is listed
// after it, whether the trace recorded it at the write (a real port) or as
// it left the line (the simulated bus). The events come nearly in order (a
// character recorded a little after the calls that follow its start), so an
// insertion sort does: stable, and small.
std::vector<const TraceEvent*> in_print_order(const std::vector<TraceEvent>& trace) {
  std::vector<const TraceEvent*> events;
  events.reserve(trace.size());
  for (const TraceEvent& e : trace) {
    if (const Spin* spin = std::get_if<Spin>(&e); spin == nullptr || spin->busy()) {
      events.push_back(&e);
    }
  }
  const auto before = [](const TraceEvent* a, const TraceEvent* b) {
    return std::pair(timed(*a).time_us, is<Sent>(*a)) < std::pair(timed(*b).time_us, is<Sent>(*b));
  };
  for (std::size_t i = 1; i < events.size(); ++i) {
    const TraceEvent* moving = events[i];
    std::size_t j = i;
    for (; j > 0 && before(moving, events[j - 1]); --j) events[j] = events[j - 1];
    events[j] = moving;
  }
  return events;
}

// Prints events[at] as its line; a run of reads one after the other, or of
// characters back to back under one setting, as one line, even when a drain
// poll or a wait starts while the characters go out.
struct Printer {
  const std::vector<const TraceEvent*>& events;
  std::vector<bool>& consumed;  // printed already, in a run
  TextWriter& writer;
  std::size_t at;

  void operator()(const auto& call) { writer.line(call); }
  void operator()(const Read& first) {
    ReadRun run{first, {first.byte}};
    for (std::size_t j = at + 1; j < events.size(); ++j) {
      const Read* next = std::get_if<Read>(events[j]);
      if (next == nullptr || next->handle != first.handle) break;
      run.bytes.push_back(next->byte);
      run.end_us = next->end_us;
      consumed[j] = true;
    }
    writer.line(run);
  }
  void operator()(const Sent& first) {
    SentRun run{first, first.wire.setting(), {first.wire.value}};
    for (std::size_t j = at + 1; j < events.size() && timed(*events[j]).time_us <= run.end_us;
         ++j) {
      const Sent* next = std::get_if<Sent>(events[j]);
      if (next == nullptr || consumed[j] || next->time_us != run.end_us ||
          next->wire.setting() != run.setting) {
        continue;
      }
      run.bytes.push_back(next->wire.value);
      run.end_us = next->end_us;
      consumed[j] = true;
    }
    writer.line(run);
  }
};

}  // namespace

void append_decimal(std::string& out, std::uint64_t value) {
  append_number(out, value, 10);
}
void append_padded(std::string& out, std::uint64_t value, std::size_t width, char fill) {
  const std::size_t start = out.size();
  append_decimal(out, value);
  if (out.size() - start < width) out.insert(start, width - (out.size() - start), fill);
}

void append_hex(std::string& out, std::uint64_t value) {
  append_number(out, value, 16);
}

void append_hex_byte(std::string& out, std::uint8_t byte) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

void append_ms(std::string& out, std::uint64_t us) {
  append_millis(out, us, 6);
}

void append_handle(std::string& out, line::Handle handle) {
  if (handle == line::kInvalidHandle) {
    out += "invalid";
    return;
  }
  out += '#';
  append_hex(out, handle);
}

std::string setting_text(const LineSetting& setting) {
  std::string text;
  TextWriter writer(text, 0, 0);
  layout(writer, setting);
  return text;
}

std::uint64_t trace_end_us(const std::vector<TraceEvent>& trace, std::uint64_t origin_us) {
  std::uint64_t end = origin_us;
  for (const TraceEvent& e : trace) end = std::max(end, timed(e).end_us);
  return end;
}

void format_trace(std::string& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us,
                  std::size_t max_bytes) {
  const std::vector<const TraceEvent*> events = in_print_order(trace);
  std::vector<bool> consumed(events.size(), false);
  TextWriter writer(out, origin_us, max_bytes);
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!consumed[i]) std::visit(Printer{events, consumed, writer, i}, *events[i]);
  }
}

std::string trace_text(const std::vector<TraceEvent>& trace, std::uint64_t origin_us,
                       std::size_t max_bytes) {
  std::string text;
  format_trace(text, trace, origin_us, max_bytes);
  return text;
}

void format_result(std::string& out, const std::vector<TraceEvent>& trace, Result result,
                   std::uint64_t origin_us) {
  append_ms(out, trace_end_us(trace, origin_us) - origin_us);
  out += "  result ";
  if (result < 0) out += '-';
  append_decimal(out, static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(result))));
  out += " (";
  out += result_meaning(result);
  out += ")\n";
}

}  // namespace tarvex::trace
