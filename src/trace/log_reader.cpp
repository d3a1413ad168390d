#include "trace/log_reader.h"

#include <charconv>

namespace tarvex::trace {
namespace {

using Kind = TraceEvent::Kind;

std::string_view trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

template <class Number>
std::optional<Number> number(std::string_view text, int base = 10) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "12.345" (milliseconds, three decimals) to microseconds.
std::optional<std::uint64_t> micros(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.size() - dot != 4) return std::nullopt;
  const auto whole = number<std::uint64_t>(text.substr(0, dot));
  const auto frac = number<std::uint64_t>(text.substr(dot + 1));
  if (!whole || !frac) return std::nullopt;
  return *whole * 1000 + *frac;
}

// "12.345 ms"
std::optional<std::uint64_t> span(std::string_view text) {
  if (!text.ends_with(" ms")) return std::nullopt;
  return micros(text.substr(0, text.size() - 3));
}

std::optional<line::Handle> handle(std::string_view text) {
  if (text == "invalid") return line::kInvalidHandle;
  if (!text.starts_with("#")) return std::nullopt;
  return number<std::uint32_t>(text.substr(1), 16);
}

std::optional<std::vector<std::uint8_t>> hex_bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  while (!text.empty()) {
    if (text.size() < 2) return std::nullopt;
    const auto byte = number<std::uint8_t>(text.substr(0, 2), 16);
    if (!byte) return std::nullopt;
    bytes.push_back(*byte);
    text.remove_prefix(2);
    if (!text.empty()) {
      if (text.front() != ' ') return std::nullopt;
      text.remove_prefix(1);
    }
  }
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

// "M 1 9600", "S 2 kept": parity, stop bits, baud (empty when kept).
std::optional<LineSetting> setting(std::string_view text) {
  if (text.size() < 5 || text[1] != ' ' || text[3] != ' ') return std::nullopt;
  LineSetting s{Parity::None, StopBits::One, std::nullopt};
  switch (text[0]) {
    case 'M': s.parity = Parity::Mark; break;
    case 'S': s.parity = Parity::Space; break;
    case 'N': s.parity = Parity::None; break;
    default: return std::nullopt;
  }
  if (text[2] != '1' && text[2] != '2') return std::nullopt;
  s.stop_bits = text[2] == '2' ? StopBits::Two : StopBits::One;
  const std::string_view baud = text.substr(4);
  if (baud != "kept") {
    s.baud = number<std::uint32_t>(baud);
    if (!s.baud) return std::nullopt;
  }
  return s;
}

TraceEvent event(Kind kind, std::uint64_t at, line::Handle h) {
  return TraceEvent{.kind = kind, .time_us = at, .end_us = at, .handle = h};
}

// The text of one call line's argument: "port=#1" gives "#1".
std::string argument(std::string_view call, std::string_view name) {
  const std::size_t open = call.find('(');
  if (open == std::string_view::npos) return "";
  std::string_view rest = call.substr(open + 1);
  if (rest.ends_with(")")) rest.remove_suffix(1);
  while (!rest.empty()) {
    std::size_t end = 0;
    bool quoted = false;
    for (; end < rest.size(); ++end) {
      if (rest[end] == '\\' && quoted) {
        ++end;
      } else if (rest[end] == '"') {
        quoted = !quoted;
      } else if (rest[end] == ',' && !quoted) {
        break;
      }
    }
    const std::string_view item = trim(rest.substr(0, end));
    if (item.starts_with(name) && item.size() > name.size() && item[name.size()] == '=') {
      return std::string(item.substr(name.size() + 1));
    }
    rest = end < rest.size() ? rest.substr(end + 1) : std::string_view{};
  }
  return "";
}

}  // namespace

