// The hex-text exchanges: the work of getdata and senddata for a host that
// keeps its frames as text of hexadecimal digits. Each converts the text into
// a frame of its own, goes from the address phase to the data phase by
// re-opening the port, and works in a heap scratch area that it gives back on
// every path.
#pragma once

#include <cstdint>

#include "exchange/scratch_area.h"
#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Platform;

// The longest command each member takes: its frame buffer holds the command
// and the checksum.
inline constexpr std::int32_t kGetdataHexMaxCommand = 99;
inline constexpr std::int32_t kSenddataHexMaxCommand = 11;

// Sends the n bytes of `command_text` (2n characters) and reads a checked
// reply of N bytes; its N + 1 bytes come back as 2 * (N + 1) characters in
// `reply_text`, written as each byte is counted, with no terminator.
Result getdata_hex(Platform& os, std::int32_t n, const char* command_text,
                   std::int32_t reply_length, char* reply_text, const char* port_name,
                   const ScratchSource& scratch = kHeap);

// Sends the n bytes of `command_text` and then the m bytes of `block_text`
// (2m characters) with their checksum, and awaits the acknowledgement.
Result senddata_hex(Platform& os, std::int32_t n, const char* command_text,
                    std::int32_t block_length, const char* block_text, const char* port_name,
                    const ScratchSource& scratch = kHeap);

}  // namespace tarvex::exchange
