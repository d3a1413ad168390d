#include "exchange/argument_contract.h"

#include <cstddef>
#include <limits>

#include "exchange/blacklist_block.h"
#include "exchange/hex_exchange.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::countable_with_checksum;

Refusal refused_when(bool out_of_contract) {
  return out_of_contract ? Refusal{kFrameNotSent} : std::nullopt;
}

// A buffer of `count` bytes (or characters) is needed only when it has any.
bool missing(std::int32_t count, const void* buffer) { return count > 0 && buffer == nullptr; }

}  // namespace

Refusal refuse_request(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                       const std::uint8_t* reply) {
  return refused_when(!countable_with_checksum(n) || !countable_with_checksum(reply_length) ||
                      frame == nullptr || missing(reply_length, reply));
}

Refusal refuse_request(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                       const std::uint8_t* reply, const char* port_name) {
  if (const Refusal refused = refuse_request(n, frame, reply_length, reply)) return refused;
  return refused_when(port_name == nullptr);
}

Refusal refuse_block(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                     const std::uint8_t* block) {
  return refused_when(!countable_with_checksum(n) || !countable_with_checksum(m) ||
                      frame == nullptr || block == nullptr);
}

Refusal refuse_block(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                     const std::uint8_t* block, const char* port_name) {
  if (const Refusal refused = refuse_block(n, frame, m, block)) return refused;
  return refused_when(port_name == nullptr);
}

Refusal refuse_hex_request(std::int32_t n, const char* command_text, std::int32_t reply_length,
                           const char* reply_text, const char* port_name) {
  return refused_when(n < 0 || n > kGetdataHexMaxCommand ||
                      !countable_with_checksum(reply_length) || port_name == nullptr ||
                      missing(n, command_text) || missing(reply_length, reply_text));
}

Refusal refuse_hex_block(std::int32_t n, const char* command_text, std::int32_t block_length,
                         const char* block_text, const char* port_name) {
  return refused_when(n < 0 || n > kSenddataHexMaxCommand ||
                      !countable_with_checksum(block_length) || port_name == nullptr ||
                      missing(n, command_text) || missing(block_length, block_text));
}

Refusal refuse_card_list(std::int32_t count, const std::uint8_t* entries, const char* port_name) {
  if (count <= 0) return kEmptyCardList;
  return refused_when(entries == nullptr || port_name == nullptr);
}

Refusal refuse_card_text(std::int32_t count, const char* text, const char* port_name) {
  if (count <= 0) return kEmptyCardList;
  // 6 * count characters must be addressable; a count beyond that cannot
  // describe a real list, and its scratch size would wrap.
  constexpr std::size_t kMostCards =
      std::numeric_limits<std::size_t>::max() / (2 * kCardEntrySize);
  return refused_when(text == nullptr || port_name == nullptr ||
                      static_cast<std::size_t>(count) > kMostCards);
}

Refusal refuse_query(const std::uint8_t* record) { return refused_when(record == nullptr); }

Refusal refuse_query(const std::uint8_t* record, const char* port_name) {
  return refused_when(record == nullptr || port_name == nullptr);
}

Refusal refuse_com_data(std::int32_t n, const std::uint8_t* frame, std::int32_t m,
                        const std::uint8_t* block, std::int32_t reply_length,
                        const std::uint8_t* reply) {
  if (const Refusal refused = refuse_block(n, frame, m, block)) return refused;
  return refused_when(!countable_with_checksum(reply_length) || missing(reply_length, reply));
}

Refusal refuse_raw(std::int32_t n, const std::uint8_t* frame, std::int32_t reply_length,
                   const std::uint8_t* reply, std::int32_t address_bytes) {
  return refused_when(n < 0 || reply_length < 0 || missing(n, frame) ||
                      missing(reply_length, reply) || (n > 0 && n < address_bytes));
}

}  // namespace tarvex::exchange
