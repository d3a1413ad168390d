// The request and reply family: a command frame to one terminal and a checked
// reply of a length the host knows.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Handle;
using line::Platform;

Result getdata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
               std::uint8_t* reply, const char* port_name);
Result nGetData(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                std::uint8_t* reply, const char* port_name, std::uint32_t baud,
                std::uint32_t limit_ms);
Result dxGetdata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                 std::uint8_t* reply, const char* port_name);
Result Nget(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
            std::uint8_t* reply, Handle port);
Result HANDLE_GetData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                      std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms);

// The limits `getdata` and `dxGetdata` choose by command code (the same
// value serves the drain wait and each reply byte).
std::uint32_t getdata_limit(std::uint8_t command_code);
std::uint32_t dxGetdata_limit(std::uint8_t command_code);

}  // namespace tarvex::exchange
