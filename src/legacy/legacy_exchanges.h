// The legacy build's getdata and senddata: the same frames, blocks, replies
// and result codes as the current members, with the older timing profile.
// They go from the address phase to the data phase by re-opening the port.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::legacy {

Result getdata(line::Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
               std::uint8_t* reply, const char* port_name);
Result senddata(line::Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name);

// The limit getdata chooses by command code: the drain limit and the limit of
// each reply byte.
std::uint32_t getdata_limit(std::uint8_t command_code);

}  // namespace tarvex::legacy
