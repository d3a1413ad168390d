// The request and reply family in the x86_64 DLL under wine64: the Windows
// test host calls the entry points on COM5, which the wine prefix maps to a
// pseudo-terminal with a scripted terminal on the other side.
//
// Wine does not enforce exclusive COM opens, so exclusivity is left to the
// other tiers. Timing is checked on GetTickCount in the host (the host's
// "ms"), the clock the library's waits run on, and not in real time: wine's
// tick lags and then jumps by several milliseconds (as Windows' moves in
// 10-16 ms steps), so a wait of k ticks can take less than k ms of real time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pty_terminal.h"
#include "wine_host.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

Bytes with_checksum(Bytes data) {
  std::uint8_t sum = 0;
  for (const std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  data.push_back(sum);
  return data;
}

// "05C20102": bytes as the host takes them.
std::string argument(const Bytes& bytes) {
  std::string text = hex(bytes);
  std::erase(text, ' ');
  return text;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The bytes after the address byte went out under SPACE at `baud`: nothing
// switches after them, so the samples are exact. The address byte's sample
// can come after the switch on a loaded machine, so it is only noted.
void expect_data_phase(const std::vector<HeardByte>& heard, std::uint32_t baud) {
  ASSERT_FALSE(heard.empty());
  if (heard[0].line.parity != LineParity::Mark) {
    std::cout << "note: the pty did not show the address byte's parity ("
              << name_of(heard[0].line.parity) << ")\n";
  }
  for (std::size_t i = 1; i < heard.size(); ++i) {
    EXPECT_EQ(heard[i].line.parity, LineParity::Space) << "byte " << i;
    EXPECT_EQ(heard[i].line.baud, baud) << "byte " << i;
    EXPECT_FALSE(heard[i].line.two_stop_bits) << "byte " << i;
  }
}

class WineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WineHost::ready()); }

  // The bytes heard, once `count` came and a little longer.
  std::string heard_once(std::size_t count) {
    terminal.wait_heard(count, 5000ms);
    terminal.wait_heard(count + 1, 100ms);
    return hex(terminal.heard_values());
  }

  PtyTerminal terminal;
};

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
  EXPECT_GE(std::atoi(run["ms"].c_str()), 27) << "three 9 ms waits";

  EXPECT_EQ(heard_once(wire_frame.size() + 2), hex(concat(wire_frame, {0x02, 0x4F})));
  const std::vector<HeardByte> heard = terminal.heard();
  expect_data_phase(heard, 9600);
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
  EXPECT_GE(std::atoi(run["ms"].c_str()), 19 * 3 + 5 + 5) << "the busy waits of HANDLE_GetData";

  EXPECT_EQ(heard_once(wire_frame.size() + 2), hex(concat(wire_frame, {0x02, 0x4F})))
      << "always acknowledged";
  const std::vector<HeardByte> heard = terminal.heard();
  expect_data_phase(heard, 19200);
  EXPECT_EQ(terminal.answers().size(), 1u);
}

}  // namespace
}  // namespace tarvex::testing
