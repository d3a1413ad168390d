#include "tools/card_list.h"

#include <algorithm>

#include "tools/exit_status.h"

namespace tarvex::tool {
namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

CardList read_card_list(std::istream& in, const std::string& name) {
  CardList list;
  std::vector<std::uint32_t> given;
  std::string raw;
  for (std::size_t number = 1; std::getline(in, raw); ++number) {
    const std::string where = name + " line " + std::to_string(number);
    const std::string line = trimmed(raw.substr(0, raw.find('#')));
    if (line.empty()) continue;
    const auto dash = line.find('-', 1);
    const std::string first_text = trimmed(line.substr(0, dash));
    const std::string last_text = dash == std::string::npos ? first_text : trimmed(line.substr(dash + 1));
    const std::uint32_t first = parse_count(first_text, where, kHighestCard);
    const std::uint32_t last = parse_count(last_text, where, kHighestCard);
    if (last < first) {
      throw UsageError(where + ": the range " + line + " runs backwards; write " + last_text + "-" + first_text);
    }
    if (first == 0) throw UsageError(where + ": card 0 has no bit in a blacklist; card numbers count from 1");
    for (std::uint32_t card = first; card <= last; ++card) given.push_back(card);
    if (given.size() > kHighestCard) {
      throw UsageError(where + ": more cards than there are card numbers; check the ranges");
    }
  }
  list.reordered = !std::is_sorted(given.begin(), given.end());
  list.cards = given;
  std::sort(list.cards.begin(), list.cards.end());
  list.cards.erase(std::unique(list.cards.begin(), list.cards.end()), list.cards.end());
  list.duplicates = given.size() - list.cards.size();
  if (list.cards.empty()) throw UsageError(name + ": no card numbers in it; write one number or range a-b a line");
  if (list.cards.size() > 1 && list.cards.back() > kHighestBitmapCard) {
    throw UsageError(name + ": card " + std::to_string(list.cards.back()) +
                     " is above 130000, the highest card a blacklist bitmap holds (only a list of one card "
                     "may go higher)");
  }
  return list;
}

Bytes card_entries(const std::vector<std::uint32_t>& cards) {
  Bytes entries;
  for (const std::uint32_t card : cards) {
    entries.push_back(static_cast<std::uint8_t>(card >> 16 & 0x01));
    entries.push_back(static_cast<std::uint8_t>(card >> 8 & 0xFF));
    entries.push_back(static_cast<std::uint8_t>(card & 0xFF));
  }
  return entries;
}

}  // namespace tarvex::tool
