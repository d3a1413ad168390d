#include "trace/trace_format.h"

#include <algorithm>

#include "line/os_error_text.h"

namespace tarvex::trace {
namespace {

using Kind = TraceEvent::Kind;

// "12.345 ms"
void append_span(std::string& out, std::uint64_t us) {
  append_decimal(out, us / 1000);
  out += '.';
  const auto frac = static_cast<unsigned>(us % 1000);
  out += static_cast<char>('0' + frac / 100);
  out += static_cast<char>('0' + frac / 10 % 10);
  out += static_cast<char>('0' + frac % 10);
  out += " ms";
}

void append_hex_bytes(std::string& out, const std::vector<std::uint8_t>& bytes,
                      std::size_t max_bytes) {
  const bool cut = max_bytes != 0 && bytes.size() > max_bytes;
  const std::size_t tail = cut ? 4 : 0;
  const std::size_t head = cut ? max_bytes - tail : bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ' ';
    if (i == head && cut) {
      out += "... ";
      i = bytes.size() - tail;
    }
    append_hex_byte(out, bytes[i]);
  }
  if (cut) {
    out += "  [";
    append_decimal(out, bytes.size());
    out += " bytes]";
  }
}

void append_setting(std::string& out, line::Parity parity, line::StopBits stop_bits,
                    std::uint32_t baud) {
  out += parity_letter(parity);
  out += stop_bits == line::StopBits::Two ? " 2 " : " 1 ";
  if (baud != 0) {
    append_decimal(out, baud);
  } else {
    out += "kept";
  }
}

bool same_setting(const WireByte& a, const WireByte& b) {
  return a.parity == b.parity && a.stop_bits == b.stop_bits && a.baud == b.baud;
}

}  // namespace

void append_decimal(std::string& out, std::uint64_t value) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out += digits[--n];
}

void append_hex_byte(std::string& out, std::uint8_t byte) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

void append_ms(std::string& out, std::uint64_t us) {
  std::string whole;
  append_decimal(whole, us / 1000);
  if (whole.size() < 6) out.append(6 - whole.size(), ' ');
  out += whole;
  const auto frac = static_cast<unsigned>(us % 1000);
  out += '.';
  out += static_cast<char>('0' + frac / 100);
  out += static_cast<char>('0' + frac / 10 % 10);
  out += static_cast<char>('0' + frac % 10);
}

void append_hex(std::string& out, std::uint64_t value) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  char digits[16];
  std::size_t n = 0;
  do {
    digits[n++] = kDigits[value & 0xFu];
    value >>= 4;
  } while (value != 0);
  while (n > 0) out += digits[--n];
}

void append_handle(std::string& out, line::Handle handle) {
  if (handle == line::kInvalidHandle) {
    out += "invalid";
    return;
  }
  out += '#';
  append_hex(out, handle);
}

const char* parity_letter(line::Parity parity) {
  switch (parity) {
    case line::Parity::Mark: return "M";
    case line::Parity::Space: return "S";
    case line::Parity::None: return "N";
  }
  return "?";
}

std::uint64_t trace_end_us(const std::vector<TraceEvent>& trace, std::uint64_t origin_us) {
  std::uint64_t end = origin_us;
  for (const TraceEvent& e : trace) end = std::max(end, e.end_us);
  return end;
}

