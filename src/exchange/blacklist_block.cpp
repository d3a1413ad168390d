#include "exchange/blacklist_block.h"

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

// The bitmap form: bit j of bitmap byte m stands for card 8m + j + 1. One
// pass in step with a running card number, which marks the current entry
// when it reaches it and only then moves on; nothing is sorted, searched or
// skipped. The bitmap covers cards 1 to the last entry's number (capped),
// rounded up to whole bytes.
std::size_t bitmap(const std::uint8_t* entries, std::size_t count, BlacklistBuffer& block) {
  std::uint32_t max = card_number(entry_at(entries, count - 1));
  if (max > kBitmapCardCap) max = kBitmapCardCap;

  std::size_t position = kDataAt;
  if (max != 0) {
    std::uint32_t running = 1;
    std::size_t current = 0;
    bool marking = true;  // until the last entry has been marked
    std::uint32_t wanted = card_number(entry_at(entries, 0));
    do {
      std::uint8_t bits = 0;
      for (unsigned bit = 0; bit < 8; ++bit, ++running) {
        if (!marking || running != wanted) continue;
        bits = static_cast<std::uint8_t>(bits | (1u << bit));
        if (++current == count) {
          marking = false;
        } else {
          wanted = card_number(entry_at(entries, current));
        }
      }
      block[position++] = bits;
    } while (running <= max);
  }

  const std::size_t length = position - kDataAt;
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

}  // namespace tarvex::exchange
