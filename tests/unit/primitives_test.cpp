// The line primitives on the simulated bus: the timing rules at their edges.
#include "line/primitives.h"

#include "line/os_platform.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

using line::ReplyOutcome;

class PrimitivesTest : public SimTest {
 protected:
  line::Channel open() { return {bus(), line::open_by_name(bus(), kPort, line::TimeoutSet::Standard)}; }
  std::uint64_t ticks_between(std::uint64_t from_us, std::uint64_t to_us) const {
    return to_us / 1000 - from_us / 1000;
  }
};
TARVEX_SIM_TEST_SUITE(PrimitivesTest);

TEST(Elapsed, IsUnsignedAcrossTheWrap) {
  EXPECT_EQ(line::elapsed(0xFFFFFFF0u, 0x00000005u), 21u);
  EXPECT_EQ(line::elapsed(7u, 7u), 0u);
}

TEST_P(PrimitivesTest, BusyWaitReturnsOnTheFirstReadingThatIsFarEnough) {
  for (const std::uint32_t ms : {1u, 9u, 19u}) {
    bus().clear_trace();
    line::busy_wait(bus(), ms);
    const auto spins = events<trace::Spin>();
    ASSERT_EQ(spins.size(), 1u);
    EXPECT_EQ(ticks_between(spins[0].time_us, spins[0].end_us), ms);
  }
  bus().clear_trace();
  line::busy_wait(bus(), 0);
  EXPECT_TRUE(bus().trace().empty()) << "a wait of 0 reads no tick";
}

// A clock that sleeps as the Linux backend does: to the instant the tick
// turns to its target, woken `late_us` after it. It has no port.
class SleepingClock final : public line::Platform {
 public:
  SleepingClock(std::uint32_t tick_start, std::uint64_t late_us) : start_(tick_start), late_us_(late_us) {}
  std::uint32_t tick() override { return static_cast<std::uint32_t>(start_ + now_us / 1000); }
  void pause_until_tick(std::uint32_t target) override {
    ++pauses;
    const std::uint32_t ahead = target - tick();
    if (ahead == 0 || ahead > 0x7FFFFFFFu) return;
    now_us = (now_us / 1000 + ahead) * 1000 + late_us_;
  }
  line::Handle open(const char*, line::TimeoutSet) override { return line::kInvalidHandle; }
  bool set_line(line::Handle, const line::LineSetting&) override { return false; }
  std::uint32_t write(line::Handle, const std::uint8_t*, std::uint32_t) override { return 0; }
  line::ReadResult read_byte(line::Handle, std::uint8_t*) override { return line::ReadResult::HungUp; }
  std::optional<std::uint32_t> output_queue(line::Handle) override { return std::nullopt; }
  void purge_input(line::Handle) override {}
  bool hung_up(line::Handle) override { return false; }
  std::uint32_t reply_allowance_ms(line::Handle) override { return 0; }
  void close(line::Handle) override {}
  std::optional<line::OsError> error() const override { return std::nullopt; }

  std::uint64_t now_us = 0;
  int pauses = 0;

 private:
  std::uint64_t start_;
  std::uint64_t late_us_;
};

// A busy wait that sleeps ends when the tick has turned k times, never
// earlier, also across the wrap; each wait counts from its own start, so a
// late wake-up is never taken from the next wait, and lateness does not add
// up over a run of waits.
TEST(BusyWait, SleepsToTheTickNeverShortAndWithoutDrift) {
  for (const std::uint32_t tick_start : {0u, 0xFFFFFFF8u}) {
    for (const std::uint64_t late_us : {0u, 300u, 999u}) {
      SleepingClock clock(tick_start, late_us);
      clock.now_us = 400;  // the first wait starts inside a tick
      constexpr int kWaits = 50;
      const std::uint64_t first_us = clock.now_us;
      std::uint64_t asked_ms = 0;
      for (int i = 0; i < kWaits; ++i) {
        const std::uint32_t ms = i % 2 == 0 ? 9u : 19u;
        const std::uint32_t before = clock.tick();
        const std::uint64_t before_us = clock.now_us;
        const int pauses = clock.pauses;
        line::busy_wait(clock, ms);
        EXPECT_GE(line::elapsed(before, clock.tick()), ms) << "tick start " << tick_start;
        EXPECT_GT(clock.now_us - before_us, (ms - 1) * 1000u);
        EXPECT_EQ(clock.pauses - pauses, 1) << "one sleep, no spin";
        asked_ms += ms;
      }
      EXPECT_LE(clock.now_us - first_us, asked_ms * 1000 + kWaits * late_us) << "late " << late_us;
    }
  }
}