void format_trace(std::string& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us,
                  std::size_t max_bytes) {
  // A single tick reading (the start of a timed read, say) is no busy wait.
  // The events are put in order by reference, without copying them.
  std::vector<const TraceEvent*> events;
  events.reserve(trace.size());
  for (const TraceEvent& e : trace) {
    if (e.kind != Kind::Spin || e.count > 1) events.push_back(&e);
  }
  // Calls keep their order; a character that starts at the same moment as a
  // call is listed after it, whether the trace recorded it at the write (a
  // real port) or as it left the line (the simulated bus). The events come
  // nearly in order (a character recorded a little after the calls that
  // follow its start), so an insertion sort does: stable, and small.
  const auto before = [](const TraceEvent* a, const TraceEvent* b) {
    const bool a_sent = a->kind == Kind::Sent;
    const bool b_sent = b->kind == Kind::Sent;
    return a->time_us < b->time_us || (a->time_us == b->time_us && !a_sent && b_sent);
  };
  for (std::size_t i = 1; i < events.size(); ++i) {
    const TraceEvent* moving = events[i];
    std::size_t j = i;
    for (; j > 0 && before(moving, events[j - 1]); --j) events[j] = events[j - 1];
    events[j] = moving;
  }
  std::vector<bool> consumed(events.size(), false);
  const auto at = [&](std::uint64_t t, const char* what) {
    append_ms(out, t >= origin_us ? t - origin_us : 0);
    out += "  ";
    out += what;
  };
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TraceEvent& e = *events[i];
    switch (e.kind) {
      case Kind::Open:
        at(e.time_us, "open   ");
        out += e.text;
        out += e.timeouts == line::TimeoutSet::Standard ? " (standard timeouts) -> "
                                                        : " (re-open timeouts) -> ";
        append_handle(out, e.handle);
        break;
      case Kind::Close:
        at(e.time_us, "close  ");
        append_handle(out, e.handle);
        break;
      case Kind::Purge:
        at(e.time_us, "purge  input of ");
        append_handle(out, e.handle);
        break;
      case Kind::SetLine:
        at(e.time_us, "line   ");
        append_setting(out, e.setting.parity, e.setting.stop_bits, e.setting.baud.value_or(0));
        break;
      case Kind::Write:
        at(e.time_us, "write  ");
        append_decimal(out, e.count);
        out += " byte(s), ";
        append_decimal(out, e.taken);
        out += " taken";
        if (!e.placed) {
          // Its characters are not on the tx lines: the port's setting was
          // not known (a held port before the call set one).
          out += ": ";
          append_hex_bytes(out, e.bytes, max_bytes);
          out += " (under the port's setting from before the call)";
        }
        break;
      case Kind::Read: {
        // Bytes read one after the other: one line.
        std::vector<std::uint8_t> bytes = e.bytes;
        std::size_t j = i + 1;
        while (j < events.size() && events[j]->kind == Kind::Read &&
               events[j]->handle == e.handle) {
          bytes.push_back(events[j]->bytes.front());
          ++j;
        }
        at(e.time_us, "rx     ");
        append_hex_bytes(out, bytes, max_bytes);
        if (j > i + 1) {
          out += "  (";
          append_span(out, events[j - 1]->end_us - e.time_us);
          out += ')';
        }
        i = j - 1;
        break;
      }
      case Kind::ReadIdle:
        at(e.time_us, "read   nothing for ");
        append_span(out, e.end_us - e.time_us);
        break;
      case Kind::HungUp: at(e.time_us, "read   the port has hung up"); break;
      case Kind::Failed:
        at(e.time_us, "error  ");
        out += e.text;
        out += ": ";
        out += line::os_error_text(e.count);
        out += " (code ";
        append_decimal(out, e.count);
        out += ')';
        break;
      case Kind::QueueQuery:
        at(e.time_us, "drain  ");
        append_span(out, e.end_us - e.time_us);
        out += e.taken == 0 ? ", queue empty" : ", queue not empty";
        break;
      case Kind::Spin:
        at(e.time_us, "wait   ");
        append_span(out, e.end_us - e.time_us);
        out += " busy";
        break;
      case Kind::Sent: {
        if (consumed[i]) continue;
        // One burst: characters back to back under one setting, on one line
        // even when a drain poll or a wait starts while they go out.
        std::vector<std::uint8_t> bytes{e.wire.value};
        std::uint64_t end = e.end_us;
        for (std::size_t j = i + 1; j < events.size() && events[j]->time_us <= end; ++j) {
          const TraceEvent& next = *events[j];
          if (next.kind != Kind::Sent || consumed[j] || next.time_us != end ||
              !same_setting(next.wire, e.wire)) {
            continue;
          }
          bytes.push_back(next.wire.value);
          end = next.end_us;
          consumed[j] = true;
        }
        at(e.time_us, "tx     ");
        append_setting(out, e.wire.parity, e.wire.stop_bits, e.wire.baud);
        out += "  ";
        append_hex_bytes(out, bytes, max_bytes);
        // With the baud not known (kept), neither is their time on the line.
        if (e.wire.baud != 0) {
          out += "  (";
          append_span(out, end - e.time_us);
          out += " on the line)";
        }
        break;
      }
    }
    out += '\n';
  }
}

void format_result(std::string& out, const std::vector<TraceEvent>& trace, Result result,
                   std::uint64_t origin_us) {
  append_ms(out, trace_end_us(trace, origin_us) - origin_us);
  out += "  result ";
  if (result < 0) {
    out += '-';
    append_decimal(out, static_cast<std::uint64_t>(-static_cast<std::int64_t>(result)));
  } else {
    append_decimal(out, static_cast<std::uint64_t>(result));
  }
  out += " (";
  out += result_meaning(result);
  out += ")\n";
}

}  // namespace tarvex::trace
