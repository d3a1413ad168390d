#include "trace/log_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <tuple>

#include "trace/trace_grammar.h"

namespace tarvex::trace {
namespace {

// A line read back field by field: the reading side of the trace's layouts
// (trace_grammar.h), and of a block's header and result lines. A step that
// does not find what it reads fails the line: every later step does
// nothing, and ok() is false.
class TextReader {
 public:
  explicit TextReader(std::string_view text) : rest_(text) {}

  bool ok() const { return ok_; }
  bool done() const { return ok_ && rest_.empty(); }  // all of it read
  std::string_view rest() const { return rest_; }

  void lit(std::string_view text) { take(rest_.starts_with(text), text.size()); }
  void word(std::string_view word) {
    lit(word);
    lit(std::string_view("       ").substr(0, kWordWidth - word.size()));
  }
  template <int kBase = 10, class Number>
  void number(Number& value) {
    const auto [end, error] =
        std::from_chars(rest_.data(), rest_.data() + rest_.size(), value, kBase);
    take(error == std::errc{}, static_cast<std::size_t>(end - rest_.data()));
  }
  // A number of exactly `count` digits.
  template <int kBase, class Number>
  void digits(Number& value, std::size_t count) {
    const std::size_t before = rest_.size();
    number<kBase>(value);
    take(before - rest_.size() == count, 0);
  }
  // "    12.345  ": a line's time in milliseconds, padded, and the two spaces
  // after it.
  void time(std::uint64_t& us) {
    rest_.remove_prefix(std::min(rest_.find_first_not_of(' '), rest_.size()));
    millis(us);
    lit("  ");
  }
  // "12.345": milliseconds with three decimals, as microseconds.
  void millis(std::uint64_t& us) {
    std::uint64_t frac = 0;
    number(us);
    lit(".");
    digits<10>(frac, 3);
    us = us * 1000 + frac;
  }
  void handle(Handle& handle) {
    if (rest_.starts_with("invalid")) {
      handle = line::kInvalidHandle;
      return lit("invalid");
    }
    lit("#");
    number<16>(handle);
  }
  void span(Timed& e) {
    std::uint64_t us = 0;
    millis(us);
    lit(" ms");
    e.end_us = e.time_us + us;
  }
  void number_or(std::optional<std::uint32_t>& value, std::string_view none) {
    value.reset();
    if (rest_.starts_with(none)) return lit(none);
    number(value.emplace());
  }
  // Hex bytes one space apart: "05 C2 33".
  void bytes(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    do {
      if (!bytes.empty()) lit(" ");
      digits<16>(bytes.emplace_back(), 2);
    } while (ok_ && rest_.size() > 1 && rest_[0] == ' ' &&
             std::isxdigit(static_cast<unsigned char>(rest_[1])));
  }
  void text(std::string& text, std::string_view until, Search where) {
    const std::size_t at = where == Search::First ? rest_.find(until) : rest_.rfind(until);
    if (ok_ && at != std::string_view::npos) text = rest_.substr(0, at);
    skip_to(at);
  }
  void words(const auto&, std::string_view until) { skip_to(rest_.rfind(until)); }
  template <class Value>
  void choice(Value& value, std::initializer_list<Word<Value>> words) {
    for (const auto& [word_value, text] : words) {
      if (rest_.starts_with(text)) {
        value = word_value;
        return lit(text);
      }
    }
    ok_ = false;
  }
  bool part(bool shown, std::string_view text) {
    const bool there = rest_.starts_with(text);
    take(there == shown, there ? text.size() : 0);
    return ok_ && there;
  }
  bool marked(bool& flag, std::string_view text) {
    flag = rest_.starts_with(text);
    return part(flag, text);
  }

 private:
  void take(bool found, std::size_t length) {
    ok_ = ok_ && found;
    if (ok_) rest_.remove_prefix(length);
  }
  void skip_to(std::size_t at) { take(at != std::string_view::npos, at); }

