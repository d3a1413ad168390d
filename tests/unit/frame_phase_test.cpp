// The switch by re-opening, on the two kinds of port a frame goes out on.
#include "exchange/frame_phase.h"

#include "line/held_port.h"
#include "line/primitives.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

using exchange::FramePhase;
using exchange::reopening_frame;
using exchange::send_frame;

class FramePhaseTest : public SimTest {};
TARVEX_SIM_TEST_SUITE(FramePhaseTest);

// A port opened by name: the address byte on the first handle, the rest on
// the handle the re-open yields, each with its own setting.
TEST_P(FramePhaseTest, ReopeningSwitchesHandlesBetweenTheAddressAndTheRest) {
  struct Case {
    const char* name;
    FramePhase phase;
    line::LineSetting data;
  };
  const Case cases[] = {
      {"SPACE, one stop bit", reopening_frame(), line::space()},
      {"SPACE, two stop bits", reopening_frame(line::space(9600, line::StopBits::Two)),
       line::space(9600, line::StopBits::Two)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const Bytes frame{0x05, 0xA1, 0xA6};
    {
      line::ScopedPort port(bus(), kPort, line::TimeoutSet::Standard);
      EXPECT_TRUE(send_frame(port, c.phase, frame.data(), 3));
      EXPECT_EQ(bus().open_handles(), 1u) << "the first handle is closed by the re-open";
    }
    bus().advance(20'000);
    const auto opens = events<trace::Open>();
    const auto writes = events<trace::Write>();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1].timeouts, line::TimeoutSet::Reopen);
    EXPECT_EQ(writes.at(0).handle, opens[0].handle);
    EXPECT_EQ(writes.at(1).handle, opens[1].handle);
    EXPECT_EQ(writes.at(1).bytes, (Bytes{0xA1, 0xA6}));
    EXPECT_EQ(bus().sent(kPort).back().stop_bits, c.data.stop_bits);
    EXPECT_TRUE(busy_waits_ms().empty());
    EXPECT_EQ(bus().open_handles(), 0u);
  }
}

// A held port belongs to the host: a phase that would re-open it does not go
// out on it, and the port stays open, never re-opened.
TEST_P(FramePhaseTest, HeldPortIsNeverReopened) {
  const line::Handle held = line::com_init(bus(), kPort, 9600);
  const Bytes frame{0x05, 0xA1, 0xA6};
  EXPECT_FALSE(send_frame(line::Channel{bus(), held}, reopening_frame(), frame.data(), 3));
  EXPECT_EQ(events<trace::Open>().size(), 1u);
  EXPECT_TRUE(events<trace::Close>().empty());
  EXPECT_EQ(bus().open_handles(), 1u);
  line::com_exit(bus(), held);
}

}  // namespace
}  // namespace tarvex::testing
