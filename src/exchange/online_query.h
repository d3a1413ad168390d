// The on-line query: is the terminal at a bus address on line, and if it is,
// its seven-byte identity record.
//
// Two phases in one call. The query (command 0xA0) goes to the terminal's
// address and brings back seven bytes r0..r6; the confirmation (command 0xB4,
// parameters r0 r1) goes to address 0x00 and brings back five bytes s0..s4,
// of which s1 echoes the address. The record is s1 s2 s3 r2 r3 r4 r5, written
// only when both replies are good and s1 is the address that was queried.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Handle;
using line::Platform;

// The identity record the host gets back.
inline constexpr std::int32_t kIdentityRecordSize = 7;

// Only the low 8 bits of `address` go on the line, and the echo is compared
// with those same 8 bits: the record describes the terminal that was actually
// addressed. A null record or port name returns 2 before the port is touched.
Result onNet(Platform& os, std::int32_t address, std::uint8_t* record, const char* port_name);

// The same query on a held port, with its own timing; the port stays open, in
// the last line setting the query applied.
Result HANDLE_OnNet(Platform& os, Handle port, std::int32_t address, std::uint8_t* record);

}  // namespace tarvex::exchange