  std::string_view rest_;
  bool ok_ = true;
};

// `text` read whole by one step.
template <class Value>
std::optional<Value> whole(std::string_view text, void (TextReader::*step)(Value&)) {
  TextReader reader(text);
  Value value{};
  (reader.*step)(value);
  return reader.done() ? std::optional<Value>(value) : std::nullopt;
}

// The held port a call line names ("Nget(n=2, ..., port=#1)" gives "#1"),
// outside the quotes of a port name.
std::string_view held_port(std::string_view call) {
  bool quoted = false;
  for (std::size_t i = 0; i < call.size(); ++i) {
    if (call[i] == '\\' && quoted) {
      ++i;
    } else if (call[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && (call[i] == '(' || call[i] == ' ') &&
               call.substr(i + 1).starts_with("port=")) {
      const std::string_view value = call.substr(i + 6);
      return value.substr(0, value.find_first_of(",)"));
    }
  }
  return {};
}

// The events a line stands for (ReadRun, SentRun: trace_grammar.h).
void add_events(std::vector<TraceEvent>& events, const ReadRun& run) {
  const std::size_t n = run.bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t at =
        n == 1 ? run.time_us : run.time_us + (run.end_us - run.time_us) * i / (n - 1);
    events.emplace_back(Read{{{at, at}, run.handle}, run.bytes[i]});
  }
}

void add_events(std::vector<TraceEvent>& events, const SentRun& run) {
  const std::size_t n = run.bytes.size();
  const std::uint64_t each = run.setting.baud ? (run.end_us - run.time_us) / n
                                              : character_time_us(run.setting, line::kDefaultBaud);
  WireByte wire{.parity = run.setting.parity,
                .stop_bits = run.setting.stop_bits,
                .baud = run.setting.baud.value_or(0)};
  for (std::size_t i = 0; i < n; ++i) {
    wire.start_us = run.time_us + each * i;
    wire.end_us = wire.start_us + each;
    wire.value = run.bytes[i];
    events.emplace_back(Sent{{{wire.start_us, wire.end_us}, run.handle}, wire});
  }
}

template <class Event>
void add_events(std::vector<TraceEvent>& events, const Event& event) {
  events.emplace_back(event);
}

// A line's word and fields read as a line of this kind, on the port of the
// lines before unless it names one.
template <class Line>
bool read_as(std::string_view text, std::uint64_t at, std::vector<TraceEvent>& events,
             line::Handle& port) {
  Line line{};
  line.time_us = at;
  line.end_us = at;
  if constexpr (std::is_base_of_v<OnPort, Line>) line.handle = port;
  TextReader reader(text);
  layout(reader, line);
  if (!reader.done()) return false;
  if constexpr (std::is_base_of_v<OnPort, Line>) {
    if (line.handle != line::kInvalidHandle) port = line.handle;
  }
  add_events(events, line);
  return true;
}

template <class... Lines>
bool read_any(const std::tuple<Lines...>*, std::string_view text, std::uint64_t at,
              std::vector<TraceEvent>& events, line::Handle& port) {
  return (read_as<Lines>(text, at, events, port) || ...);
}

// "== TIME pid P thread T LIBRARY..."
std::optional<LoggedCall> read_header(std::string_view line, std::size_t number) {
  LoggedCall block;
  block.first_line = number;
  TextReader reader(line);
  reader.lit("== ");
  reader.text(block.time, " pid ", Search::First);
  reader.lit(" pid ");
  reader.number(block.process);
  reader.lit(" thread ");
  reader.number(block.thread);
  if (!reader.rest().empty()) {
    reader.lit(" ");
    block.library = reader.rest();
  }
  return reader.ok() ? std::optional<LoggedCall>(std::move(block)) : std::nullopt;
}

// "getdata(n=2, ...)"; a held port it names is the port of the trace.
bool read_call_line(std::string_view line, LoggedCall& block, line::Handle& port) {
  const std::size_t paren = line.find('(');
  if (paren == std::string_view::npos || paren == 0 || !line.ends_with(")")) return false;
  block.call = line;
  block.entry_point = line.substr(0, paren);
  const std::string_view held = held_port(line);
  if (held.starts_with("#")) {
    block.port = held;
    if (const auto h = whole(held, &TextReader::handle)) port = *h;
  }
  return true;
}

// The result line: "    28.305  result 0 (success)", "result #1 (a held port)".
// Nothing when the line is none, false when its value is neither a code nor
// a port.
std::optional<bool> read_result(std::string_view line, LoggedCall& block) {
  TextReader reader(line);
  std::uint64_t at = 0;
  reader.time(at);
  reader.lit("result ");
  if (!reader.ok()) return std::nullopt;
  const std::string_view value = reader.rest();
  const std::string_view first = value.substr(0, value.find(' '));
  if (const auto code = whole(first, &TextReader::number<10, std::int64_t>)) {
    block.outcome = Outcome{Outcome::Kind::Code, *code};
  } else if (const auto port = whole(first, &TextReader::handle)) {
    block.outcome = Outcome{Outcome::Kind::Port, *port};
  } else {
    return false;
  }
  block.result = value;
  block.lines.emplace_back(line);
  return true;
}

}  // namespace

bool parse_trace_line(std::string_view line, std::vector<TraceEvent>& events, line::Handle& port) {
  TextReader reader(line);
  std::uint64_t at = 0;
  reader.time(at);
  return reader.ok() &&
         read_any(static_cast<const TextLines*>(nullptr), reader.rest(), at, events, port);
}

LogReading read_log(std::string_view text) {
  LogReading reading;
  std::optional<LoggedCall> block;
  line::Handle port = line::kInvalidHandle;
  bool have_call_line = false;
  bool have_result = false;
  const auto problem = [&reading](std::size_t at, const std::string& what) {
    reading.problems.push_back("line " + std::to_string(at) + ": " + what);
  };
  for (std::size_t n = 1; !text.empty(); ++n) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);

    if (line.starts_with("== end")) {
      if (!block) {
        problem(n, "an end with no block before it");
      } else if (!have_call_line || !have_result) {
        problem(block->first_line, "a block without its call line or its result");
      } else {
        block->complete = line == "== end";
        reading.calls.push_back(std::move(*block));
      }
      block.reset();
    } else if (line.starts_with("== ")) {
      if (block) problem(block->first_line, "a block cut short (no end line)");
      block = read_header(line, n);
      port = line::kInvalidHandle;
      have_call_line = have_result = false;
      if (!block) problem(n, "a block header without its process and thread");
    } else if (!block) {
      if (line.find_first_not_of(' ') < line.size()) problem(n, "a line outside any block");
    } else if (!have_call_line) {
      have_call_line = read_call_line(line, *block, port);
      if (!have_call_line) {
        problem(n, "not a call line");
        block.reset();
      }
    } else if (have_result) {
      problem(n, "a line after the result");
    } else if (const std::optional<bool> result = read_result(line, *block)) {
      have_result = *result;
      if (!have_result) problem(n, "a result that is neither a code nor a port");
    } else if (parse_trace_line(line, block->events, port)) {
      block->lines.emplace_back(line);
      const Open* open = std::get_if<Open>(&block->events.back());
      if (open != nullptr && block->port.empty()) block->port = open->name;
    } else {
      problem(n, "not a trace line: " + std::string(line));
    }
  }
  if (block) problem(block->first_line, "a block cut short (no end line)");
  return reading;
}

}  // namespace tarvex::trace