bool parse_trace_line(std::string_view line, std::vector<TraceEvent>& events,
                      line::Handle& current) {
  // "%10.3f" milliseconds, two spaces, a seven-wide word, the rest.
  const std::size_t start = line.find_first_not_of(' ');
  const std::size_t stop = line.find(' ', start);
  if (start == std::string_view::npos || stop == std::string_view::npos) return false;
  const std::optional<std::uint64_t> at = micros(line.substr(start, stop - start));
  const std::size_t word_at = stop + 2;
  if (!at || line.size() < word_at + 7 || line.substr(stop, 2) != "  ") return false;
  const std::string_view word = trim(line.substr(word_at, 7));
  const std::string_view rest = line.substr(word_at + 7);

  if (word == "open") {
    for (const auto& [text, set] :
         {std::pair{" (standard timeouts) -> ", line::TimeoutSet::Standard},
          std::pair{" (re-open timeouts) -> ", line::TimeoutSet::Reopen}}) {
      const std::size_t cut = rest.rfind(text);
      if (cut == std::string_view::npos) continue;
      const auto h = handle(rest.substr(cut + std::string_view(text).size()));
      if (!h) return false;
      TraceEvent e = event(Kind::Open, *at, *h);
      e.text = std::string(rest.substr(0, cut));
      e.timeouts = set;
      events.push_back(std::move(e));
      if (*h != line::kInvalidHandle) current = *h;
      return true;
    }
    return false;
  }
  if (word == "close" || word == "purge") {
    std::string_view of = rest;
    if (word == "purge") {
      if (!of.starts_with("input of ")) return false;
      of.remove_prefix(9);
    }
    const auto h = handle(of);
    if (!h) return false;
    current = *h;
    events.push_back(event(word == "close" ? Kind::Close : Kind::Purge, *at, *h));
    return true;
  }
  if (word == "line") {
    const auto s = setting(rest);
    if (!s) return false;
    TraceEvent e = event(Kind::SetLine, *at, current);
    e.setting = *s;
    events.push_back(std::move(e));
    return true;
  }
  if (word == "write") {
    // "5 byte(s), 5 taken", or "...: 05 C2 (under the port's setting from before the call)"
    const std::size_t bytes_at = rest.find(" byte(s), ");
    const std::size_t taken_at = rest.find(" taken");
    if (bytes_at == std::string_view::npos || taken_at == std::string_view::npos) return false;
    const auto count = number<std::uint32_t>(rest.substr(0, bytes_at));
    const auto taken = number<std::uint32_t>(rest.substr(bytes_at + 10, taken_at - bytes_at - 10));
    if (!count || !taken) return false;
    TraceEvent e = event(Kind::Write, *at, current);
    e.count = *count;
    e.taken = *taken;
    const std::string_view after = rest.substr(taken_at + 6);
    if (!after.empty()) {
      constexpr std::string_view kUnplaced = " (under the port's setting from before the call)";
      if (!after.starts_with(": ") || !after.ends_with(kUnplaced)) return false;
      const auto bytes = hex_bytes(after.substr(2, after.size() - 2 - kUnplaced.size()));
      if (!bytes) return false;
      e.bytes = *bytes;
      e.placed = false;
    }
    events.push_back(std::move(e));
    return true;
  }
  if (word == "rx") {
    std::string_view bytes_text = rest;
    std::uint64_t length = 0;
    if (const std::size_t paren = rest.find("  ("); paren != std::string_view::npos) {
      if (!rest.ends_with(")")) return false;
      const auto s = span(rest.substr(paren + 3, rest.size() - paren - 4));
      if (!s) return false;
      length = *s;
      bytes_text = rest.substr(0, paren);
    }
    const auto bytes = hex_bytes(bytes_text);
    if (!bytes || (bytes->size() == 1) != (length == 0 && bytes_text.size() == rest.size()))
      return false;
    for (std::size_t i = 0; i < bytes->size(); ++i) {
      const std::uint64_t t = bytes->size() == 1 ? *at : *at + length * i / (bytes->size() - 1);
      TraceEvent e = event(Kind::Read, t, current);
      e.bytes = {(*bytes)[i]};
      events.push_back(std::move(e));
    }
    return true;
  }
  if (word == "read") {
    if (rest == "the port has hung up") {
      events.push_back(event(Kind::HungUp, *at, current));
      return true;
    }
    if (!rest.starts_with("nothing for ")) return false;
    const auto s = span(rest.substr(12));
    if (!s) return false;
    TraceEvent e = event(Kind::ReadIdle, *at, current);
    e.end_us = *at + *s;
    e.count = 1;
    events.push_back(std::move(e));
    return true;
  }
  if (word == "error") {
    // "open: No such file or directory (code 2)"
    const std::size_t colon = rest.find(": ");
    const std::size_t code_at = rest.rfind(" (code ");
    if (colon == std::string_view::npos || code_at == std::string_view::npos ||
        !rest.ends_with(")")) {
      return false;
    }
    const auto code = number<std::uint32_t>(rest.substr(code_at + 7, rest.size() - code_at - 8));
    if (!code) return false;
    TraceEvent e = event(Kind::Failed, *at, line::kInvalidHandle);
    e.text = std::string(rest.substr(0, colon));
    e.count = *code;
    events.push_back(std::move(e));
    return true;
  }
  if (word == "drain") {
    const std::size_t comma = rest.find(", queue ");
    if (comma == std::string_view::npos) return false;
    const auto s = span(rest.substr(0, comma));
    const std::string_view state = rest.substr(comma + 8);
    if (!s || (state != "empty" && state != "not empty")) return false;
    TraceEvent e = event(Kind::QueueQuery, *at, current);
    e.end_us = *at + *s;
    e.count = 1;
    e.taken = state == "empty" ? 0 : 1;
    events.push_back(std::move(e));
    return true;
  }
  if (word == "wait") {
    if (!rest.ends_with(" busy")) return false;
    const auto s = span(rest.substr(0, rest.size() - 5));
    if (!s) return false;
    TraceEvent e = event(Kind::Spin, *at, line::kInvalidHandle);
    e.end_us = *at + *s;
    e.count = 2;  // a busy wait: more than one reading
    events.push_back(std::move(e));
    return true;
  }
  if (word == "tx") {
    // "M 1 9600  05 C2  (2.292 ms on the line)"; "S 1 kept  05 C2" (no time
    // on the line without the baud: spaced as at 9600 baud, as the wrapper
    // spaced them).
    const std::size_t bytes_at = rest.find("  ");
    if (bytes_at == std::string_view::npos) return false;
    const auto s = setting(rest.substr(0, bytes_at));
    if (!s) return false;
    std::size_t bytes_end = rest.size();
    std::optional<std::uint64_t> length;
    if (s->baud) {
      const std::size_t paren = rest.rfind("  (");
      if (paren == std::string_view::npos || paren <= bytes_at || !rest.ends_with(" on the line)"))
        return false;
      length = span(rest.substr(paren + 3, rest.size() - paren - 3 - 13));
      bytes_end = paren;
    }
    const auto bytes = hex_bytes(rest.substr(bytes_at + 2, bytes_end - bytes_at - 2));
    if (!bytes || (s->baud && !length)) return false;
    const std::uint64_t each =
        length ? *length / bytes->size() : character_time_us(*s, line::kDefaultBaud);
    for (std::size_t i = 0; i < bytes->size(); ++i) {
      const std::uint64_t from = *at + each * i;
      TraceEvent e = event(Kind::Sent, from, current);
      e.end_us = from + each;
      e.wire = WireByte{.start_us = from,
                        .end_us = from + each,
                        .value = (*bytes)[i],
                        .parity = s->parity,
                        .stop_bits = s->stop_bits,
                        .baud = s->baud.value_or(0)};
      events.push_back(std::move(e));
    }
    return true;
  }
  return false;
}

