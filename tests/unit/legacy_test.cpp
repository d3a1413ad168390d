// The legacy build's getdata and senddata on the simulated bus.
#include "legacy/legacy_exchanges.h"

#include <algorithm>
#include <functional>
#include <set>

#include "line/held_port.h"
#include "line/primitives.h"
#include "listed_limits.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

using line::StopBits;
using line::TimeoutSet;

class LegacyTest : public SimTest {
 public:
  using SimTest::terminal;

  Result getdata(Bytes& frame, std::int32_t n, Bytes& reply, std::int32_t reply_length) {
    const Result result =
        legacy::getdata(bus(), n, frame.data(), reply_length, reply.data(), kPort);
    settle();
    return result;
  }

  Result senddata(Bytes& frame, std::int32_t n, Bytes& block, std::int32_t m) {
    const Result result = legacy::senddata(bus(), n, frame.data(), m, block.data(), kPort);
    settle();
    return result;
  }

 protected:

  // Milliseconds from the first poll of a drain (or of a read) to the end of the last.
  std::uint64_t polled_ms(bool drain) const {
    const auto polls = polled(drain);
    if (polls.empty()) return 0;
    return polls.back().end_us / 1000 - polls.front().time_us / 1000;
  }

  // The busy waits that come after the write `write_index`.
  std::size_t busy_waits_after_write(std::size_t write_index) {
    const std::uint64_t written = events<trace::Write>().at(write_index).end_us;
    const auto busy_after = [written](const trace::Spin& s) { return s.readings > 2 && s.time_us >= written; };
    return static_cast<std::size_t>(std::ranges::count_if(events<trace::Spin>(), busy_after));
  }