// The OS backend's own pause on the real clock ends on the tick it was asked
// for: never before, and not a tick after (which would make every busy wait
// a millisecond longer). A loaded machine wakes a sleep late now and then,
// so one of several pauses must end on the tick itself.
TEST(BusyWait, TheOsBackendEndsOnTheTickItself) {
  line::OsPlatform os;
  for (int i = 0; i < 50; ++i) {
    const std::uint32_t target = os.tick() + 2;
    os.pause_until_tick(target);
    const std::uint32_t now = os.tick();
    ASSERT_LT(line::elapsed(target, now), 0x80000000u) << "ended before " << target;
    if (now == target) return;
  }
  FAIL() << "every pause ended a tick or more past its target";
}

TEST_P(PrimitivesTest, DrainWaitFailsWhenTheQueueEmptiesOnlyAfterTheLimit) {
  // At 300 baud a character under MARK takes 36.7 ms; the write returns as
  // it starts, so the queue empties 36 or 37 ticks into the drain wait.
  struct Case {
    std::uint32_t limit;
    bool drained;
  };
  for (const Case c : {Case{30, false}, Case{35, false}, Case{38, true}, Case{0, false}}) {
    const line::Channel port = open();
    ASSERT_TRUE(line::set_line(port, line::mark(300)));
    const Bytes one{0x55};
    ASSERT_TRUE(line::checked_write(port, one.data(), 1));
    EXPECT_EQ(line::drain_wait(port, c.limit), c.drained) << "limit " << c.limit;
    bus().advance(50'000);
    line::release(port);
  }
}

TEST_P(PrimitivesTest, WriteReturnsOnceItsLastByteIsOnTheLineOrItsTimeoutPasses) {
  const line::Channel port = open();
  ASSERT_TRUE(line::set_line(port, line::mark(9600)));
  const Bytes ten(10, 0x55);
  const std::uint64_t before = bus().now_us();
  EXPECT_TRUE(line::checked_write(port, ten.data(), 10));
  EXPECT_EQ(bus().now_us() - before, 9u * 1146u) << "nine characters before the last one starts";
  // At 300 baud a character takes 36.7 ms, more than the 5 ms a byte the
  // write allows: a write of 10 bytes gives up after 60 ms with 2 taken.
  ASSERT_TRUE(line::set_line(port, line::mark(300)));
  bus().advance(10'000);
  const std::uint64_t slow = bus().now_us();
  EXPECT_EQ(bus().write(port.handle, ten.data(), 10), 2u);
  EXPECT_EQ(bus().now_us() - slow, 60'000u);
  line::release(port);
}

TEST_P(PrimitivesTest, DrainWaitOnAPortThatNeverOpenedFailsAtOnce) {
  const std::uint64_t before = bus().now_us();
  EXPECT_FALSE(line::drain_wait({bus(), line::kInvalidHandle}, 4500));
  EXPECT_LT(bus().now_us() - before, 1000u);
}

TEST_P(PrimitivesTest, ByteReadInTheAttemptThatEndsPastTheLimitIsNotCounted) {
  const line::Channel port = open();
  // Polls end at 15 ms and 30 ms; the byte comes at 25 ms, in the poll that
  // ends past the 20 ms limit.
  const Bytes late{0xAB};
  bus().inject(kPort, late, bus().now_us() + 25'000 - 1146);
  std::uint8_t destination = 0;
  EXPECT_FALSE(line::timed_byte_read(port, &destination, 20));
  EXPECT_EQ(destination, 0xAB) << "the late byte stays in the buffer";
  line::release(port);
}

TEST_P(PrimitivesTest, ByteReadWithinTheLimitCounts) {
  const line::Channel port = open();
  const Bytes on_time{0x42};
  bus().inject(kPort, on_time, bus().now_us() + 18'000);
  std::uint8_t destination = 0;
  EXPECT_TRUE(line::timed_byte_read(port, &destination, 20));
  EXPECT_EQ(destination, 0x42);
  line::release(port);
}

TEST_P(PrimitivesTest, CheckedReplyOutcomes) {
  struct Case {
    const char* name;
    Bytes arriving;
    ReplyOutcome outcome;
  };
  const Case cases[] = {
      {"good, sum wraps", with_checksum({0xFF, 0x02, 0x80}), ReplyOutcome::Good},
      {"checksum off by one", {0xFF, 0x02, 0x80, 0x82}, ReplyOutcome::WrongChecksum},
      {"one byte short", {0xFF, 0x02, 0x80}, ReplyOutcome::Incomplete},
  };
  for (const Case& c : cases) {
    const line::Channel port = open();
    bus().inject(kPort, c.arriving, bus().now_us() + 1000);
    Bytes reply(4, 0xEE);
    EXPECT_EQ(line::checked_reply(port, reply.data(), 3, 100), c.outcome) << c.name;
    for (std::size_t i = 0; i < c.arriving.size(); ++i) EXPECT_EQ(reply[i], c.arriving[i]) << c.name;
    line::release(port);
  }
}

TEST_P(PrimitivesTest, RawReplyCountsBytesOnly) {
  const line::Channel port = open();
  const Bytes two{0x01, 0x02};
  bus().inject(kPort, two, bus().now_us() + 1000);
  Bytes reply(3, 0xEE);
  EXPECT_EQ(line::raw_reply(port, reply.data(), 3, 50), ReplyOutcome::Incomplete);
  EXPECT_EQ(reply, (Bytes{0x01, 0x02, 0xEE}));
  line::release(port);
}

TEST_P(PrimitivesTest, AcknowledgementComparisons) {
  struct Case {
    Bytes arriving;
    line::AckCheck check;
    ReplyOutcome outcome;
  };
  const Case cases[] = {
      {{0x02, 0x4F}, line::AckCheck::BothBytes, ReplyOutcome::Good},
      {{0x02, 0x00}, line::AckCheck::BothBytes, ReplyOutcome::WrongChecksum},
      {{0x02, 0x00}, line::AckCheck::FirstByteOnly, ReplyOutcome::Good},
      {{0x03, 0x4F}, line::AckCheck::FirstByteOnly, ReplyOutcome::WrongChecksum},
      {{0x02}, line::AckCheck::FirstByteOnly, ReplyOutcome::Incomplete},
  };
  for (const Case& c : cases) {
    const line::Channel port = open();
    bus().inject(kPort, c.arriving, bus().now_us() + 1000);
    EXPECT_EQ(line::await_acknowledgement(port, 100, c.check), c.outcome);
    line::release(port);
  }
}

TEST(Checksum, CoversTheAddressByteAndWraps) {
  Bytes frame{0x05, 0xFF, 0x02, 0x00};
  line::append_checksum(frame.data(), 3);
  EXPECT_EQ(frame[3], 0x06);
  Bytes empty{0x77};
  line::append_checksum(empty.data(), 0);
  EXPECT_EQ(empty[0], 0x00) << "the checksum of no bytes goes into byte 0";
}

TEST_P(PrimitivesTest, ReleaseDiscardsInputAndCloses) {
  const line::Channel port = open();
  const Bytes stray{0x99};
  bus().inject(kPort, stray, bus().now_us());
  bus().advance(2000);
  line::release(port);
  EXPECT_EQ(bus().open_handles(), 0u);
  EXPECT_EQ(bus().pending_input(kPort), 0u);
}

TEST_P(PrimitivesTest, ReopenReleasesAndOpensWithTheReopenTimeouts) {
  const line::Channel first = open();
  const line::Handle second = line::reopen(bus(), kPort, first.handle);
  EXPECT_NE(second, first.handle);
  EXPECT_EQ(bus().open_handles(), 1u);
  EXPECT_EQ(bus().timeouts(kPort), line::TimeoutSet::Reopen);
  line::release({bus(), second});
}

TEST_P(PrimitivesTest, SecondOpenOfABusyPortFails) {
  const line::Channel first = open();
  EXPECT_EQ(line::open_by_name(bus(), kPort, line::TimeoutSet::Standard), line::kInvalidHandle);
  EXPECT_EQ(line::open_by_name(bus(), "COM9", line::TimeoutSet::Standard), line::kInvalidHandle);
  line::release(first);
}

}  // namespace
}  // namespace tarvex::testing
