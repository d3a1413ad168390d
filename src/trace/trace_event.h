// What a trace is made of: every platform call of an exchange and every
// character that left the line, in order, one struct per kind of event. The
// simulated bus records these of itself; TracingPlatform (tracing_platform.h)
// records them of any other port, so one printer (trace_format.h) and one
// timing diagram serve both, and the library's exchange log is written from
// them. Their text is trace_grammar.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "line/platform.h"

namespace tarvex::trace {

using line::Handle;
using line::LineSetting;
using line::Parity;
using line::StopBits;

// One character on the line, in either direction.
struct WireByte {
  std::uint64_t start_us = 0;
  std::uint64_t end_us = 0;
  std::uint8_t value = 0;
  Parity parity = Parity::None;  // MARK: parity bit 1, SPACE: 0, NONE: no parity bit
  StopBits stop_bits = StopBits::One;
  // The baud the character went out at; 0 when it is not known (a held port
  // keeps the baud com_init gave it, which the call itself never saw).
  std::uint32_t baud = line::kDefaultBaud;

  // Its setting, the baud empty when not known.
  LineSetting setting() const {
    return {parity, stop_bits, baud == 0 ? std::nullopt : std::optional(baud)};
  }
  std::optional<int> parity_bit() const {
    if (parity == Parity::None) return std::nullopt;
    return parity == Parity::Mark ? 1 : 0;
  }
};

// The time one character takes: start bit, 8 data bits, the parity bit when
// there is one, and the stop bits.
std::uint64_t character_time_us(const LineSetting& setting, std::uint32_t baud);

// When an event began and ended; a call that takes no time has both equal.
// Runs of the same kind of poll (tick readings of a busy wait, empty reads,
// output-queue queries) are folded into one event from the first to the last.
struct Timed {
  std::uint64_t time_us = 0;
  std::uint64_t end_us = 0;
};

// An event on one port.
struct OnPort : Timed {
  Handle handle = line::kInvalidHandle;
};

struct Open : OnPort {  // handle: kInvalidHandle when the open failed
  std::string name;
  line::TimeoutSet timeouts = line::TimeoutSet::Standard;
};
struct Close : OnPort {};
struct Purge : OnPort {};
struct SetLine : OnPort {
  // The baud now in force, empty when it is not known.
  LineSetting setting{Parity::None, StopBits::One, std::nullopt};
};
struct Write : OnPort {
  std::vector<std::uint8_t> bytes;  // as asked; read back from text only when unplaced
  std::uint32_t asked = 0;
  std::uint32_t taken = 0;
  // Its characters could not be put on the line: the port's setting was not
  // known (a held port before the call set one).
  bool unplaced = false;
};
struct Read : OnPort {  // one byte the port counted
  std::uint8_t byte = 0;
};
struct ReadIdle : OnPort {  // reads that found nothing
  std::uint32_t polls = 1;
};
struct HungUp : OnPort {};  // a read found that the port has hung up
struct QueueQuery : OnPort {
  std::uint32_t queries = 1;
  std::uint32_t queued = 0;  // what the last query counted
};
struct Spin : Timed {  // tick readings
  // Readings that make a busy wait; one alone (the start of a timed read,
  // say) is no wait.
  static constexpr std::uint32_t kBusy = 2;
  std::uint32_t readings = 1;
  bool busy() const { return readings >= kBusy; }
};
struct Sent : OnPort {  // a character that left the line, time_us to end_us
  WireByte wire;
};
struct Failed : Timed {  // an operating-system call failed
  std::string operation;
  std::uint32_t code = 0;
};

// A type of its own rather than an alias: shorter names in the DLLs' symbols.
struct TraceEvent : std::variant<Open, Close, Purge, SetLine, Write, Read, ReadIdle, HungUp,
                                 QueueQuery, Spin, Sent, Failed> {
  using variant::variant;
};

inline const Timed& timed(const TraceEvent& event) {
  return std::visit([](const Timed& t) -> const Timed& { return t; }, event);
}
inline Timed& timed(TraceEvent& event) {  // one visit for both, the smaller the DLLs
  return const_cast<Timed&>(timed(std::as_const(event)));
}

// A visitor made of one lambda per kind: std::visit(Overloaded{...}, event).
template <class... Ways>
struct Overloaded : Ways... {
  using Ways::operator()...;
};
template <class... Ways>
Overloaded(Ways...) -> Overloaded<Ways...>;

template <class Kind>
bool is(const TraceEvent& event) {
  return std::holds_alternative<Kind>(event);
}

}  // namespace tarvex::trace
