// How a member of the request and reply family runs the family's shared
// sequence. The members of this family are side by side in request_reply.cpp;
// a build that binds getdata to another profile (the legacy build) states its
// profile in its own place and runs the same sequence.
#pragma once

#include <cstdint>

#include "exchange/frame_phase.h"
#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

enum class Acknowledge { Never, OnlyForC2, Always };

// A wait of 0 is a wait the member does not have.
struct RequestProfile {
  FramePhase frame;
  std::uint32_t drain_limit = 0;
  std::uint32_t byte_limit = 0;
  std::uint32_t wait_after_reply = 0;
  Acknowledge acknowledge = Acknowledge::Never;
  std::uint32_t wait_after_acknowledgement = 0;
};

// Out of contract: the call returns 2 before it opens a port or writes a
// caller byte. The frame is always read (its command code, its checksum
// byte); the reply only when one is asked for.
bool request_out_of_contract(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                             const std::uint8_t* reply);

// The whole exchange on a port opened by name with the standard timeouts:
// the checksum into frame byte n, the frame, the drain wait, the checked
// reply and the acknowledgement; the port is released on every path.
Result request_by_name(line::Platform& os, const char* port_name, const RequestProfile& profile,
                       std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                       std::uint8_t* reply);

}  // namespace tarvex::exchange
