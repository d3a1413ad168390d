// How a command frame goes on the line: the address phase, the switch to the
// data phase, and the rest of the frame. Every exchange family sends its frame
// this way; each member states its own settings and waits in a FramePhase.
#pragma once

#include <cstdint>
#include <optional>

#include "line/primitives.h"
#include "line/result.h"

namespace tarvex::exchange {

// A wait of 0 is a wait the member does not have; an empty setting leaves the
// port as it is.
struct FramePhase {
  std::uint32_t wait_before_setting = 0;
  std::optional<line::LineSetting> address_setting = std::nullopt;
  std::uint32_t wait_before_address = 0;
  // No switch: every byte of the frame in one write under the address setting.
  bool whole_frame_with_address = false;
  // How many leading bytes form the address, written alone.
  std::int32_t address_bytes = 1;
  std::uint32_t wait_after_address = 0;
  // Switch by re-opening: after the address the port is released and opened
  // again with the re-open timeouts, and the data phase goes on the new
  // handle. Only a port opened by name can be re-opened.
  bool reopen_after_address = false;
  std::optional<line::LineSetting> data_setting = std::nullopt;
  std::uint32_t wait_before_rest = 0;
  // The rest of the frame fails only when the port takes none of it; a short
  // count goes on.
  bool rest_may_be_short = false;
};

// Sends `count` bytes exactly as they go on the wire (a frame followed by its
// checksum, or a raw frame). With a count of 0 nothing is written, but the
// line settings, waits and a re-open still happen. False when a write was not
// taken whole, a line setting was not taken (before any byte went out under
// it), or the port did not open (first or on the re-open); the exchange then
// ends with 2.
bool send_frame(line::ScopedPort& port, const FramePhase& phase, const std::uint8_t* bytes,
                std::int32_t count);

// The same on a held port. The host owns it, so it is never re-opened: a
// phase that switches by re-opening cannot go out on it (false).
bool send_frame(line::Channel port, const FramePhase& phase, const std::uint8_t* bytes,
                std::int32_t count);

// The bytes a checksummed frame of n bytes puts on the wire: none when the
// frame is empty, else the n bytes and their checksum.
constexpr std::int32_t wire_length(std::int32_t n) { return n == 0 ? 0 : n + 1; }

// The two-phase frame of the exchanges on a held port: MARK, 19 ms, the
// address byte, 19 ms, SPACE, 19 ms, the rest; the baud is kept.
FramePhase held_port_frame();

// Switch by re-opening: MARK, one stop bit, 9600 baud; the address byte; the
// re-open, with no busy wait on either side; `data` (SPACE, one stop bit,
// 9600 baud unless given) and the rest of the frame.
FramePhase reopening_frame(line::LineSetting data = line::space());

// The codes a reply that did not come whole or came wrong gives: 3 and 4,
// or the on-line query's second reply's 7 and 8.
struct ReplyCodes {
  Result incomplete = kReplyIncomplete;
  Result wrong = kReplyWrong;
};

// What a checked reply, raw reply or awaited acknowledgement makes of the
// exchange: 0 or one of `codes`. The one place that maps the one to the other.
Result reply_result(line::ReplyOutcome outcome, ReplyCodes codes = {});

}  // namespace tarvex::exchange
