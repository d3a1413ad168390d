// How a member of the data-block family runs the family's shared sequence.
// The members of this family are side by side in data_block.cpp; a build that
// binds senddata to another profile (the legacy build) states its profile in
// its own place and runs the same sequence.
#pragma once

#include <cstdint>
#include <span>

#include "exchange/frame_phase.h"
#include "line/platform.h"
#include "line/primitives.h"
#include "line/result.h"

namespace tarvex::exchange {

// A wait of 0 is a wait the member does not have.
struct BlockProfile {
  line::TimeoutSet open_with = line::TimeoutSet::Standard;  // ports opened by name
  FramePhase frame;
  bool fixed_block_for_c5 = true;
  bool drain_after_empty_frame = true;
  std::uint32_t drain_limit = 0;
  std::uint32_t wait_before_block = 0;
  bool awaits_acknowledgement = true;
  std::span<const std::uint8_t> codes_without_acknowledgement = {};
  std::uint32_t wait_before_acknowledgement = 0;
  std::uint32_t acknowledgement_limit = 0;
  line::AckCheck acknowledgement_check = line::AckCheck::BothBytes;
  bool discard_input_when_frame_not_sent = false;  // held port, not closed
};

// Out of contract: the call returns 2 before it opens a port or writes a
// caller byte. Both buffers are always used: frame byte 1 is read and a
// checksum goes into each.
bool block_out_of_contract(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                           const std::uint8_t* block);

// The whole exchange on a port opened by name: both checksums, the frame, the
// drain wait, the block and the acknowledgement; the port is released on
// every path.
Result block_by_name(line::Platform& os, const char* port_name, const BlockProfile& profile,
                     std::int32_t n, std::uint8_t* frame, std::int32_t m, std::uint8_t* block);

}  // namespace tarvex::exchange
