// The on-line query through the Linux shared object: the query to the
// terminal's address, the confirmation to address 0x00 with the first two
// reply bytes, and the identity record, over a pseudo-terminal.
//
// The replies' per-byte limits are short and fixed (80 and 100 ms by port
// name), so replies that must not depend on how soon the terminal's thread
// (or the pseudo-terminal's kernel worker) runs are waiting in the port
// before the call. The library goes on from
// frame 1 without the terminal then, so frame 1's samples can come after the
// next switch and are only noted; frame 2's are exact.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// Address 0x05: the query and its confirmation as they go on the wire.
const Bytes kQuery{0x05, 0xA0, 0x00, 0x00, 0xA5};
const Bytes kQueryReply = with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00});
const Bytes kConfirmation{0x00, 0xB4, 0x12, 0x34, 0xFA};
const Bytes kUntouched{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

struct OnNetCase {
  const char* name;
  Bytes confirmation_reply;
  Bytes record;  // the caller's 7 bytes afterwards, and one beyond them
};

void PrintTo(const OnNetCase& c, std::ostream* os) { *os << c.name; }

class OnNetPty : public ::testing::TestWithParam<OnNetCase> {};

TEST_P(OnNetPty, QueryConfirmationRecord) {
  const OnNetCase& c = GetParam();
  PtyTerminal terminal;
  const Bytes replies = concat(kQueryReply, c.confirmation_reply);
  ASSERT_EQ(kQueryReply.back(), 0x50);
  terminal.then(0, replies);
  ASSERT_TRUE(terminal.wait_unread(replies.size(), kPatience));
  Bytes record = kUntouched;

  const Clock::time_point start = Clock::now();
  const std::int32_t result = onNet(0x105, record.data(), terminal.port().c_str());
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, TARVEX_OK);
  EXPECT_EQ(hex(record), hex(c.record));
  const Bytes wire = concat(kQuery, kConfirmation);
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  note_unless(heard[0], LineParity::Mark);
  for (std::size_t i = 1; i < 5; ++i) note_unless(heard[i], LineParity::Space);
  expect_address_then_data(heard, 5, 4, {LineParity::Space, 9600});
  EXPECT_TRUE(more_than(start, heard[1].at, 17ms)) << "9 and 9 ms before frame 1's rest";
  EXPECT_TRUE(more_than(start, heard[5].at, 44ms)) << "11 and 16 ms more before address 0x00";
  EXPECT_TRUE(more_than(start, heard[6].at, 76ms)) << "16 and 16 ms more before frame 2's rest";
  EXPECT_TRUE(more_than(start, end, 82ms)) << "and 6 ms before reply 2";
  EXPECT_LT(since(start, end), kGenerous);
}

INSTANTIATE_TEST_SUITE_P(
    Echoes, OnNetPty,
    ::testing::Values(
        OnNetCase{"EchoedAddressFillsTheRecord",
                  {0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1A},
                  {0x05, 0x0A, 0x0B, 0x01, 0x02, 0x03, 0x04, 0xEE}},
        OnNetCase{"OtherAddressLeavesTheRecord", {0x00, 0x06, 0x0A, 0x0B, 0x00, 0x1B}, kUntouched}),
    [](const auto& test) { return std::string(test.param.name); });

// On a held port: reply 1 (100 ms a byte) waits in the port; reply 2 (1000
// ms a byte) answers frame 2. The port stays open in SPACE.
TEST(HandleOnNetPty, WorkedExampleOnAHeldPort) {
  PtyTerminal terminal;
  const tarvex_port_t port = com_init(terminal.port().c_str(), 19200);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  terminal.then(0, kQueryReply);
  ASSERT_TRUE(terminal.wait_unread(kQueryReply.size(), kPatience));
  terminal.then(kQuery.size() + kConfirmation.size(), {0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1A}, 2ms);
  Bytes record = kUntouched;

  const Clock::time_point start = Clock::now();
  EXPECT_EQ(HANDLE_OnNet(port, 5, record.data()), TARVEX_OK);
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(hex(record), hex({0x05, 0x0A, 0x0B, 0x01, 0x02, 0x03, 0x04, 0xEE}));
  const Bytes wire = concat(kQuery, kConfirmation);
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  note_unless(heard[0], LineParity::Mark);
  for (std::size_t i = 1; i < 5; ++i) note_unless(heard[i], LineParity::Space);
  expect_address_then_data(heard, 5, 4, {LineParity::Space, 19200});
  EXPECT_TRUE(more_than(start, heard[0].at, 20ms)) << "21 ms before the address byte";
  EXPECT_TRUE(more_than(start, heard[1].at, 37ms)) << "6 and 11 ms more before the rest";
  EXPECT_TRUE(more_than(start, heard[5].at, 64ms)) << "11 and 16 ms more before address 0x00";
  EXPECT_TRUE(more_than(start, heard[6].at, 84ms)) << "9 and 11 ms more before frame 2's rest";
  EXPECT_LT(since(start, end), kGenerous);
  EXPECT_EQ(terminal.line_now().parity, LineParity::Space);
  EXPECT_EQ(com_exit(port), TARVEX_OK);
}

}  // namespace
}  // namespace tarvex::testing