LogReading read_log(std::string_view text) {
  LogReading reading;
  std::optional<LoggedCall> block;
  line::Handle current = line::kInvalidHandle;
  bool have_call_line = false;
  bool have_result = false;
  std::size_t number_of_line = 0;
  const auto problem = [&](std::size_t at, const std::string& what) {
    reading.problems.push_back("line " + std::to_string(at) + ": " + what);
  };
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number_of_line;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (line.starts_with("== end")) {
      if (!block) {
        problem(number_of_line, "an end with no block before it");
        continue;
      }
      if (!have_call_line || !have_result) {
        problem(block->first_line, "a block without its call line or its result");
      } else {
        block->complete = line == "== end";
        reading.calls.push_back(std::move(*block));
      }
      block.reset();
      continue;
    }
    if (line.starts_with("== ")) {
      if (block) problem(block->first_line, "a block cut short (no end line)");
      block.emplace();
      block->first_line = number_of_line;
      current = line::kInvalidHandle;
      have_call_line = false;
      have_result = false;
      // "== TIME pid P thread T LIBRARY..."
      std::string_view rest = line.substr(3);
      const std::size_t pid_at = rest.find(" pid ");
      const std::size_t thread_at = rest.find(" thread ");
      if (pid_at == std::string_view::npos || thread_at == std::string_view::npos ||
          thread_at < pid_at) {
        problem(number_of_line, "a block header without its process and thread");
        block.reset();
        continue;
      }
      block->time = std::string(rest.substr(0, pid_at));
      const auto pid = number<std::uint64_t>(rest.substr(pid_at + 5, thread_at - pid_at - 5));
      std::string_view after = rest.substr(thread_at + 8);
      const std::size_t space = after.find(' ');
      const auto thread = number<std::uint64_t>(after.substr(0, space));
      if (!pid || !thread) {
        problem(number_of_line, "a block header without its process and thread");
        block.reset();
        continue;
      }
      block->process = *pid;
      block->thread = *thread;
      if (space != std::string_view::npos) block->library = std::string(after.substr(space + 1));
      continue;
    }
    if (!block) {
      if (!trim(line).empty()) problem(number_of_line, "a line outside any block");
      continue;
    }
    if (!have_call_line) {
      const std::size_t paren = line.find('(');
      if (paren == std::string_view::npos || paren == 0 || !line.ends_with(")")) {
        problem(number_of_line, "not a call line");
        block.reset();
        continue;
      }
      block->call = std::string(line);
      block->entry_point = std::string(line.substr(0, paren));
      const std::string held = argument(line, "port");
      if (held.starts_with("#")) {
        block->port = held;
        if (const auto h = handle(held)) current = *h;
      }
      have_call_line = true;
      continue;
    }
    if (have_result) {
      problem(number_of_line, "a line after the result");
      continue;
    }
    // The result line: "    28.305  result 0 (success)", "result #1 (a held port)".
    if (const std::size_t at = line.find("  result ");
        at != std::string_view::npos && micros(trim(line.substr(0, at)))) {
      const std::string_view value = line.substr(at + 9);
      const std::string_view first = value.substr(0, value.find(' '));
      if (const auto code = number<std::int64_t>(first)) {
        block->outcome = Outcome{Outcome::Kind::Code, *code};
      } else if (const auto port = handle(first)) {
        block->outcome = Outcome{Outcome::Kind::Port, *port};
      } else {
        problem(number_of_line, "a result that is neither a code nor a port");
        continue;
      }
      block->result = std::string(value);
      block->lines.emplace_back(line);
      have_result = true;
      continue;
    }
    if (!parse_trace_line(line, block->events, current)) {
      problem(number_of_line, "not a trace line: " + std::string(line));
      continue;
    }
    block->lines.emplace_back(line);
    if (block->port.empty() && block->events.back().kind == Kind::Open)
      block->port = block->events.back().text;
  }
  if (block) problem(block->first_line, "a block cut short (no end line)");
  return reading;
}

}  // namespace tarvex::trace
