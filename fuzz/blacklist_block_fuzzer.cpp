// The blacklist block builder on any card list: any count, any card values,
// in any order. The block never reaches past its buffer (the bytes behind it
// keep their fill), its length field L matches the bytes returned and the
// bound the last card sets, its checksum holds, every bit it sets stands for
// a card on the list, and an ascending list has all its cards up to the cap
// marked.
//
// Input: u8 form (bit 0: build an ascending list from the deltas that
// follow, as u16 each; else the rest is the raw three-byte entries).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "exchange/blacklist_block.h"
#include "fuzz_input.h"

namespace {

namespace ex = tarvex::exchange;
constexpr std::uint8_t kFill = 0xEE;

std::vector<std::uint8_t> ascending_list(tarvex::fuzz::Reader& in) {
  std::vector<std::uint8_t> list;
  std::uint32_t card = 0;
  while (!in.empty()) {
    card += 1u + in.u16() % 4096u;
    if (card > 0x1FFFF) break;
    list.push_back(static_cast<std::uint8_t>(card >> 16));
    list.push_back(static_cast<std::uint8_t>(card >> 8));
    list.push_back(static_cast<std::uint8_t>(card));
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarvex::fuzz::require;
  tarvex::fuzz::Reader in(data, size);
  const bool ascending = (in.u8() & 1) != 0;
  const std::vector<std::uint8_t> raw = ascending ? ascending_list(in) : in.rest();
  const std::size_t count = raw.size() / ex::kCardEntrySize;
  if (count == 0) return 0;

  auto entries = std::make_unique<std::uint8_t[]>(count * ex::kCardEntrySize);
  std::copy_n(raw.begin(), count * ex::kCardEntrySize, entries.get());
  // Card numbers have 17 bits: one flag for each.
  std::vector<bool> on_list(std::size_t{1} << 17, false);
  for (std::size_t i = 0; i < count; ++i) {
    on_list[ex::card_number(&entries[ex::kCardEntrySize * i])] = true;
  }
  const std::uint32_t last = ex::card_number(&entries[ex::kCardEntrySize * (count - 1)]);

  auto block = std::make_unique<ex::BlacklistBuffer>();
  block->fill(kFill);
  const std::size_t bytes =
      ex::build_blacklist_block(entries.get(), static_cast<std::int32_t>(count), *block);
  const ex::BlacklistBuffer& b = *block;

  require(bytes >= 7 && bytes <= b.size(), "the block fits its buffer");
  require(std::all_of(b.begin() + static_cast<std::ptrdiff_t>(bytes), b.end(),
                      [](std::uint8_t v) { return v == kFill; }),
          "nothing written past the block");
  const std::size_t length = b[2] + 256u * b[3];
  require(b[0] == 0 && b[1] == 0 && bytes == 6 + length + 1, "L counts the data bytes");
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
  require(b[bytes - 1] == sum, "the checksum covers the whole block");

  if (count == 1) {
    require(length == 1, "one card, one data byte");
    if (last != 0) {
      require(128u * b[4] + b[5] == (last - 1) / 8 && b[6] == 1u << ((last - 1) % 8),
              "the single-card form names the card's bitmap bit");
    }
    return 0;
  }
  const std::uint32_t reach = std::min(last, ex::kBitmapCardCap);
  require(length == (reach + 7) / 8 && length <= ex::kBitmapCardCap / 8,
          "L is the bound the last card sets");
  require(b[4] == 0 && b[5] == 0, "a bitmap starts at the first byte");
  for (std::size_t i = 0; i < length; ++i) {
    for (unsigned bit = 0; bit < 8; ++bit) {
      const std::uint32_t card = static_cast<std::uint32_t>(8 * i + bit + 1);
      const bool marked = ((b[6 + i] >> bit) & 1u) != 0;
      require(!marked || on_list[card], "every marked bit is a card on the list");
      if (ascending && card <= reach)
        require(marked == on_list[card], "an ascending list is marked whole");
    }
  }
  return 0;
}
