// The blacklist block a terminal takes: a bitmap with one bit per barred card
// number, or, for a list of one card, a seven-byte block naming that card's
// bit. Built apart from the port, as a pure function of the card list.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvex::exchange {

// The block buffer each download owns. The largest block (16250 bitmap bytes
// behind a 6-byte header, then the checksum) takes 16257 bytes.
inline constexpr std::size_t kBlacklistBufferSize = 17000;
using BlacklistBuffer = std::array<std::uint8_t, kBlacklistBufferSize>;

// The bitmap never reaches past this card number, which keeps every block
// inside the buffer.
inline constexpr std::uint32_t kBitmapCardCap = 130000;

// A card entry is three bytes: bit 0 of byte 0 is bit 16 of the number,
// byte 1 bits 8 to 15, byte 2 bits 0 to 7. Numbers count from 1.
inline constexpr std::size_t kCardEntrySize = 3;
inline constexpr std::uint32_t kHighestCardNumber = 0x1FFFF;
std::uint32_t card_number(const std::uint8_t* entry);

// Builds the block for `count` entries (1 or more) of `entries` into
// `block`, its additive checksum last, and returns the number of bytes to
// send (the block and its checksum). The bitmap form expects the numbers in
// strictly ascending order from 1: the walk matches by equality only, so an
// entry out of that order stops the marking there.
std::size_t build_blacklist_block(const std::uint8_t* entries, std::int32_t count,
                                  BlacklistBuffer& block);

// A built block read back from its header: its data bytes (a bitmap from
// card 1, or the single card's mask) and where the first of them lands in
// the terminal's bitmap, byte 128 * page + offset.
struct BlacklistBlockView {
  std::uint8_t page;
  std::uint8_t offset;
  std::span<const std::uint8_t> data;
};
BlacklistBlockView view_blacklist_block(const BlacklistBuffer& block);

}  // namespace tarvex::exchange