 private:
  // Every handle the call opened is closed again by the time it returns.
  void settle() {
    EXPECT_EQ(bus().open_handles(), 0u) << "every port opened is released";
    EXPECT_EQ(events<trace::Close>().size(), events<trace::Open>().size());
    bus().advance(50'000);  // let everything written leave the line
  }
};
TARVEX_SIM_TEST_SUITE(LegacyTest);

// Address byte on the first handle, the rest on a second one opened with the
// re-open timeouts, and nothing but the re-open between them: no busy wait.
TEST_P(LegacyTest, BothSwitchToTheDataPhaseByReopening) {
  struct Case {
    const char* name;
    std::function<Result(LegacyTest&)> call;
    const char* wire;
    StopBits data_stop_bits;
    std::vector<std::uint64_t> waits;
  };
  const Case cases[] = {
      {"getdata",
       [](LegacyTest& t) {
         t.terminal().then(4, with_checksum({0x10, 0x20, 0x30}));
         Bytes frame{0x05, 0xA1, 0x33, 0xEE};
         Bytes reply(4, 0xEE);
         const Result result = t.getdata(frame, 3, reply, 3);
         EXPECT_EQ(frame, (Bytes{0x05, 0xA1, 0x33, 0xD9}));
         EXPECT_EQ(reply, (Bytes{0x10, 0x20, 0x30, 0x60}));
         return result;
       },
       "M05 SA1 S33 SD9 S02 S4F",
       StopBits::One,
       {}},
      {"senddata",
       [](LegacyTest& t) {
         t.terminal().then(7, {0x02, 0x4F});
         Bytes frame{0x05, 0xA1, 0x33, 0xEE};
         Bytes block{0xFF, 0x02, 0xEE};
         const Result result = t.senddata(frame, 3, block, 2);
         EXPECT_EQ(frame, (Bytes{0x05, 0xA1, 0x33, 0xD9}));
         EXPECT_EQ(block, (Bytes{0xFF, 0x02, 0x01}));
         return result;
       },
       "M05 SA1 S33 SD9 SFF S02 S01",
       StopBits::Two,
       {30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    EXPECT_EQ(c.call(*this), kOk);
    EXPECT_EQ(wire(), c.wire);
    EXPECT_EQ(opens(), "SR");
    EXPECT_EQ(bus().timeouts(kPort), TimeoutSet::Reopen);
    const auto open = events<trace::Open>();
    const auto close = events<trace::Close>();
    const auto writes = events<trace::Write>();
    EXPECT_EQ(writes.at(0).handle, open.at(0).handle);
    EXPECT_EQ(writes.at(0).bytes, Bytes{0x05});
    EXPECT_EQ(close.at(0).handle, open.at(0).handle);
    EXPECT_LE(close.at(0).time_us, open.at(1).time_us) << "two handles in turn";
    EXPECT_EQ(close.at(0).time_us, bus().sent(kPort).at(0).end_us)
        << "the close waits for the address byte to leave, and no more";
    for (std::size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(writes[i].handle, open.at(1).handle);
    const auto settings = events<trace::SetLine>();
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[0].setting, line::mark());
    EXPECT_EQ(settings[1].setting, line::space(9600, c.data_stop_bits));
    EXPECT_EQ(busy_waits_ms(), c.waits);
    EXPECT_EQ(bus().hazards(), 0u);
  }
}

// 0x91, 0x94, 0x92, 0xA2 and 0xC2 have limits of their own in the current
// build; here they fall to 1500 like any unlisted code.
TEST_P(LegacyTest, GetdataLimitsByCommandCode) {
  for (const ListedLimits& c : kListedLimits) {
    EXPECT_EQ(legacy::getdata_limit(c.code), c.legacy_getdata) << int(c.code);
  }
}

// The limit bounds the drain and every reply byte, and nothing waits longer.
TEST_P(LegacyTest, GetdataWaitsItsLimitAndNoLonger) {
  for (const ListedLimits& c : kListedLimits) {
    for (const bool stuck_queue : {true, false}) {
      SCOPED_TRACE(std::to_string(c.code) + (stuck_queue ? " drain" : " reply byte"));
      fresh();
      bus().faults().queue_never_drains = stuck_queue;
      Bytes frame{0x05, c.code, 0xEE};
      Bytes reply(3, 0xEE);
      EXPECT_EQ(getdata(frame, 2, reply, 2), stuck_queue ? kFrameNotSent : kReplyIncomplete);
      const std::uint64_t waited = polled_ms(stuck_queue);
      EXPECT_GT(waited, c.legacy_getdata);
      EXPECT_LE(waited, c.legacy_getdata + (stuck_queue ? 1 : 16)) << "one read poll past the limit at most";
    }
  }
}

// Every good reply is acknowledged at once, whatever the command code; a
// reply that is not good, or no reply asked for, is not.
TEST_P(LegacyTest, GetdataAcknowledgesEveryGoodReplyAtOnce) {
  struct Case {
    const char* name;
    std::uint8_t code;
    std::int32_t reply_length;
    Bytes answer;
    Result result;
    bool acknowledged;
  };
  const Case cases[] = {
      {"C2", 0xC2, 2, with_checksum({1, 2}), kOk, true},
      {"C1", 0xC1, 2, with_checksum({1, 2}), kOk, true},
      {"A7", 0xA7, 2, with_checksum({1, 2}), kOk, true},
      {"unlisted", 0x33, 2, with_checksum({1, 2}), kOk, true},
      {"N = 0", 0xC2, 0, {}, kOk, false},
      {"bad checksum", 0xC2, 2, {1, 2, 4}, kReplyWrong, false},
      {"one byte short", 0xC2, 2, {1, 2}, kReplyIncomplete, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    if (!c.answer.empty()) terminal().then(3, c.answer);
    Bytes frame{0x05, c.code, 0xEE};
    Bytes reply(3, 0xEE);
    EXPECT_EQ(getdata(frame, 2, reply, c.reply_length), c.result);
    EXPECT_EQ(wire().ends_with("S02 S4F"), c.acknowledged) << wire();
    EXPECT_TRUE(busy_waits_ms().empty());
    if (c.acknowledged) {
      const trace::Read last_read = events<trace::Read>().back();
      EXPECT_LT(events<trace::Write>().back().time_us - last_read.time_us, 1000u);
    }
    if (c.reply_length == 0) {
      EXPECT_TRUE(events<trace::Read>().empty());
      EXPECT_TRUE(events<trace::ReadIdle>().empty());
      EXPECT_TRUE(nothing_after_the_drain());
    }
  }
}

// Without a frame getdata still opens, sets MARK, re-opens and sets SPACE,
// then only listens.
TEST_P(LegacyTest, GetdataWithAnEmptyFrameReopensAndListens) {
  const Bytes answer = with_checksum({0x0A});
  bus().inject(kPort, answer, 30'000);
  Bytes frame{0x05, 0xA2, 0xEE};
  Bytes reply(2, 0xEE);
  EXPECT_EQ(getdata(frame, 0, reply, 1), kOk);
  EXPECT_EQ(frame, (Bytes{0x00, 0xA2, 0xEE})) << "the checksum of no bytes lands in byte 0";
  EXPECT_EQ(reply, answer);
  EXPECT_EQ(opens(), "SR");
  EXPECT_EQ(wire(), "S02 S4F") << "only the acknowledgement";
}

// Every command code awaits the acknowledgement, and only 02 4F is accepted.
TEST_P(LegacyTest, SenddataAwaitsTheAcknowledgementForEveryCode) {
  for (const std::uint8_t code : Bytes{0xB3, 0xB4, 0xB5, 0xB6, 0xA1, 0xC2}) {
    SCOPED_TRACE(int(code));
    fresh();
    Bytes frame{0x05, code, 0xEE};
    Bytes block{0x01, 0xEE};
    EXPECT_EQ(senddata(frame, 2, block, 1), kReplyIncomplete) << "a silent terminal";
    EXPECT_FALSE(events<trace::ReadIdle>().empty());
  }
}

TEST_P(LegacyTest, SenddataAcceptsOnlyBothAcknowledgementBytes) {
  struct Case {
    Bytes answer;
    Result result;
  };
  const Case cases[] = {{{0x02, 0x4F}, kOk},         {{0x02, 0x00}, kReplyWrong},
                        {{0x02, 0x4E}, kReplyWrong}, {{0x02, 0x02}, kReplyWrong},
                        {{0x4F, 0x02}, kReplyWrong}, {{0x00, 0x4F}, kReplyWrong},
                        {{0x02}, kReplyIncomplete},  {{}, kReplyIncomplete}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.answer));
    fresh();
    if (!c.answer.empty()) terminal().then(5, c.answer);
    Bytes frame{0x05, 0xB5, 0xEE};
    Bytes block{0x01, 0xEE};
    EXPECT_EQ(senddata(frame, 2, block, 1), c.result);
  }
}

// 4500 ms for the drain, 4550 ms for each acknowledgement byte, 30 ms before
// the block and the acknowledgement awaited right after it.
TEST_P(LegacyTest, SenddataTiming) {
  for (const bool stuck_queue : {true, false}) {
    SCOPED_TRACE(stuck_queue ? "drain" : "acknowledgement");
    fresh();
    bus().faults().queue_never_drains = stuck_queue;
    if (!stuck_queue) terminal().then(5, {0x02});  // one byte, then silence
    Bytes frame{0x05, 0xA1, 0xEE};
    Bytes block{0x01, 0xEE};
    EXPECT_EQ(senddata(frame, 2, block, 1), stuck_queue ? kFrameNotSent : kReplyIncomplete);
    if (stuck_queue) {
      const std::uint64_t waited = polled_ms(true);
      EXPECT_GT(waited, 4500u);
      EXPECT_LE(waited, 4501u);
    } else {
      // The second byte's own limit starts when the first byte is counted.
      const auto idle = events<trace::ReadIdle>();
      ASSERT_FALSE(idle.empty());
      const std::uint64_t waited = idle.back().end_us / 1000 - idle.back().time_us / 1000;
      EXPECT_GT(waited, 4550u - 16);
      EXPECT_LE(waited, 4550u + 16);
      EXPECT_EQ(busy_waits_ms(), (std::vector<std::uint64_t>{30}));
      EXPECT_EQ(busy_waits_after_write(2), 0u) << "no wait before the acknowledgement";
    }
  }
}

// m = 0 ends the call after the drain; 0xC5 still makes it 10 block bytes.
TEST_P(LegacyTest, SenddataBlockLength) {
  struct Case {
    std::uint8_t code;
    std::int32_t m;
    std::size_t sent;  // bytes on the line, frame included
  };
  for (const Case c : {Case{0xA1, 0, 3}, Case{0xC5, 0, 3 + 11}, Case{0xC5, 3, 3 + 11}}) {
    SCOPED_TRACE(std::to_string(c.code) + " m " + std::to_string(c.m));
    fresh();
    terminal().then(c.sent, {0x02, 0x4F});
    Bytes frame{0x05, c.code, 0xEE};
    Bytes block{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEE, 0xEE};
    EXPECT_EQ(senddata(frame, 2, block, c.m), kOk);
    EXPECT_EQ(bus().sent(kPort).size(), c.sent);
    if (c.m == 0 && c.code != 0xC5) {
      EXPECT_EQ(block[0], 0x00) << "the checksum of no bytes";
      EXPECT_TRUE(nothing_after_the_drain());
      EXPECT_TRUE(busy_waits_ms().empty());
    } else {
      EXPECT_EQ(block[10], 55) << "checksum of the 10 bytes";
    }
  }
}

// Without a frame the port is opened once, with the re-open timeouts, and
// the call starts in its data phase: SPACE with two stop bits.
TEST_P(LegacyTest, SenddataWithAnEmptyFrameOpensOnceForTheBlock) {
  terminal().then(3, {0x02, 0x4F});
  Bytes frame{0x05, 0xB5, 0xEE};
  Bytes block{0xFF, 0x02, 0xEE};
  EXPECT_EQ(senddata(frame, 0, block, 2), kOk);
  EXPECT_EQ(frame, (Bytes{0x00, 0xB5, 0xEE}));
  EXPECT_EQ(opens(), "R");
  EXPECT_EQ(wire(), "SFF S02 S01");
  for (const WireByte& b : bus().sent(kPort)) EXPECT_EQ(b.stop_bits, StopBits::Two);
  EXPECT_EQ(events<trace::SetLine>().size(), 1u);
  EXPECT_EQ(bus().hazards(), 0u);
}

// The port's faults and what each exchange makes of them. Writes: the
// address byte (0), the rest of the frame (1), then the block (2).
TEST_P(LegacyTest, FaultsGiveTheirCodesAndReleaseThePort) {
  struct Case {
    const char* name;
    std::function<void(sim::SimBus&)> arrange;
    Result getdata, senddata;
  };
  const Case cases[] = {
      {"address byte not taken", [](sim::SimBus& b) { short_write(b, 0, 0); }, kFrameNotSent,
       kFrameNotSent},
      {"rest of the frame short", [](sim::SimBus& b) { short_write(b, 1, 1); }, kFrameNotSent,
       kFrameNotSent},
      {"output never drains", [](sim::SimBus& b) { b.faults().queue_never_drains = true; },
       kFrameNotSent, kFrameNotSent},
      {"block short", [](sim::SimBus& b) { short_write(b, 2, 1); }, kOk, kReplyIncomplete},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    c.arrange(bus());
    terminal().then(3, with_checksum({0x01, 0x02}));
    Bytes frame{0x05, 0xA1, 0xEE};
    Bytes reply(3, 0xEE);
    EXPECT_EQ(getdata(frame, 2, reply, 2), c.getdata);

    fresh();
    c.arrange(bus());
    terminal().then(5, {0x02, 0x4F});
    Bytes block{0x01, 0xEE};
    EXPECT_EQ(senddata(frame, 2, block, 1), c.senddata);
  }
}

// A platform through which another program takes the port in the moment the
// exchange has released it for the re-open.
class TakenDuringReopen final : public line::Platform {
 public:
  explicit TakenDuringReopen(sim::SimBus& bus) : bus_(bus) {}
  line::Handle open(const char* name, TimeoutSet timeouts) override {
    if (++opens_ == 2) intruder_ = bus_.open(name, TimeoutSet::Standard);
    return bus_.open(name, timeouts);
  }
  bool set_line(line::Handle p, const line::LineSetting& s) override { return bus_.set_line(p, s); }
  std::uint32_t write(line::Handle p, const std::uint8_t* b, std::uint32_t n) override {
    return bus_.write(p, b, n);
  }
  line::ReadResult read_byte(line::Handle p, std::uint8_t* d) override {
    return bus_.read_byte(p, d);
  }
  std::optional<std::uint32_t> output_queue(line::Handle p) override {
    return bus_.output_queue(p);
  }
  void purge_input(line::Handle p) override { bus_.purge_input(p); }
  bool hung_up(line::Handle p) override { return bus_.hung_up(p); }
  std::uint32_t reply_allowance_ms(line::Handle p) override { return bus_.reply_allowance_ms(p); }
  void close(line::Handle p) override { bus_.close(p); }
  std::uint32_t tick() override { return bus_.tick(); }
  void pause_until_tick(std::uint32_t target) override { bus_.pause_until_tick(target); }
  std::optional<line::OsError> error() const override { return bus_.error(); }

  line::Handle intruder() const { return intruder_; }

 private:
  sim::SimBus& bus_;
  int opens_ = 0;
  line::Handle intruder_ = line::kInvalidHandle;
};

TEST_P(LegacyTest, PortTakenDuringTheReopenGivesTwo) {
  struct Case {
    const char* name;
    std::function<Result(line::Platform&)> call;
  };
  const Case cases[] = {
      {"getdata",
       [](line::Platform& os) {
         Bytes frame{0x05, 0xA1, 0xEE};
         Bytes reply(3, 0xEE);
         return legacy::getdata(os, 2, frame.data(), 2, reply.data(), kPort);
       }},
      {"senddata",
       [](line::Platform& os) {
         Bytes frame{0x05, 0xA1, 0xEE};
         Bytes block{0x01, 0xEE};
         return legacy::senddata(os, 2, frame.data(), 1, block.data(), kPort);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    TakenDuringReopen os(bus());
    EXPECT_EQ(c.call(os), kFrameNotSent);
    bus().advance(50'000);
    EXPECT_NE(os.intruder(), line::kInvalidHandle);
    EXPECT_EQ(bus().open_handles(), 1u) << "only the other program's handle is left";
    EXPECT_EQ(wire(), "M05") << "the address byte went out, nothing else";
    bus().close(os.intruder());
  }
}

TEST_P(LegacyTest, PortThatCannotBeOpenedGivesTwo) {
  for (const std::int32_t n : {2, 0}) {
    SCOPED_TRACE("n=" + std::to_string(n));
    fresh();
    const line::Handle blocker = line::com_init(bus(), kPort, 9600);
    Bytes frame{0x05, 0xA1, 0xEE};
    Bytes reply(3, 0xEE);
    Bytes block{0x01, 0xEE};
    EXPECT_EQ(legacy::getdata(bus(), n, frame.data(), 2, reply.data(), kPort), kFrameNotSent);
    EXPECT_EQ(legacy::senddata(bus(), n, frame.data(), 1, block.data(), kPort), kFrameNotSent);
    EXPECT_EQ(reply, Bytes(3, 0xEE));
    line::com_exit(bus(), blocker);
    EXPECT_EQ(bus().open_handles(), 0u);
  }
}

// Every platform call of both exchanges, failed in turn: each run ends with
// a code of the family and leaves no port open. The whole sweep runs at both
// tick starts.
class LegacyFaultSweep : public SimTest {};
TARVEX_SIM_TEST_SUITE(LegacyFaultSweep);

TEST_P(LegacyFaultSweep, EveryCallReleasesThePort) {
  struct Entry {
    const char* name;
    std::function<void(sim::ScriptedTerminal&)> arrange;
    std::function<Result(sim::SimBus&)> run;
  };
  const Entry entries[] = {
      {"getdata",
       [](sim::ScriptedTerminal& t) {
         t.then(4, with_checksum({1, 2, 3}));
       },
       [](sim::SimBus& bus) {
         Bytes frame{0x05, 0xC2, 0x33, 0x00};
         Bytes reply(4);
         return legacy::getdata(bus, 3, frame.data(), 3, reply.data(), SimRig::kPort);
       }},
      {"senddata",
       [](sim::ScriptedTerminal& t) {
         t.then(7, {0x02, 0x4F});
       },
       [](sim::SimBus& bus) {
         Bytes frame{0x05, 0xB5, 0x33, 0x00};
         Bytes block{0xFF, 0x02, 0x00};
         return legacy::senddata(bus, 3, frame.data(), 2, block.data(), SimRig::kPort);
       }},
  };
  const std::set<Result> family = {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong};
  constexpr std::uint64_t kTickCostUs = 250;  // fewer readings per busy wait to sweep
  for (const Entry& entry : entries) {
    SCOPED_TRACE(entry.name);
    std::uint64_t calls = 0;
    {
      SimRig rig(GetParam(), kTickCostUs);
      entry.arrange(*rig.terminal);
      ASSERT_EQ(entry.run(rig.bus), kOk) << "the nominal exchange must succeed";
      calls = rig.bus.calls();
    }
    for (std::uint64_t k = 0; k < calls; ++k) {
      for (const auto read_fault : {sim::Faults::Read::Stop, sim::Faults::Read::Garble}) {
        SimRig rig(GetParam(), kTickCostUs);
        entry.arrange(*rig.terminal);
        rig.bus.faults().at_call = k;
        rig.bus.faults().read = read_fault;
        const Result result = entry.run(rig.bus);
        ASSERT_TRUE(family.contains(result)) << "call " << k << " gave " << result;
        ASSERT_EQ(rig.bus.open_handles(), 0u) << "call " << k;
      }
    }
  }
}

}  // namespace
}  // namespace tarvex::testing
