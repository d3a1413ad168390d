#include "sim/trace_format.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "line/os_error_text.h"

namespace tarvex::sim {
namespace {

using Kind = TraceEvent::Kind;

std::string ms(std::uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%10.3f", static_cast<double>(us) / 1000.0);
  return text;
}

std::string span(std::uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(us) / 1000.0);
  return text;
}

std::string hex(const std::vector<std::uint8_t>& bytes, std::size_t max_bytes) {
  std::string text;
  char pair[4];
  const bool cut = max_bytes != 0 && bytes.size() > max_bytes;
  const std::size_t tail = cut ? 4 : 0;
  const std::size_t head = cut ? max_bytes - tail : bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == head && cut) {
      text += "... ";
      i = bytes.size() - tail;
    }
    std::snprintf(pair, sizeof pair, "%02X ", bytes[i]);
    text += pair;
  }
  if (!text.empty()) text.pop_back();
  if (cut) text += "  [" + std::to_string(bytes.size()) + " bytes]";
  return text;
}

std::string setting_text(const line::LineSetting& s) {
  return std::string(parity_letter(s.parity)) + " " + (s.stop_bits == line::StopBits::Two ? "2" : "1") +
         " " + (s.baud ? std::to_string(*s.baud) : std::string("kept"));
}

std::string handle_text(line::Handle h) {
  char text[16];
  std::snprintf(text, sizeof text, "#%X", static_cast<unsigned>(h));
  return h == line::kInvalidHandle ? std::string("invalid") : std::string(text);
}

bool same_setting(const WireByte& a, const WireByte& b) {
  return a.parity == b.parity && a.stop_bits == b.stop_bits && a.baud == b.baud;
}

}  // namespace

const char* parity_letter(line::Parity parity) {
  switch (parity) {
    case line::Parity::Mark: return "M";
    case line::Parity::Space: return "S";
    case line::Parity::None: return "N";
  }
  return "?";
}

void print_trace(std::ostream& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us,
                 std::size_t max_bytes) {
  // A single tick reading (the start of a timed read, say) is no busy wait.
  std::vector<TraceEvent> events;
  std::copy_if(trace.begin(), trace.end(), std::back_inserter(events),
               [](const TraceEvent& e) { return e.kind != Kind::Spin || e.count > 1; });
  // Calls keep their order; a character that starts at the same moment as a
  // call is listed after it, whether the trace recorded it at the write (a
  // real port) or as it left the line (the simulated bus).
  std::stable_sort(events.begin(), events.end(), [](const TraceEvent& a, const TraceEvent& b) {
    const bool a_sent = a.kind == Kind::Sent;
    const bool b_sent = b.kind == Kind::Sent;
    return a.time_us < b.time_us || (a.time_us == b.time_us && !a_sent && b_sent);
  });
  std::vector<bool> consumed(events.size(), false);
  const auto at = [origin_us](std::uint64_t t) { return ms(t >= origin_us ? t - origin_us : 0); };
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TraceEvent& e = events[i];
    switch (e.kind) {
      case Kind::Open:
        out << at(e.time_us) << "  open   " << e.text << " ("
            << (e.timeouts == line::TimeoutSet::Standard ? "standard" : "re-open") << " timeouts) -> "
            << handle_text(e.handle) << "\n";
        break;
      case Kind::Close: out << at(e.time_us) << "  close  " << handle_text(e.handle) << "\n"; break;
      case Kind::Purge: out << at(e.time_us) << "  purge  input of " << handle_text(e.handle) << "\n"; break;
      case Kind::SetLine: out << at(e.time_us) << "  line   " << setting_text(e.setting) << "\n"; break;
      case Kind::Write:
        out << at(e.time_us) << "  write  " << e.count << " byte(s), " << e.taken << " taken\n";
        break;
      case Kind::Read: {
        // Bytes read one after the other: one line.
        std::vector<std::uint8_t> bytes = e.bytes;
        std::size_t j = i + 1;
        while (j < events.size() && events[j].kind == Kind::Read && events[j].handle == e.handle) {
          bytes.push_back(events[j].bytes.front());
          ++j;
        }
        out << at(e.time_us) << "  rx     " << hex(bytes, max_bytes);
        if (j > i + 1) out << "  (" << span(events[j - 1].end_us - e.time_us) << ")";
        out << "\n";
        i = j - 1;
        break;
      }
      case Kind::ReadIdle:
        out << at(e.time_us) << "  read   nothing for " << span(e.end_us - e.time_us) << "\n";
        break;
      case Kind::HungUp: out << at(e.time_us) << "  read   the port has hung up\n"; break;
      case Kind::Failed:
        out << at(e.time_us) << "  error  " << e.text << ": " << line::os_error_text(e.count) << "\n";
        break;
      case Kind::QueueQuery:
        out << at(e.time_us) << "  drain  " << span(e.end_us - e.time_us)
            << (e.taken == 0 ? ", queue empty" : ", queue not empty") << "\n";
        break;
      case Kind::Spin:
        out << at(e.time_us) << "  wait   " << span(e.end_us - e.time_us) << " busy\n";
        break;
      case Kind::Sent: {
        if (consumed[i]) break;
        // One burst: characters back to back under one setting, on one line
        // even when a drain poll or a wait starts while they go out.
        std::vector<std::uint8_t> bytes{e.wire.value};
        std::uint64_t end = e.end_us;
        for (std::size_t j = i + 1; j < events.size() && events[j].time_us <= end; ++j) {
          const TraceEvent& next = events[j];
          if (next.kind != Kind::Sent || consumed[j] || next.time_us != end ||
              !same_setting(next.wire, e.wire)) {
            continue;
          }
          bytes.push_back(next.wire.value);
          end = next.end_us;
          consumed[j] = true;
        }
        out << at(e.time_us) << "  tx     "
            << setting_text({e.wire.parity, e.wire.stop_bits, e.wire.baud}) << "  "
            << hex(bytes, max_bytes) << "  (" << span(end - e.time_us) << " on the line)\n";
        break;
      }
    }
  }
}

void print_result(std::ostream& out, const std::vector<TraceEvent>& trace, Result result,
                  std::uint64_t origin_us) {
  std::uint64_t end = origin_us;
  for (const TraceEvent& e : trace) end = std::max(end, e.end_us);
  out << ms(end - origin_us) << "  result " << result << " (" << result_meaning(result) << ")\n";
}

}  // namespace tarvex::sim
