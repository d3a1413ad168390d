#include "legacy/legacy_exchanges.h"

#include "exchange/block_profile.h"
#include "exchange/frame_phase.h"
#include "exchange/request_profile.h"

namespace tarvex::legacy {
namespace {

using exchange::Acknowledge;
using exchange::BlockProfile;
using exchange::reopening_frame;
using exchange::RequestProfile;

// Against the current getdata: no busy waits, the re-open instead, and every
// good reply acknowledged at once.
RequestProfile getdata_profile() {
  return {.frame = reopening_frame(),
          .limit_by_command_code = getdata_limit,
          .acknowledge = Acknowledge::Always};
}

// Against the current senddata: the re-open instead of the busy waits, the
// longer limits of the exchanges that re-open, 30 ms before the block, and an
// acknowledgement awaited at once for every command code, both bytes
// compared. The data phase keeps its two stop bits.
BlockProfile senddata_profile(bool empty_frame) {
  BlockProfile profile = exchange::reopening_block_profile(
      empty_frame, line::space(line::kDefaultBaud, line::StopBits::Two));
  profile.wait_before_block = 30;
  return profile;
}

}  // namespace

// The legacy build's own table, of the same kind as the current getdata's
// (see exchange::getdata_limit): fewer codes listed, 1500 ms for the rest.
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
  return exchange::request_by_name(os, port_name, getdata_profile(), n, frame, reply_length, reply);
}

Result senddata(line::Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name) {
  return exchange::block_by_name(os, port_name, senddata_profile(n == 0), n, frame, m, block);
}

}  // namespace tarvex::legacy
