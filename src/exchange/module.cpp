#include "exchange/module.h"

#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::Port;

// The raw members side by side: how each puts its frame on the line.

FramePhase getDataUIM_frame() {
  return {.address_setting = line::no_parity(line::kKeepBaud),
          .wait_before_address = 19,
          .whole_frame_with_address = true};
}

// The two address bytes and the rest follow each other with no wait, so the
// switch to SPACE comes while the address bytes may still be going out.
FramePhase sam_GetData_frame() {
  return {.address_setting = line::mark(line::kKeepBaud),
          .wait_before_address = 19,
          .address_bytes = 2,
          .data_setting = line::space(line::kKeepBaud)};
}

// The raw sequence: the frame as given, the drain wait, exactly N bytes.
Result raw_exchange(Port port, const FramePhase& phase, std::int32_t n,
                    const std::uint8_t* frame, std::int32_t reply_length, std::uint8_t* reply,
                    std::uint32_t limit) {
  if (!send_frame(port, phase, frame, n)) return kFrameNotSent;
  if (!line::drain_wait(port, limit)) return kFrameNotSent;
  if (reply_length == 0) return kOk;
  return reply_result(line::raw_reply(port, reply, reply_length, limit));
}

// Out of contract: the call returns 2 before it touches the port or a caller
// byte. A raw frame is read only when it has bytes, a reply only when one is
// asked for.
bool raw_out_of_contract(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                         const std::uint8_t* reply) {
  return n < 0 || reply_length < 0 || (n > 0 && frame == nullptr) ||
         (reply_length > 0 && reply == nullptr);
}

}  // namespace

Result HANDLE_ComData(Platform& os, Handle held, std::int32_t n, std::uint8_t* frame,
                      std::int32_t m, std::uint8_t* block, std::int32_t reply_length,
                      std::uint8_t* reply, std::uint32_t limit_ms) {
  if (n < 0 || m < 0 || reply_length < 0 || frame == nullptr || block == nullptr ||
      (reply_length > 0 && reply == nullptr)) {
    return kFrameNotSent;
  }
  line::append_checksum(frame, n);
  line::append_checksum(block, m);
  const Port port{os, held};

  // The frame as HANDLE_GetData sends it; then the block at once, and the
  // reply straight after the block with no drain wait between them.
  if (!send_frame(port, held_port_frame(), frame, wire_length(n))) return kFrameNotSent;
  if (!line::drain_wait(port, limit_ms)) return kFrameNotSent;
  if (m != 0 && !line::checked_write(port, block, m + 1)) return kFrameNotSent;
  if (reply_length == 0) return kOk;
  return reply_result(line::checked_reply(port, reply, reply_length, limit_ms));
}

Result getDataUIM(Platform& os, Handle held, std::int32_t n, const std::uint8_t* frame,
                  std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms) {
  if (raw_out_of_contract(n, frame, reply_length, reply)) return kFrameNotSent;
  return raw_exchange({os, held}, getDataUIM_frame(), n, frame, reply_length, reply, limit_ms);
}

Result sam_GetData(Platform& os, Handle held, std::int32_t n, const std::uint8_t* frame,
                   std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms) {
  // One byte cannot hold the two-byte address: refused before anything is sent.
  if (raw_out_of_contract(n, frame, reply_length, reply) || n == 1) return kFrameNotSent;
  return raw_exchange({os, held}, sam_GetData_frame(), n, frame, reply_length, reply, limit_ms);
}

}  // namespace tarvex::exchange
