// The DLL reaches a network serial server itself, over Winsock: ser2net on
// loopback in front of the scripted terminal, started as the network tier
// starts it. By name, on a held port, and a server that is not there, whose
// reason is Winsock's own.
#include <gtest/gtest.h>

#include "pty_checks.h"
#include "ser2net_server.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(WineTest, NetworkPortByNameOnAHeldPortAndRefused) {
  if (Ser2net::program().empty()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh)";
  Ser2net server(terminal.port());
  const Bytes ack{0x02, 0x4F};
  const Bytes frame{0x05, 0xC2, 0x01, 0x02};
  const Bytes answer = with_checksum({0x20, 0x0D, 0x0A, 0x11, 0x13, 0x03});
  const Bytes held_frame{0x07, 0xC1, 0x10};
  const Bytes held_answer = with_checksum({0x41, 0x42, 0x43});
  terminal.then(frame.size() + 1, answer, 2ms).then(ack.size() + held_frame.size() + 1, held_answer, 2ms);

  const HostRun run = WineHost::run(
      terminal, {"getdata", argument(frame), "6", "+", "held_getdata", "9600", argument(held_frame), "3", "2000"},
      WineHost::Build::Current, std::chrono::seconds{120}, server.port_name());
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(0)["reply"], hex(answer));
  EXPECT_EQ(run.case_at(1)["held"], "valid") << run.output;
  EXPECT_EQ(run.case_at(1)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(1)["reply"], hex(held_answer));
  const Bytes first = concat(with_checksum(frame), ack);
  const Bytes wire = concat(first, concat(with_checksum(held_frame), ack));
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  // The terminal answers once it has heard a frame: what it heard of the
  // data phase was sampled before the library could switch again.
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  expect_all_under(heard, 1, frame.size() + 1, {LineParity::Space, 9600});
  expect_all_under(heard, first.size() + 1, first.size() + held_frame.size() + 1, {LineParity::Space, 9600});

  server.kill();
  const HostRun refused = WineHost::run(terminal, {"open_error", server.port_name()},
                                        WineHost::Build::Current, std::chrono::seconds{120},
                                        server.port_name());
  EXPECT_EQ(refused["held"], "invalid") << refused.output;
  EXPECT_EQ(refused["last_error"], "10061") << "WSAECONNREFUSED";
}

}  // namespace
}  // namespace tarvex::testing
