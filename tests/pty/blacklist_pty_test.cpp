// The blacklist download through the Linux shared object, with lists of
// thousands of cards: the bitmap goes out in one block behind the frame, and
// the terminal acknowledges it once it has all of it.
#include <gtest/gtest.h>

#include <string>

#include "card_list.h"
#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

struct BlacklistCase {
  const char* name;
  CardSeries cards;
  Bytes answer;
  std::int32_t result;
  std::size_t block_bytes;  // L + 7
};

void PrintTo(const BlacklistCase& c, std::ostream* os) { *os << c.name; }

class SendBlackPty : public ::testing::TestWithParam<BlacklistCase> {};

TEST_P(SendBlackPty, FrameThenOneBlockThenAcknowledgement) {
  const BlacklistCase& c = GetParam();
  PtyTerminal terminal;
  const Bytes entries = card_entries(c.cards);
  const auto count = static_cast<std::int32_t>(entries.size() / 3);
  const Bytes block = bitmap_block(c.cards);
  ASSERT_EQ(block.size(), c.block_bytes);
  const Bytes frame{0x05, 0xA5, 0x00, 0x00, 0xAA};
  const Bytes wire = concat(frame, block);
  terminal.then(wire.size(), c.answer, 2ms);
  const Bytes list_before = entries;

  const Clock::time_point start = Clock::now();
  const std::int32_t result = sendBlack(0x105, count, entries.data(), terminal.port().c_str());
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(entries, list_before) << "the list is only read";
  ASSERT_TRUE(terminal.wait_heard(wire.size(), kPatience));
  terminal.wait_heard(wire.size() + 1, 50ms);
  const Bytes heard_bytes = terminal.heard_values();
  ASSERT_EQ(heard_bytes.size(), wire.size()) << "the frame and the block, nothing more";
  EXPECT_EQ(hex(Bytes(heard_bytes.begin(), heard_bytes.begin() + 5)), hex(frame));
  EXPECT_EQ(hex(Bytes(heard_bytes.begin() + 5, heard_bytes.begin() + 11)),
            hex(Bytes(block.begin(), block.begin() + 6)))
      << "the block's header";
  EXPECT_TRUE(heard_bytes == wire) << "the bitmap differs";
  expect_address_then_data(terminal.heard(), 0, wire.size() - 1, {LineParity::Space, 9600});
  EXPECT_LT(since(start, end), kGenerous);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SendBlackPty,
    ::testing::Values(
        // 10000 cards: 3750 bitmap bytes.
        BlacklistCase{"TenThousandCards", {3, 3, 30000}, {0x02, 0x4F}, TARVEX_OK, 3750 + 7},
        // 1310 cards, the last ones above 130000: the largest block there is.
        BlacklistCase{"LastCardsAboveTheCap", {100, 100, 131000}, {0x02, 0x4F}, TARVEX_OK,
                      16250 + 7},
        // Both acknowledgement bytes are compared.
        BlacklistCase{"RefusedBlock", {1, 1, 2000}, {0x02, 0x4E}, TARVEX_REPLY_WRONG, 250 + 7}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace tarvex::testing
