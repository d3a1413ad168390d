// The request and reply family in the x86_64 DLL under wine64: the Windows
// test host calls the entry points on COM5, which the wine prefix maps to a
// pseudo-terminal with a scripted terminal on the other side.
//
// Wine does not enforce exclusive COM opens, so exclusivity is left to the
// other tiers.
#include <gtest/gtest.h>

#include "pty_checks.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(WineTest, GetdataGoodReplyIsAcknowledged) {
  const Bytes frame{0x05, 0xC2, 0x01, 0x02};
  const Bytes wire_frame = with_checksum(frame);
  // Reply bytes that a port not in binary mode would change.
  const Bytes answer = with_checksum({0x20, 0x0D, 0x0A, 0x11, 0x13, 0x03});
  terminal.then(wire_frame.size(), answer, 2ms);

  const HostRun run = WineHost::run(terminal, {"getdata", argument(frame), "6"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run["result"], "0") << run.output;
  EXPECT_EQ(run["frame"], hex(wire_frame)) << "the checksum goes into the caller's frame";
  EXPECT_EQ(run["reply"], hex(answer));
  EXPECT_GE(ticks(run.case_at(0)), 27) << "three 9 ms waits";

  EXPECT_EQ(heard_once(wire_frame.size() + 2), hex(concat(wire_frame, {0x02, 0x4F})));
  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, heard.size() - 1, {LineParity::Space, 9600});
  EXPECT_EQ(terminal.answers().size(), 1u);
}

TEST_F(WineTest, HandleGetDataOnAHeldPort) {
  const Bytes frame{0x07, 0xC1, 0x10};
  const Bytes wire_frame = with_checksum(frame);
  const Bytes answer = with_checksum({0x41, 0x42, 0x43});
  terminal.then(wire_frame.size(), answer, 2ms);

  const HostRun run =
      WineHost::run(terminal, {"held_getdata", "19200", argument(frame), "3", "2000"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run["held"], "valid") << run.output;
  EXPECT_EQ(run["result"], "0") << run.output;
  EXPECT_EQ(run["frame"], hex(wire_frame));
  EXPECT_EQ(run["reply"], hex(answer));
  EXPECT_EQ(run["exit"], "0");
  EXPECT_GE(ticks(run.case_at(0)), 19 * 3 + 5 + 5) << "the busy waits of HANDLE_GetData";

  EXPECT_EQ(heard_once(wire_frame.size() + 2), hex(concat(wire_frame, {0x02, 0x4F})))
      << "always acknowledged";
  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, heard.size() - 1, {LineParity::Space, 19200});
  EXPECT_EQ(terminal.answers().size(), 1u);
}

}  // namespace
}  // namespace tarvex::testing
