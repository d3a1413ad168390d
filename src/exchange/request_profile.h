// How a member of the request and reply family runs the family's shared
// sequence. The members of this family are side by side in request_reply.cpp.
// The exchanges that ask for a reply the same way under another name (the
// hex-text request, the legacy build's getdata) state their profile in their
// own place and run the same sequence.
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
  // When set, the one limit of both, chosen by the command code (frame byte
  // 1) in place of the two above.
  std::uint32_t (*limit_by_command_code)(std::uint8_t) = nullptr;
  std::uint32_t wait_after_reply = 0;
  Acknowledge acknowledge = Acknowledge::Never;
  std::uint32_t wait_after_acknowledgement = 0;
};

// Called for every reply byte as soon as its read counts it, the checksum
// byte included: the hex-text request writes each byte out as text there and
// then. An empty hook calls nothing.
struct ReplyByteHook {
  void (*call)(void* context, std::int32_t index, std::uint8_t byte) = nullptr;
  void* context = nullptr;
};

// The whole exchange on a port opened by name with the standard timeouts:
// the argument contract (refuse_request), the checksum into frame byte n, the
// frame, the drain wait, the checked reply and the acknowledgement; the port
// is released on every path.
Result request_by_name(line::Platform& os, const char* port_name, const RequestProfile& profile,
                       std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                       std::uint8_t* reply, ReplyByteHook on_reply_byte = {});

}  // namespace tarvex::exchange
