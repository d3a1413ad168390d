#include "tools/card_list.h"

#include <algorithm>
#include <utility>

#include "exchange/blacklist_block.h"
#include "tools/exit_status.h"

namespace tarvex::tool {
namespace {

using exchange::kBitmapCardCap;
using exchange::kHighestCardNumber;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string card_range() {
  return "card numbers run from 1 to " + std::to_string(kHighestCardNumber);
}

// The card number `text` names; a UsageError says why it names none.
std::uint32_t parse_card(const std::string& text) {
  if (text.empty()) throw UsageError("a card number is missing; " + card_range());
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      throw UsageError("'" + text + "' is not a card number; " + card_range());
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - '0'),
                                    kHighestCardNumber + 1);
  }
  if (value == 0) throw UsageError("card 0 has no bit in a blacklist; " + card_range());
  if (value > kHighestCardNumber) throw UsageError(text + " is no card number; " + card_range());
  return static_cast<std::uint32_t>(value);
}

}  // namespace

CardList read_card_list(std::istream& in, const std::string& name) {
  CardList list;
  std::vector<bool> given(kHighestCardNumber + 1, false);
  std::size_t distinct = 0;
  std::uint32_t previous = 0;
  // Line numbers with the first card on them above the bitmap's reach.
  std::vector<std::pair<std::size_t, std::uint32_t>> beyond_bitmap;
  std::vector<std::pair<std::size_t, std::string>> errors;
  std::string raw;
  for (std::size_t number = 1; std::getline(in, raw); ++number) {
    if (number == 1 && raw.starts_with(kByteOrderMark)) raw.erase(0, kByteOrderMark.size());
    const std::string line = trimmed(raw.substr(0, raw.find('#')));
    if (line.empty()) continue;
    const auto dash = line.find('-', 1);
    const std::string first_text = trimmed(line.substr(0, dash));
    const std::string last_text =
        dash == std::string::npos ? first_text : trimmed(line.substr(dash + 1));
    try {
      const std::uint32_t first = parse_card(first_text);
      const std::uint32_t last = parse_card(last_text);
      if (last < first) {
        throw UsageError("the range " + line + " runs backwards; write " + last_text + "-" +
                         first_text);
      }
      list.reordered = list.reordered || first < previous;
      previous = last;
      for (std::uint32_t card = first; card <= last; ++card) {
        if (given[card])
          ++list.duplicates;
        else
          ++distinct;
        given[card] = true;
      }
      if (last > kBitmapCardCap)
        beyond_bitmap.emplace_back(number, std::max(first, kBitmapCardCap + 1));
    } catch (const UsageError& error) {
      errors.emplace_back(number, error.what());
    }
  }
  if (in.bad()) throw UsageError(name + ": cannot be read to its end", kNoInput);
  // Only a list of one card goes as a single-card block; a bitmap ends at
  // the library's cap.
  if (distinct > 1) {
    for (const auto& [number, card] : beyond_bitmap) {
      errors.emplace_back(
          number, "card " + std::to_string(card) + " is above " + std::to_string(kBitmapCardCap) +
                      ", the highest card a blacklist bitmap holds (only a list of one card "
                      "may go higher)");
    }
  }
  if (!errors.empty()) {
    std::stable_sort(errors.begin(), errors.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string message;
    for (const auto& [number, text] : errors) {
      message +=
          (message.empty() ? "" : "\n") + name + " line " + std::to_string(number) + ": " + text;
    }
    throw UsageError(message);
  }
  if (distinct == 0)
    throw UsageError(name + ": no card numbers in it; write one number or range a-b a line");
  for (std::uint32_t card = 1; card <= kHighestCardNumber; ++card) {
    if (given[card]) list.cards.push_back(card);
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
