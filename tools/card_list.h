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

// Reads the list, a UTF-8 byte-order mark at its start allowed. A UsageError
// names the file and line of everything it cannot use, one line each: a word
// that is no card number (card numbers run from 1 to 131071, bit 16 the
// highest), a range that runs backwards, and, in a list of more than one
// card, a card above 130000, the highest a bitmap holds; or says the list is
// empty. A stream that cannot be read is a UsageError with status 66.
CardList read_card_list(std::istream& in, const std::string& name);

// Three bytes per card: bit 16, bits 8 to 15, bits 0 to 7.
Bytes card_entries(const std::vector<std::uint32_t>& cards);

}  // namespace tarvex::tool
