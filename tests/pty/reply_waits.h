// Two calls that wait for terminal 05's reply to C2 (nine bytes), for the
// cases where the line or the server fails under them: by name, with that
// command's 2500 ms limit, and on a port held at 9600 with no limit at all.
#pragma once

#include <cstdint>

#include "tarvex.h"

namespace tarvex::testing {

inline std::int32_t getdata_c2(const char* port) {
  std::uint8_t frame[3] = {0x05, 0xC2};
  std::uint8_t reply[9] = {};
  return getdata(2, frame, 8, reply, port);
}

inline std::int32_t held_getdata_c2_without_limit(const char* port) {
  const tarvex_port_t held = com_init(port, 9600);
  std::uint8_t frame[3] = {0x05, 0xC2};
  std::uint8_t reply[9] = {};
  const std::int32_t result = HANDLE_GetData(held, 2, frame, 8, reply, 0xFFFFFFFFu);
  com_exit(held);
  return result;
}

}  // namespace tarvex::testing
