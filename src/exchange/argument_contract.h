// The argument contract of the exchange entry points: one checker for each
// family's signature, side by side, used by every member of that family.
//
// A call out of contract returns the checker's code at once: before it takes
// a scratch area, touches a port or writes a byte of the caller's. A count
// with no room for the checksum byte behind it is refused as a negative one
// is (the buffer it speaks of cannot exist); a buffer is required wherever
// the call reads or writes it. A held port is not checked here: an invalid
// one fails at its first write, as a port that cannot be opened does.
#pragma once

#include <cstdint>
#include <optional>

#include "line/result.h"

namespace tarvex::exchange {

// The code a call out of contract returns; empty when the call goes on.
using Refusal = std::optional<Result>;

// Request and reply (getdata, nGetData, dxGetdata, Nget, HANDLE_GetData and
// the legacy getdata): the frame is always read (its command code, its
// checksum byte), the reply only when one is asked for. Members that open
// the port by name need its name.
Refusal refuse_request(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                       const std::uint8_t* reply);
Refusal refuse_request(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                       const std::uint8_t* reply, const char* port_name);

// Data block (senddata, nSendData, dxSenddata, Nsend, HANDLE_SendData,
// sendDataUIM and the legacy senddata): both buffers are always used, for
// frame byte 1 is read and a checksum goes into each.
Refusal refuse_block(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                     const std::uint8_t* block);
Refusal refuse_block(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                     const std::uint8_t* block, const char* port_name);

// The hex-text exchanges: a command no longer than the call's own frame
// buffer holds; each text only when it has characters to read or receive.
Refusal refuse_hex_request(std::int32_t n, const char* command_text, std::int32_t reply_length,
                           const char* reply_text, const char* port_name);
Refusal refuse_hex_block(std::int32_t n, const char* command_text, std::int32_t block_length,
                         const char* block_text, const char* port_name);

// The blacklist download: an empty (or negative) list touches nothing and
// gives 6, before the list and the port name are looked at; a list given as
// hex text must also be addressable as 6 characters a card.
Refusal refuse_card_list(std::int32_t count, const std::uint8_t* entries, const char* port_name);
Refusal refuse_card_text(std::int32_t count, const char* text, const char* port_name);

// The on-line query: the record is always written.
Refusal refuse_query(const std::uint8_t* record);
Refusal refuse_query(const std::uint8_t* record, const char* port_name);

// HANDLE_ComData: frame and block always (a checksum goes into each), the
// reply when one is asked for.
Refusal refuse_com_data(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                        const std::uint8_t* block, std::int32_t reply_length,
                        const std::uint8_t* reply);

// The raw module exchanges (getDataUIM, sam_GetData): a frame only when it
// has bytes, a reply only when one is asked for; a frame that has bytes must
// hold the whole address of `address_bytes` bytes.
Refusal refuse_raw(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                   const std::uint8_t* reply, std::int32_t address_bytes);

}  // namespace tarvex::exchange
