// The blacklist download: a list of barred card numbers, turned into the
// terminal's blacklist block and sent behind a five-byte command frame.
#pragma once

#include <cstdint>

#include "exchange/scratch_area.h"
#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Platform;

// `count` three-byte card entries to the terminal at the low 8 bits of
// `address`, under command 0xA5.
Result sendBlack(Platform& os, std::int32_t address, std::int32_t count,
                 const std::uint8_t* entries, const char* port_name);

// The same list written as hex text, six characters per entry. The entries
// are decoded into a heap scratch area of 3 * count bytes.
Result sendBlack_hex(Platform& os, std::int32_t address, std::int32_t count, const char* text,
                     const char* port_name, const ScratchSource& scratch = kHeap);

// As sendBlack, with the command code chosen by the caller and bits 8 to 15
// of `address_word` in frame byte 2.
Result sSendBlack(Platform& os, std::int32_t address_word, std::int32_t command_code,
                  std::int32_t count, const std::uint8_t* entries, const char* port_name);

}  // namespace tarvex::exchange
