// onNet, sendBlack with a large list, and two transforms in the x86_64 DLL
// under wine64.
#include <gtest/gtest.h>

#include "card_list.h"
#include "pty_checks.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// The worked example by port name. Both replies have short fixed limits (80
// and 100 ms a byte), so both wait in the port before the run.
TEST_F(WineTest, OnNetWorkedExample) {
  const Bytes replies = concat(with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00}),
                               {0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1A});
  terminal.then(0, replies);
  ASSERT_TRUE(terminal.wait_unread(replies.size(), kPatience));

  const HostRun run = WineHost::run(terminal, {"onnet", "261"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run["result"], "0") << run.output;
  EXPECT_EQ(run["record"], "05 0A 0B 01 02 03 04 EE");
  EXPECT_GE(ticks(run.case_at(0)), 9 + 9 + 11 + 16 + 16 + 16 + 6);

  const Bytes wire{0x05, 0xA0, 0x00, 0x00, 0xA5, 0x00, 0xB4, 0x12, 0x34, 0xFA};
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  expect_address_then_data(terminal.heard(), 5, 4, {LineParity::Space, 9600});
}

// 1310 cards, the last above 130000: the largest block there is, 16257
// bytes in one write, acknowledged once the terminal has all of it.
TEST_F(WineTest, SendBlackLargestBlock) {
  const CardSeries cards{100, 100, 131000};
  const Bytes wire = concat({0x05, 0xA5, 0x00, 0x00, 0xAA}, bitmap_block(cards));
  ASSERT_EQ(wire.size(), 5u + 16250 + 7);
  terminal.then(wire.size(), {0x02, 0x4F}, 2ms);

  const HostRun run = WineHost::run(terminal, {"sendblack_series", "261", "100", "100", "131000"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run["cards"], "1310");
  EXPECT_EQ(run["result"], "0") << run.output;
  ASSERT_TRUE(terminal.wait_heard(wire.size(), kPatience));
  terminal.wait_heard(wire.size() + 1, 100ms);
  EXPECT_TRUE(terminal.heard_values() == wire) << "heard " << terminal.heard_values().size()
                                               << " bytes, expected " << wire.size();
  expect_address_then_data(terminal.heard(), 0, wire.size() - 1, {LineParity::Space, 9600});
}

TEST_F(WineTest, KeylockAndAbcd) {
  const HostRun run = WineHost::run(
      terminal, {"keylock", "123456", "+", "keylock", "000DF0", "+", "abcd", "12345678", "0", "+",
                 "abcd", "12345678", "1", "+", "abcd", "12345678", "-1"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["result"], "0");
  EXPECT_EQ(run.case_at(0)["key"], "57 2A 36 EE");
  EXPECT_EQ(run.case_at(1)["result"], "1") << "a nibble sum over a byte";
  EXPECT_EQ(run.case_at(1)["key"], "EE EE EE EE") << "nothing written";
  EXPECT_EQ(run.case_at(2)["code"], "160B2C12#");
  EXPECT_EQ(run.case_at(3)["code"], "13092811#");
  EXPECT_EQ(run.case_at(4)["code"], "120C270C#");
  for (std::size_t i = 2; i < 5; ++i) EXPECT_EQ(run.case_at(i)["result"], "0");
  EXPECT_TRUE(terminal.heard().empty()) << "no port touched";
}

}  // namespace
}  // namespace tarvex::testing
