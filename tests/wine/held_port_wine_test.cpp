// The held-port exchanges of the later families in the x86_64 DLL under
// wine64, one session between com_init and com_exit: HANDLE_OnNet on the
// worked example, HANDLE_SendData, HANDLE_ComData and sam_GetData.
#include <gtest/gtest.h>

#include "pty_checks.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(WineTest, HeldPortSession) {
  const Bytes query{0x05, 0xA0, 0x00, 0x00, 0xA5};
  const Bytes confirmation{0x00, 0xB4, 0x12, 0x34, 0xFA};
  const Bytes send = concat(with_checksum({0x07, 0xC1, 0x02}), with_checksum({0x0A, 0x0B, 0x0C}));
  const Bytes combined = concat(with_checksum({0x07, 0xC3, 0x01}), with_checksum({0x0A, 0x0B}));
  const Bytes raw{0x12, 0x34, 0xA1, 0xB2, 0xC3};
  // The first reply of the query has 100 ms a byte: it waits in the port
  // before the run, so the query's frame goes on without the terminal and
  // its samples are only noted.
  const Bytes query_reply = with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00});
  terminal.then(0, query_reply);
  ASSERT_TRUE(terminal.wait_unread(query_reply.size(), kPatience));
  terminal.then(query.size() + confirmation.size(), {0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1A}, 2ms)
      .then(send.size(), {0x02, 0x4F}, 2ms)
      .then(combined.size(), with_checksum({0x31, 0x32, 0x33}), 2ms)
      .then(raw.size(), {0x01, 0x02, 0x03, 0x04}, 2ms);

  const HostRun run = WineHost::run(
      terminal, {"com_init", "19200", "+", "handle_onnet", "5", "+", "handle_senddata", "07C102",
                 "0A0B0C", "2000", "+", "handle_comdata", "07C301", "0A0B", "3", "2000", "+",
                 "sam_getdata", "1234A1B2C3", "4", "1000", "+", "com_exit"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["held"], "valid") << run.output;

  const HostCase onnet = run.case_at(1);
  EXPECT_EQ(onnet["result"], "0") << run.output;
  EXPECT_EQ(onnet["record"], "05 0A 0B 01 02 03 04 EE");
  EXPECT_GE(ticks(onnet), 21 + 6 + 11 + 11 + 16 + 9 + 11);
  const HostCase senddata = run.case_at(2);
  EXPECT_EQ(senddata["result"], "0") << run.output;
  EXPECT_GE(ticks(senddata), 4 * 19 + 20);
  const HostCase comdata = run.case_at(3);
  EXPECT_EQ(comdata["result"], "0") << run.output;
  EXPECT_EQ(comdata["block"], "0A 0B 15");
  EXPECT_EQ(comdata["reply"], "31 32 33 96");
  EXPECT_GE(ticks(comdata), 3 * 19);
  const HostCase sam = run.case_at(4);
  EXPECT_EQ(sam["result"], "0") << run.output;
  EXPECT_EQ(sam["frame"], "12 34 A1 B2 C3") << "nothing is written into a raw frame";
  EXPECT_EQ(sam["reply"], "01 02 03 04");
  EXPECT_GE(ticks(sam), 19);
  EXPECT_EQ(run.case_at(5)["result"], "0");

  // Nothing after any reply: no acknowledgement on a held port here.
  const Bytes wire = concat(concat(concat(concat(query, confirmation), send), combined), raw);
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  const Setting data_phase{LineParity::Space, 19200};
  note_unless(heard[0], LineParity::Mark);
  for (std::size_t i = 1; i < query.size(); ++i) note_unless(heard[i], LineParity::Space);
  std::size_t at = query.size();
  for (const Bytes* frame : {&confirmation, &send, &combined}) {
    expect_address_then_data(heard, at, frame->size() - 1, data_phase);
    at += frame->size();
  }
  note_unless(heard[at], LineParity::Mark);
  note_unless(heard[at + 1], LineParity::Mark);
  expect_all_under(heard, at + 2, heard.size(), data_phase);
  EXPECT_EQ(terminal.line_now().parity, LineParity::Space) << "the port was left in SPACE";
}

// USB adapters land above COM9, where only \\.\COM12 opens: the library
// opens a plain COMn name that way, in any case. A port that is not there
// leaves the system's reason for GetLastError.
TEST_F(WineTest, PortNamesAboveCom9AndTheReasonForAFailedOpen) {
  terminal.then(3, with_checksum({0x10, 0x20}), 2ms);
  const HostRun run = WineHost::run(
      terminal, {"held_getdata", "9600", "05C2", "2", "1000", "+", "open_error", "COM99"},
      WineHost::Build::Current, std::chrono::seconds{120}, "com12");
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["held"], "valid") << run.output;
  EXPECT_EQ(run.case_at(0)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(1)["held"], "invalid");
  EXPECT_EQ(run.case_at(1)["last_error"], "2") << "ERROR_FILE_NOT_FOUND";
}

}  // namespace
}  // namespace tarvex::testing
