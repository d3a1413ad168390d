#include "exchange/blacklist_block.h"

#include <algorithm>

#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

// Block layout: two zero bytes; the count L of data bytes, low byte first;
// the index of the first data byte in the terminal's bitmap as 128 * page +
// offset; the L data bytes; the checksum of everything before it.
constexpr std::size_t kLengthAt = 2;
constexpr std::size_t kPageAt = 4;
constexpr std::size_t kOffsetAt = 5;
constexpr std::size_t kDataAt = 6;

const std::uint8_t* entry_at(const std::uint8_t* entries, std::size_t index) {
  return entries + kCardEntrySize * index;
}

// The single-card form: one data byte holding the card's bit, placed by page
// and offset. When the byte index is a non-zero multiple of 128 the page is
// borrowed into an offset of 128; a card number that is a multiple of 8 has
// its bit in the byte before, under the top mask. There is no cap here: any
// card up to 131071 can be sent this way.
std::size_t single_card(std::uint32_t card, BlacklistBuffer& block) {
  static constexpr std::uint8_t kMaskByRemainder[8] = {0x80, 0x01, 0x02, 0x04,
                                                       0x08, 0x10, 0x20, 0x40};
  const std::uint32_t byte_index = card / 8;
  std::uint32_t page = byte_index / 128;
  std::uint32_t offset = byte_index % 128;
  if (page != 0 && offset == 0) {
    page -= 1;
    offset = 128;
  }
  const std::uint32_t remainder = card % 8;
  if (remainder == 0) offset = (offset - 1) & 0xFFu;

  block[kLengthAt] = 0x01;
  block[kLengthAt + 1] = 0x00;
  block[kPageAt] = static_cast<std::uint8_t>(page);
  block[kOffsetAt] = static_cast<std::uint8_t>(offset);
  block[kDataAt] = kMaskByRemainder[remainder];
  return 1;
}

// A run of eight entries naming exactly the cards marked + 1 to marked + 8,
// `marked` being a multiple of 8: they fill the next bitmap byte. A dense list
// (every card from 1 on) is almost nothing but such runs, so they are checked
// eight at a time without converting each entry to its number: read as a
// big-endian 32-bit word, an entry holds its card number in bits 8 to 24 (the
// top seven bits of byte 0 are no part of it, and the low byte belongs to the
// next entry, which must therefore exist: `run` has nine entries).
bool fills_next_byte(const std::uint8_t* run, std::uint32_t marked) {
  constexpr std::uint32_t kNumberBits = 0x01FFFF00u;
  const std::uint32_t first = (marked + 1) << 8;
  std::uint32_t differences = 0;
#pragma GCC unroll 8
  for (std::uint32_t k = 0; k < 8; ++k) {
    const std::uint8_t* entry = entry_at(run, k);
    const std::uint32_t word = std::uint32_t{entry[0]} << 24 | std::uint32_t{entry[1]} << 16 |
                               std::uint32_t{entry[2]} << 8 | entry[3];
    differences |= word ^ (first + (k << 8));
  }
  return (differences & kNumberBits) == 0;
}

// The bitmap form: bit j of bitmap byte m stands for card 8m + j + 1. The
// bitmap covers cards 1 to the last entry's number (capped), rounded up to
// whole bytes. The list is walked once, in step with a running card number
// that marks the current entry when it reaches it and only then moves on;
// nothing is sorted, searched or skipped. So an entry is marked exactly when
// it lies above the entry marked before it (above 0 for the first) and
// inside the bitmap; the first entry that does not stops the marking for
// good, as the running number never comes back to it or gets past the end.
std::size_t bitmap(const std::uint8_t* entries, std::size_t count, BlacklistBuffer& block) {
  const std::uint32_t max = std::min(card_number(entry_at(entries, count - 1)), kBitmapCardCap);
  const std::size_t length = (max + 7) / 8;
  std::uint8_t* const bits = block.data() + kDataAt;
  std::fill_n(bits, length, std::uint8_t{0});

  const auto last_covered = static_cast<std::uint32_t>(8 * length);
  std::uint32_t marked = 0;  // the card marked last, 0 before the first
  std::size_t index = 0;
  while (index < count) {
    if (marked % 8 == 0 && marked + 8 <= last_covered && index + 9 <= count &&
        fills_next_byte(entry_at(entries, index), marked)) {
      bits[marked / 8] = 0xFF;
      marked += 8;
      index += 8;
      continue;
    }
    const std::uint32_t card = card_number(entry_at(entries, index));
    if (card <= marked || card > last_covered) break;
    bits[(card - 1) / 8] = static_cast<std::uint8_t>(bits[(card - 1) / 8] | 1u << (card - 1) % 8);
    marked = card;
    ++index;
  }

  block[kLengthAt] = static_cast<std::uint8_t>(length & 0xFFu);
  block[kLengthAt + 1] = static_cast<std::uint8_t>(length >> 8);
  block[kPageAt] = 0x00;
  block[kOffsetAt] = 0x00;
  return length;
}

}  // namespace

std::uint32_t card_number(const std::uint8_t* entry) {
  return (entry[0] & 0x01u) * 65536u + entry[1] * 256u + entry[2];
}

std::size_t build_blacklist_block(const std::uint8_t* entries, std::int32_t count,
                                  BlacklistBuffer& block) {
  block[0] = 0x00;
  block[1] = 0x00;
  const std::size_t length = count == 1 ? single_card(card_number(entries), block)
                                        : bitmap(entries, static_cast<std::size_t>(count), block);
  const std::size_t checksum_at = kDataAt + length;
  line::append_checksum(block.data(), static_cast<std::int32_t>(checksum_at));
  return checksum_at + 1;
}

BlacklistBlockView view_blacklist_block(const BlacklistBuffer& block) {
  const std::size_t length = block[kLengthAt] | std::size_t{block[kLengthAt + 1]} << 8;
  return {block[kPageAt], block[kOffsetAt], std::span(block).subspan(kDataAt, length)};
}

}  // namespace tarvex::exchange
