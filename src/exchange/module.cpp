#include "exchange/module.h"

#include "exchange/argument_contract.h"
#include "exchange/frame_phase.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::Channel;

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

// The raw sequence: the frame as given, the drain wait, exactly N bytes. A
// frame too short for the member's address (one byte of sam_GetData's two)
// is refused before anything is sent, with the other arguments out of
// contract.
Result raw_exchange(Channel port, const FramePhase& phase, std::int32_t n,
                    const std::uint8_t* frame, std::int32_t reply_length, std::uint8_t* reply,
                    std::uint32_t limit) {
  if (const Refusal refused = refuse_raw(n, frame, reply_length, reply, phase.address_bytes)) {
    return *refused;
  }
  if (!send_frame(port, phase, frame, n)) return kFrameNotSent;
  if (!line::drain_wait(port, limit)) return kFrameNotSent;
  if (reply_length == 0) return kOk;
  return reply_result(line::raw_reply(port, reply, reply_length, limit));
}

}  // namespace

Result HANDLE_ComData(Platform& os, Handle held, std::int32_t n, std::uint8_t* frame,
                      std::int32_t m, std::uint8_t* block, std::int32_t reply_length,
                      std::uint8_t* reply, std::uint32_t limit_ms) {
  if (const Refusal refused = refuse_com_data(n, frame, m, block, reply_length, reply)) {
    return *refused;
  }
  line::append_checksum(frame, n);
  line::append_checksum(block, m);
  const Channel port{os, held};

  // The frame as HANDLE_GetData sends it; then the block at once, and the
  // reply straight after the block with no drain wait between them.
  if (!send_frame(port, held_port_frame(), frame, wire_length(n))) return kFrameNotSent;
  if (!line::drain_wait(port, limit_ms)) return kFrameNotSent;
  // A block the port did not take gives 2 here, where the data-block family
  // gives 3. Here the block is no phase of its own, awaited and acknowledged:
  // it is the second half of the request, and this member's codes tell the
  // request from the reply: 2, the module was not asked in full (so nothing
  // is read); 3 and 4, it was asked and its reply did not come whole or right.
  if (m != 0 && !line::checked_write(port, block, m + 1)) return kFrameNotSent;
  if (reply_length == 0) return kOk;
  return reply_result(line::checked_reply(port, reply, reply_length, limit_ms));
}

Result getDataUIM(Platform& os, Handle held, std::int32_t n, const std::uint8_t* frame,
                  std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms) {
  return raw_exchange({os, held}, getDataUIM_frame(), n, frame, reply_length, reply, limit_ms);
}

Result sam_GetData(Platform& os, Handle held, std::int32_t n, const std::uint8_t* frame,
                   std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms) {
  return raw_exchange({os, held}, sam_GetData_frame(), n, frame, reply_length, reply, limit_ms);
}

}  // namespace tarvex::exchange
