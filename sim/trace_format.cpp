#include "sim/trace_format.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

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

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    text += pair;
  }
  if (!text.empty()) text.pop_back();
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

void print_trace(std::ostream& out, const std::vector<TraceEvent>& trace, std::uint64_t origin_us) {
  // A single tick reading (the start of a timed read, say) is no busy wait.
  std::vector<TraceEvent> events;
  std::copy_if(trace.begin(), trace.end(), std::back_inserter(events),
               [](const TraceEvent& e) { return e.kind != Kind::Spin || e.count > 1; });
  std::stable_sort(events.begin(), events.end(),
                   [](const TraceEvent& a, const TraceEvent& b) { return a.time_us < b.time_us; });
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
      case Kind::Hazard:
        out << at(e.time_us) << "  !!     line setting changed with bytes still going out\n";
        break;
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
        out << at(e.time_us) << "  rx     " << hex(bytes);
        if (j > i + 1) out << "  (" << span(events[j - 1].end_us - e.time_us) << ")";
        out << "\n";
        i = j - 1;
        break;
      }
      case Kind::ReadIdle:
        out << at(e.time_us) << "  read   nothing for " << span(e.end_us - e.time_us) << "\n";
        break;
      case Kind::QueueQuery:
        out << at(e.time_us) << "  drain  " << span(e.end_us - e.time_us)
            << (e.taken == 0 ? ", queue empty" : ", queue not empty") << "\n";
        break;
      case Kind::Spin:
        out << at(e.time_us) << "  wait   " << span(e.end_us - e.time_us) << " busy\n";
        break;
      case Kind::Sent: {
        std::vector<std::uint8_t> bytes{e.wire.value};
        std::size_t j = i + 1;
        while (j < events.size() && events[j].kind == Kind::Sent &&
               same_setting(events[j].wire, e.wire) && events[j].time_us == events[j - 1].end_us) {
          bytes.push_back(events[j].wire.value);
          ++j;
        }
        const std::uint64_t end = events[j - 1].end_us;
        out << at(e.time_us) << "  tx     "
            << setting_text({e.wire.parity, e.wire.stop_bits, e.wire.baud}) << "  " << hex(bytes)
            << "  (" << span(end - e.time_us) << " on the line)\n";
        i = j - 1;
        break;
      }
    }
  }
}

}  // namespace tarvex::sim
