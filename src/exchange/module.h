// The module exchanges on a held port: a frame, a data block and a checked
// reply in one call (HANDLE_ComData), and two raw exchanges in which nothing
// is appended to the frame and nothing in the reply is checked (getDataUIM,
// sam_GetData). None of them opens, purges or closes the port.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Handle;
using line::Platform;

// Writes the frame checksum into frame byte n and the block checksum into
// block byte m (always the caller's m), reads N bytes and their checksum.
Result HANDLE_ComData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                      std::int32_t m, std::uint8_t* block, std::int32_t reply_length,
                      std::uint8_t* reply, std::uint32_t limit_ms);

// Sends the n frame bytes with no parity bit and reads exactly N bytes.
Result getDataUIM(Platform& os, Handle port, std::int32_t n, const std::uint8_t* frame,
                  std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms);

// Sends frame bytes 0 and 1 (the module's address) under MARK, the rest under
// SPACE, and reads exactly N bytes. n = 0 only listens; n = 1 is refused.
Result sam_GetData(Platform& os, Handle port, std::int32_t n, const std::uint8_t* frame,
                   std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms);

}  // namespace tarvex::exchange
