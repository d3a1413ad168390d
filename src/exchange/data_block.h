// The data-block family: a command frame and a data block to one terminal,
// and, for most command codes, the terminal's acknowledgement of the block.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::exchange {

using line::Handle;
using line::Platform;

// Command code 0xC5 carries a block of exactly 10 bytes (11 with its
// checksum), whatever length the caller passes: the rule of every member but
// Nsend, and of senddata_hex. The one place that knows it; the tool asks too.
inline constexpr std::uint8_t kFixedBlockCommand = 0xC5;
inline constexpr std::int32_t kFixedBlockLength = 10;
constexpr std::int32_t fixed_block_length(std::uint8_t command_code, std::int32_t m) {
  return command_code == kFixedBlockCommand ? kFixedBlockLength : m;
}

// Every member writes the frame checksum into frame byte n and the block
// checksum into block byte m (m as fixed_block_length makes it) before it
// touches the port.
Result senddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                std::uint8_t* block, const char* port_name);
Result nSendData(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                 std::uint8_t* block, const char* port_name, std::uint32_t baud,
                 std::uint32_t limit_ms);
Result dxSenddata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
                  std::uint8_t* block, const char* port_name);
Result Nsend(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t m,
             std::uint8_t* block, Handle port);
Result HANDLE_SendData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                       std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms);
Result sendDataUIM(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                   std::int32_t m, std::uint8_t* block, std::uint32_t limit_ms);

}  // namespace tarvex::exchange
