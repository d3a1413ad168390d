// getdata and senddata of both x86_64 DLLs under wine64, the same calls
// against each: the current build switches to the data phase in place
// between busy waits, the legacy build re-opens the port there (which
// discards input waiting in it), acknowledges every good reply, waits 30 ms
// before a block and awaits both acknowledgement bytes for every command
// code. Waits are checked on the host's tick count.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;
using Build = WineHost::Build;

class BuildProfilesWine : public WineTest, public ::testing::WithParamInterface<Build> {
 protected:
  bool legacy() const { return GetParam() == Build::Legacy; }
};

// A command code both builds give a long limit (1000 and 1500 ms): neither a
// loaded machine nor wine's tick, which lags and then jumps, can make the
// terminal late.
const Bytes kFrame = with_checksum({0x05, 0x30, 0x01});
const Bytes kGoodReply = with_checksum({0x31, 0x32, 0x33});
const Bytes kAck{0x02, 0x4F};

// Bytes waiting in the port before the call: the current build reads them as
// its reply (a wrong one); the legacy build's re-open discards them, and the
// terminal's reply comes through and is acknowledged.
TEST_P(BuildProfilesWine, GetdataWithInputWaiting) {
  const Bytes waiting{0xAA, 0xBB, 0xCC, 0xDD};
  terminal.then(0, waiting);
  ASSERT_TRUE(terminal.wait_unread(waiting.size(), kPatience));
  // The current build never reads a reply of the terminal's here: none is
  // scripted, so nothing can be left over.
  if (legacy()) terminal.then(kFrame.size(), kGoodReply, 2ms);

  const HostRun run = WineHost::run(terminal, {"getdata", "053001", "3"}, GetParam());
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run["result"], legacy() ? "0" : "4") << run.output;
  EXPECT_EQ(run["reply"], hex(legacy() ? kGoodReply : waiting));
  const Bytes wire = legacy() ? concat(kFrame, kAck) : kFrame;
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  note_unless(heard.at(0), LineParity::Mark);
  for (std::size_t i = 1; i < heard.size(); ++i) note_unless(heard[i], LineParity::Space);
}

// getdata with a good reply (a code the current build does not acknowledge),
// senddata answered 02 00, senddata with
// 0xB5 answered 03 4F by a terminal that only the legacy build listens to.
TEST_P(BuildProfilesWine, GetdataAndSenddata) {
  const Bytes send = concat(kFrame, with_checksum({0x01}));
  const Bytes send_b5 = concat(with_checksum({0x05, 0xB5}), with_checksum({0x0A, 0x0B}));
  terminal.then(kFrame.size(), kGoodReply, 2ms);
  terminal.then((legacy() ? kAck.size() : 0) + send.size(), {0x02, 0x00}, 2ms);
  if (legacy()) terminal.then(send_b5.size(), {0x03, 0x4F}, 2ms);

  const HostRun run = WineHost::run(terminal,
                                    {"getdata", "053001", "3", "+", "senddata", "053001", "01", "+",
                                     "senddata", "05B5", "0A0B"},
                                    GetParam());
  ASSERT_EQ(run.exit_status, 0) << run.output;
  const HostCase get = run.case_at(0);
  const HostCase acknowledged = run.case_at(1);
  const HostCase b5 = run.case_at(2);
  EXPECT_EQ(get["result"], "0") << run.output;
  EXPECT_EQ(get["reply"], hex(kGoodReply));
  EXPECT_EQ(acknowledged["result"], legacy() ? "4" : "0") << "02 00: both bytes compared or one";
  EXPECT_EQ(b5["result"], legacy() ? "4" : "0") << "0xB5: acknowledgement awaited or not";
  if (legacy()) {
    EXPECT_GE(ticks(acknowledged), 30) << "30 ms before the block";
    EXPECT_GE(ticks(b5), 30);
  } else {
    EXPECT_GE(ticks(get), 9 + 9) << "busy waits either side of the switch";
    EXPECT_GE(ticks(acknowledged), 9 + 10 + 10 + 11);
    EXPECT_GE(ticks(b5), 9 + 10 + 10);
  }
  std::cout << "note: " << name_of(GetParam()) << " ticks: getdata " << ticks(get)
            << ", senddata " << ticks(acknowledged) << ", senddata 0xB5 " << ticks(b5) << '\n';

  const Bytes get_wire = legacy() ? concat(kFrame, kAck) : kFrame;
  const Bytes wire = concat(concat(get_wire, send), send_b5);
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  // getdata's frame was answered, so its samples are exact; the legacy
  // build's acknowledgement is followed at once by the next call's switch.
  expect_address_then_data(heard, 0, kFrame.size() - 1, {LineParity::Space, 9600});
  for (std::size_t i = kFrame.size(); i < get_wire.size(); ++i) {
    note_unless(heard[i], LineParity::Space);
  }
  const Setting two_stop_bits{LineParity::Space, 9600, true};
  expect_address_then_data(heard, get_wire.size(), send.size() - 1, two_stop_bits);
  expect_address_then_data(heard, get_wire.size() + send.size(), send_b5.size() - 1,
                           two_stop_bits);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, BuildProfilesWine,
                         ::testing::Values(Build::Current, Build::Legacy),
                         [](const auto& test) { return std::string(name_of(test.param)); });

}  // namespace
}  // namespace tarvex::testing
