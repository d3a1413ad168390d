// What a trace is made of: every platform call of an exchange and every
// character that left the line, in order. The simulated bus records these of
// itself; TracingPlatform (tracing_platform.h) records them of any other
// port, so one printer (trace_format.h) and one timing diagram serve both,
// and the library's exchange log is written from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

  std::optional<int> parity_bit() const {
    if (parity == Parity::None) return std::nullopt;
    return parity == Parity::Mark ? 1 : 0;
  }
};

// The time one character takes: start bit, 8 data bits, the parity bit when
// there is one, and the stop bits.
std::uint64_t character_time_us(const LineSetting& setting, std::uint32_t baud);

// Runs of the same kind of poll (tick readings of a busy wait, empty reads,
// output-queue queries) are folded into one event with its start, end and
// count.
struct TraceEvent {
  enum class Kind {
    Open,        // text: port name; handle (kInvalidHandle when it failed); timeouts
    Close,       // handle
    Purge,       // handle
    SetLine,     // setting (baud: the one now in force, empty when not known)
    Write,       // bytes asked; count taken; placed: false when its characters
                 // could not be put on the line (the port's parity is not known)
    Read,        // one byte counted by the port (bytes holds it)
    ReadIdle,    // count reads that found nothing, from time_us to end_us
    HungUp,      // a read found that the port has hung up
    QueueQuery,  // count queries; value: the last queue count
    Spin,        // count tick readings from time_us to end_us: a busy wait
    Sent,        // a character that left the line (wire)
    Failed,      // an operating-system call failed: text names it, count is the error
  };
  Kind kind;
  std::uint64_t time_us = 0;
  std::uint64_t end_us = 0;
  Handle handle = line::kInvalidHandle;
  std::string text = {};
  LineSetting setting{Parity::None, StopBits::One, std::nullopt};
  line::TimeoutSet timeouts = line::TimeoutSet::Standard;
  std::vector<std::uint8_t> bytes = {};
  std::uint32_t count = 0;
  std::uint32_t taken = 0;
  WireByte wire = {};
  bool placed = true;
};

}  // namespace tarvex::trace
