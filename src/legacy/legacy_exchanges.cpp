#include "legacy/legacy_exchanges.h"

#include "exchange/block_profile.h"
#include "exchange/frame_phase.h"
#include "exchange/request_profile.h"

namespace tarvex::legacy {
namespace {

using exchange::Acknowledge;
using exchange::BlockProfile;
using exchange::FramePhase;
using exchange::reopening_frame;
using exchange::RequestProfile;

// Against the current getdata: no busy waits, the re-open instead, and every
// good reply acknowledged at once.
RequestProfile getdata_profile(std::uint32_t limit) {
  return {.frame = reopening_frame(),
          .drain_limit = limit,
          .byte_limit = limit,
          .acknowledge = Acknowledge::Always};
}

// Against the current senddata: the re-open instead of the busy waits, longer
// limits, 30 ms before the block, and an acknowledgement awaited at once for
// every command code, both bytes compared. The data phase keeps its two stop
// bits; without a frame the only open is the one with the re-open timeouts.
BlockProfile senddata_profile(bool empty_frame) {
  const line::LineSetting data = line::space(line::kDefaultBaud, line::StopBits::Two);
  return {.open_with = empty_frame ? line::TimeoutSet::Reopen : line::TimeoutSet::Standard,
          .frame = empty_frame ? FramePhase{.data_setting = data} : reopening_frame(data),
          .drain_limit = 4500,
          .wait_before_block = 30,
          .acknowledgement_limit = 4550,
          .acknowledgement_check = line::AckCheck::BothBytes};
}

}  // namespace

std::uint32_t getdata_limit(std::uint8_t command_code) {
  switch (command_code) {
    case 0xA1: return 80;
    case 0xC1: return 100;
    case 0xA7: case 0xC9: return 50;
    default: return 1500;
  }
}

Result getdata(line::Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
               std::uint8_t* reply, const char* port_name) {
  if (exchange::request_out_of_contract(n, frame, reply_length, reply) || port_name == nullptr) {
    return kFrameNotSent;
  }
  return exchange::request_by_name(os, port_name, getdata_profile(getdata_limit(frame[1])), n,
                                   frame, reply_length, reply);
}

Result senddata(line::Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name) {
  if (exchange::block_out_of_contract(n, frame, m, block) || port_name == nullptr) {
    return kFrameNotSent;
  }
  return exchange::block_by_name(os, port_name, senddata_profile(n == 0), n, frame, m, block);
}

}  // namespace tarvex::legacy
