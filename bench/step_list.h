// What an exchange costs by its own protocol, computed from its step list:
// the busy waits, and the time its synchronous writes keep it on a line. A
// write returns once its last byte has started on the line; a byte starts
// when the one before it has ended. A busy wait of k ms ends when the
// millisecond tick has turned k times since it began; the tick turns on every
// whole millisecond counted from the start of the call (the timing bench
// starts each call just after a turn), so a wait that begins between two
// turns lasts up to a millisecond less than k. A line setting or a close
// waits until the bytes written have left the line. Reads cost nothing here:
// the terminals of the timing bench answer at once, so no read waits out a poll,
// and the time their replies would take on a line is not counted (a
// pseudo-terminal delivers them at once).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::bench {

struct Step {
  double wait_ms = 0;           // a busy wait
  std::uint32_t write_bytes = 0;  // a synchronous write of this many bytes
  std::uint32_t bits = 11;      // per character: start, 8 data, parity, stop bits
  std::uint32_t baud = 9600;
  bool until_line_free = false;  // a line setting or a close
};

inline Step busy(double ms) { return {.wait_ms = ms}; }
// Start bit, 8 data bits, MARK or SPACE, one stop bit: 11 bits a character.
inline Step write(std::uint32_t bytes, std::uint32_t bits = 11, std::uint32_t baud = 9600) {
  return {.write_bytes = bytes, .bits = bits, .baud = baud};
}

// A line setting or a close right after a write: it waits for the write's
// last byte to leave the line (the rest of the time, a busy wait has let it).
inline Step line_setting_or_close() { return {.until_line_free = true}; }

using StepList = std::vector<Step>;

// What the step list adds up to on a line, or on a pseudo-terminal, where
// writes take no time.
struct Cost {
  double minimum_ms = 0;  // the busy waits, and each write until its last byte has started
};

// `start_ms` is how far past a turn of the tick the call starts (0 to 1): its
// first busy wait is that much shorter.
inline Cost cost(const StepList& steps, bool on_a_line, double start_ms = 0) {
  Cost cost;
  double now = start_ms;
  double line_free = start_ms;
  for (const Step& step : steps) {
    if (step.wait_ms > 0) now = std::floor(now) + step.wait_ms;
    if (step.until_line_free && on_a_line) now = std::max(now, line_free);
    if (step.write_bytes == 0 || !on_a_line) continue;
    // A write starts while the line may still carry an earlier one.
    const double character_ms = 1000.0 * step.bits / step.baud;
    const double first = std::max(now, line_free);
    line_free = first + step.write_bytes * character_ms;
    now = first + (step.write_bytes - 1) * character_ms;
  }
  cost.minimum_ms = now - start_ms;
  return cost;
}

// "9 + 9 + 9": the busy waits as the table shows them.
inline std::string busy_waits_text(const StepList& steps) {
  std::string text;
  for (const Step& step : steps) {
    if (step.wait_ms == 0) continue;
    if (!text.empty()) text += " + ";
    text += std::to_string(static_cast<int>(step.wait_ms));
  }
  return text.empty() ? "none" : text;
}

}  // namespace tarvex::bench
