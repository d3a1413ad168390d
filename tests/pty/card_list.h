// Card lists of thousands of entries for the blacklist cases, and the block
// a terminal should receive for them, worked out here from the card numbers
// alone: a bit per card number from 1 behind a 6-byte header.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pty_checks.h"

namespace tarvex::testing {

// An arithmetic series of card numbers: first, first + step, ... up to last.
struct CardSeries {
  std::uint32_t first;
  std::uint32_t step;
  std::uint32_t last;

  std::uint32_t last_card() const { return last - (last - first) % step; }
};

// The series as 3-byte entries: bit 16 of the number, bits 8-15, bits 0-7.
inline Bytes card_entries(const CardSeries& series) {
  Bytes entries;
  for (std::uint32_t card = series.first; card <= series.last; card += series.step) {
    entries.push_back(static_cast<std::uint8_t>((card >> 16) & 0x01));
    entries.push_back(static_cast<std::uint8_t>(card >> 8));
    entries.push_back(static_cast<std::uint8_t>(card));
  }
  return entries;
}

// The bitmap block of a series of two cards or more, its checksum last. The
// bitmap ends with the last card, or with card 130000 if that comes first.
inline Bytes bitmap_block(const CardSeries& series) {
  const std::uint32_t top = std::min<std::uint32_t>(series.last_card(), 130000);
  const std::size_t bitmap_bytes = (top + 7) / 8;
  Bytes block{0x00, 0x00, static_cast<std::uint8_t>(bitmap_bytes),
              static_cast<std::uint8_t>(bitmap_bytes >> 8), 0x00, 0x00};
  block.resize(6 + bitmap_bytes, 0);
  for (std::uint32_t card = series.first; card <= top; card += series.step) {
    block[6 + (card - 1) / 8] |= static_cast<std::uint8_t>(1u << ((card - 1) % 8));
  }
  return with_checksum(block);
}

}  // namespace tarvex::testing
