// How a member of the data-block family runs the family's shared sequence.
// The members of this family are side by side in data_block.cpp. The
// exchanges that send a block the same way under another name (the hex-text
// send, the blacklist download, the legacy build's senddata) state their
// profile in their own place and run the same sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "exchange/frame_phase.h"
#include "line/platform.h"
#include "line/primitives.h"
#include "line/result.h"

namespace tarvex::exchange {

// A wait of 0 is a wait the member does not have.
struct BlockProfile {
  line::TimeoutSet open_with = line::TimeoutSet::Standard;  // ports opened by name
  FramePhase frame;
  // The frame and the block come with their check bytes already in place:
  // nothing is appended (the blacklist download builds both itself).
  bool checksums_in_place = false;
  bool fixed_block_for_c5 = true;  // see fixed_block_length()
  bool drain_after_empty_frame = true;
  std::uint32_t drain_limit = 0;
  std::uint32_t wait_before_block = 0;
  bool awaits_acknowledgement = true;
  std::span<const std::uint8_t> codes_awaiting_no_acknowledgement = {};
  std::uint32_t wait_before_acknowledgement = 0;
  std::uint32_t acknowledgement_limit = 0;
  line::AckCheck acknowledgement_check = line::AckCheck::BothBytes;
  bool discard_input_when_frame_not_sent = false;  // held port, not closed
};

// The profile of the exchanges that go from the address phase to the data
// phase by re-opening the port (the hex-text send, the blacklist download,
// the legacy build's senddata): the re-opening frame with `data` as its data
// phase, no busy wait, 4500 ms for the drain, then the block and the
// acknowledgement, 4550 ms a byte, both bytes compared, for every command
// code. Without a frame the only open is the one with the re-open timeouts
// and the call starts straight in its data phase.
BlockProfile reopening_block_profile(bool empty_frame, line::LineSetting data = line::space());

// The profile the data-block member of that entry point name runs with (a
// frame given, the default baud, no limit of the caller's), for a tool that
// says what a member does; nothing for a name that is no such member.
std::optional<BlockProfile> member_profile(std::string_view name);

// The whole exchange on a port opened by name: the argument contract
// (refuse_block), both checksums, the frame, the drain wait, the block and
// the acknowledgement; the port is released on every path.
Result block_by_name(line::Platform& os, const char* port_name, const BlockProfile& profile,
                     std::int32_t n, std::uint8_t* frame, std::int32_t m, std::uint8_t* block);

}  // namespace tarvex::exchange
