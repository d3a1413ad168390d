// A blacklist as people keep it in a file: one card number or a range a-b
// per line, # starts a comment. It becomes the ascending list of distinct
// card numbers the download expects.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "tools/text_input.h"

namespace tarvex::tool {

struct CardList {
  std::vector<std::uint32_t> cards;  // ascending, distinct
  std::size_t duplicates = 0;        // numbers given more than once
  bool reordered = false;            // the file was not in ascending order
};

// The highest card number a card entry can carry (17 bits), and the highest
// a bitmap holds.
inline constexpr std::uint32_t kHighestCard = 131071;
inline constexpr std::uint32_t kHighestBitmapCard = 130000;

// Reads the list; a UsageError names the file and line of anything it cannot
// use (a word that is no number, a range that runs backwards, card 0, a card
// beyond 17 bits, a bitmap card beyond 130000, an empty list).
CardList read_card_list(std::istream& in, const std::string& name);

// Three bytes per card: bit 16, bits 8 to 15, bits 0 to 7.
Bytes card_entries(const std::vector<std::uint32_t>& cards);

}  // namespace tarvex::tool
