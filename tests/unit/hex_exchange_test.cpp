// The hex-text exchanges on the simulated bus.
#include "exchange/hex_exchange.h"

#include <cstdint>
#include <functional>
#include <string>

#include "line/primitives.h"
#include "scratch_ledger.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
using line::TimeoutSet;

class HexExchangeTest : public SimTest {
 public:
  using SimTest::terminal;

  // Each call takes its scratch area from a ledger and must have given it
  // back, and released every handle it opened, by the time it returns.
  Result getdata_hex(std::int32_t n, const char* command, std::int32_t reply_length,
                     std::string& reply_text) {
    ledger = {};
    const Result result =
        ex::getdata_hex(bus(), n, command, reply_length, reply_text.data(), kPort, ledger.source());
    settle();
    return result;
  }
  Result senddata_hex(std::int32_t n, const char* command, std::int32_t m, const char* block) {
    ledger = {};
    const Result result = ex::senddata_hex(bus(), n, command, m, block, kPort, ledger.source());
    settle();
    return result;
  }

  bool acknowledged() const { return wire().ends_with("S02 S4F"); }

  ScratchLedger ledger;

 private:
  void settle() {
    EXPECT_TRUE(ledger.balanced()) << "every scratch area taken is given back";
    EXPECT_EQ(bus().open_handles(), 0u) << "every port opened is released";
    bus().advance(50'000);  // let everything written leave the line
  }
};
TARVEX_SIM_TEST_SUITE(HexExchangeTest);

TEST_P(HexExchangeTest, GetdataHexSendsTheTextAsBytesAndGivesTheReplyBackAsText) {
  terminal().then(4, {0x12, 0xAB, 0xBD});
  std::string reply(10, '.');
  EXPECT_EQ(getdata_hex(3, "05a133", 2, reply), kOk);
  EXPECT_EQ(reply, "12ABBD....") << "2 * (N + 1) characters, no terminator";
  EXPECT_EQ(wire(), "M05 SA1 S33 SD9 S02 S4F") << "acknowledged whatever the command code";
  EXPECT_EQ(ledger.sizes, (std::vector<std::size_t>{12})) << "N + 10 bytes";
}

// Address byte on the first handle, the rest on a second one opened with
// the re-open timeouts; nothing but the re-open lies between them.
TEST_P(HexExchangeTest, BothMembersSwitchToTheDataPhaseByReopening) {
  struct Case {
    const char* name;
    std::function<Result(HexExchangeTest&)> call;
  };
  const Case cases[] = {
      {"getdata_hex",
       [](HexExchangeTest& t) {
         t.terminal().then(3, {0x12, 0xAB, 0xBD});
         std::string reply(6, '.');
         return t.getdata_hex(2, "05A1", 2, reply);
       }},
      {"senddata_hex",
       [](HexExchangeTest& t) {
         t.terminal().then(6, {0x02, 0x4F});
         return t.senddata_hex(2, "05B4", 2, "0102");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    EXPECT_EQ(c.call(*this), kOk);
    EXPECT_EQ(opens(), "SR");
    EXPECT_EQ(bus().timeouts(kPort), TimeoutSet::Reopen);
    const auto open = events<trace::Open>();
    const auto writes = events<trace::Write>();
    const auto closes = events<trace::Close>();
    EXPECT_EQ(writes[0].handle, open[0].handle);
    EXPECT_EQ(writes[0].bytes, Bytes{0x05});
    EXPECT_EQ(closes[0].handle, open[0].handle);
    EXPECT_LE(closes[0].time_us, open[1].time_us);
    EXPECT_EQ(writes[1].handle, open[1].handle);
    EXPECT_EQ(events<trace::SetLine>()[0].setting, line::mark());
    EXPECT_EQ(events<trace::SetLine>()[1].setting, line::space());
    EXPECT_TRUE(busy_waits_ms().empty()) << "no busy wait anywhere";
    // The address byte leaves under MARK: the close before the re-open waits
    // for it.
    EXPECT_EQ(bus().hazards(), 0u);
    EXPECT_EQ(closes[0].time_us, bus().sent(kPort).at(0).end_us);
    EXPECT_TRUE(wire().starts_with("M05 S")) << wire();
  }
}

TEST_P(HexExchangeTest, GetdataHexFailuresKeepTheTextOfWhatCameAndSendNoAcknowledgement) {
  struct Case {
    const char* name;
    Bytes answer;
    std::function<void(sim::SimBus&)> fault;
    Result result;
    const char* text;
    const char* opens;
  };
  const auto none = [](sim::SimBus&) {};
  const Case cases[] = {
      {"wrong checksum", {0x12, 0xAB, 0xBE}, none, kReplyWrong, "12ABBE....", "SR"},
      {"one byte short", {0x12, 0xAB}, none, kReplyIncomplete, "12AB......", "SR"},
      {"silent", {}, none, kReplyIncomplete, "..........", "SR"},
      {"address byte not taken",
       {},
       [](sim::SimBus& b) { b.faults().short_write_at = 0; },
       kFrameNotSent,
       "..........",
       "S"},
      {"rest of the frame short",
       {},
       [](sim::SimBus& b) {
         b.faults().short_write_at = 1;
         b.faults().short_write_takes = 2;
       },
       kFrameNotSent,
       "..........",
       "SR"},
      {"output never drains",
       {},
       [](sim::SimBus& b) { b.faults().queue_never_drains = true; },
       kFrameNotSent,
       "..........",
       "SR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    c.fault(bus());
    if (!c.answer.empty()) terminal().then(4, c.answer);
    std::string reply(10, '.');
    EXPECT_EQ(getdata_hex(3, "05A133", 2, reply), c.result);
    EXPECT_EQ(reply, c.text);
    EXPECT_EQ(opens(), c.opens);
    EXPECT_FALSE(acknowledged()) << wire();
  }
}

TEST_P(HexExchangeTest, GetdataHexWithNoReplyReadsAndWritesNothingAfterTheDrain) {
  std::string reply(4, '.');
  EXPECT_EQ(getdata_hex(2, "05C2", 0, reply), kOk);
  EXPECT_EQ(reply, "....");
  EXPECT_EQ(wire(), "M05 SC2 SC7");
  EXPECT_TRUE(events<trace::Read>().empty());
  EXPECT_TRUE(events<trace::ReadIdle>().empty());
}

TEST_P(HexExchangeTest, GetdataHexWithNoCommandStillSwitchesAndThenOnlyListens) {
  bus().inject(kPort, with_checksum({0x0A}), 30'000);
  std::string reply(4, '.');
  EXPECT_EQ(getdata_hex(0, nullptr, 1, reply), kOk);
  EXPECT_EQ(reply, "0A0A");
  EXPECT_EQ(opens(), "SR");
  const auto settings = events<trace::SetLine>();
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(settings[0].setting, line::mark());
  EXPECT_EQ(settings[1].setting, line::space());
  EXPECT_EQ(wire(), "S02 S4F") << "only the acknowledgement";
}

TEST_P(HexExchangeTest, SenddataHexAcknowledgementAndFailures) {
  struct Case {
    const char* name;
    Bytes answer;
    std::function<void(sim::SimBus&)> fault;
    Result result;
    const char* wire;
  };
  const auto none = [](sim::SimBus&) {};
  const char* const whole = "M05 SB4 SB9 S01 S02 S03";
  const Case cases[] = {
      {"acknowledged", {0x02, 0x4F}, none, kOk, whole},
      {"02 00: both bytes count", {0x02, 0x00}, none, kReplyWrong, whole},
      {"00 4F", {0x00, 0x4F}, none, kReplyWrong, whole},
      {"one byte", {0x02}, none, kReplyIncomplete, whole},
      {"silent", {}, none, kReplyIncomplete, whole},
      {"address byte not taken",
       {0x02, 0x4F},
       [](sim::SimBus& b) { b.faults().short_write_at = 0; },
       kFrameNotSent,
       ""},
      {"rest of the frame short",
       {0x02, 0x4F},
       [](sim::SimBus& b) {
         b.faults().short_write_at = 1;
         b.faults().short_write_takes = 1;
       },
       kFrameNotSent,
       "M05 SB4"},
      {"block short",
       {0x02, 0x4F},
       [](sim::SimBus& b) {
         b.faults().short_write_at = 2;
         b.faults().short_write_takes = 2;
       },
       kReplyIncomplete,
       "M05 SB4 SB9 S01 S02"},
      {"output never drains",
       {0x02, 0x4F},
       [](sim::SimBus& b) { b.faults().queue_never_drains = true; },
       kFrameNotSent,
       "M05 SB4 SB9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    c.fault(bus());
    terminal().then(6, c.answer);
    EXPECT_EQ(senddata_hex(2, "05B4", 2, "0102"), c.result);
    EXPECT_EQ(wire(), c.wire);
  }
}

// Every command code awaits the acknowledgement, also those for which the
// byte-buffer member does not.
TEST_P(HexExchangeTest, SenddataHexExemptsNoCommandCode) {
  for (const char* command : {"05B3", "05B4", "05B5", "05B6"}) {
    SCOPED_TRACE(command);
    fresh();
    EXPECT_EQ(senddata_hex(2, command, 1, "01"), kReplyIncomplete);
  }
}

TEST_P(HexExchangeTest, SenddataHexWithNoCommandOpensOnceInItsDataPhase) {
  terminal().then(3, {0x02, 0x4F});
  EXPECT_EQ(senddata_hex(0, nullptr, 2, "0102"), kOk);
  EXPECT_EQ(opens(), "R");
  const auto settings = events<trace::SetLine>();
  ASSERT_EQ(settings.size(), 1u);
  EXPECT_EQ(settings[0].setting, line::space()) << "one stop bit";
  EXPECT_EQ(wire(), "S01 S02 S03");
  EXPECT_EQ(bus().hazards(), 0u);
}

// Command 0xC5 carries exactly 10 block bytes: a longer text is cut, a
// shorter one is made up with 0x00 (never with what the heap held). A frame
// of fewer than two bytes has no command code, even when its checksum
// byte happens to be 0xC5.
TEST_P(HexExchangeTest, SenddataHexFixedLengthBlock) {
  struct Case {
    const char* command;
    std::int32_t n;
    const char* block;
    std::int32_t m;
    const char* block_on_wire;
    std::size_t scratch;
  };
  const Case cases[] = {
      {"05C5", 2, "0102030405060708090A0B0C", 12, "S01 S02 S03 S04 S05 S06 S07 S08 S09 S0A S37",
       22},
      {"05c5", 2, "010203", 3, "S01 S02 S03 S00 S00 S00 S00 S00 S00 S00 S06", 13},
      {"05C5", 2, "", 0, "S00 S00 S00 S00 S00 S00 S00 S00 S00 S00 S00", 11},
      {"C5", 1, "0102", 2, "S01 S02 S03", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + std::string(" m=") + std::to_string(c.m));
    fresh();
    terminal().then(static_cast<std::size_t>(c.n) + 1 + (c.n == 2 ? 11 : 3), {0x02, 0x4F});
    EXPECT_EQ(senddata_hex(c.n, c.command, c.m, c.block), kOk);
    EXPECT_TRUE(wire().ends_with(c.block_on_wire)) << wire();
    EXPECT_EQ(ledger.sizes, std::vector<std::size_t>{c.scratch})
        << "m + 10 bytes, and room for the fixed block and its checksum";
  }
}

// 0x80 to 0xFF count below 'A' in a command text and above it in a block
// text; everything else is converted alike.
TEST_P(HexExchangeTest, CommandAndBlockTextsFollowTheirOwnDigitRule) {
  terminal().then(6, {0x02, 0x4F});
  EXPECT_EQ(senddata_hex(3, "05a10\xC1", 1, "0\xC1"), kOk);
  EXPECT_EQ(wire(), "M05 SA1 S91 S37 S8A S8A");

  fresh();
  terminal().then(4, with_checksum({0x01}));
  std::string reply(4, '.');
  EXPECT_EQ(getdata_hex(3, "05A10\xC1", 1, reply), kOk);
  EXPECT_EQ(wire(), "M05 SA1 S91 S37 S02 S4F");
}

TEST_P(HexExchangeTest, EachMemberWaitsItsOwnLimits) {
  struct Case {
    const char* name;
    bool request;  // getdata_hex, else senddata_hex
    bool stuck_queue;
    std::uint32_t limit;
  };
  const Case cases[] = {{"getdata_hex", true, true, 3800},
                        {"getdata_hex", true, false, 3680},
                        {"senddata_hex", false, true, 4500},
                        {"senddata_hex", false, false, 4550}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.stuck_queue ? " drain" : " per byte"));
    fresh();
    bus().faults().queue_never_drains = c.stuck_queue;
    std::string reply(6, '.');
    const Result result =
        c.request ? getdata_hex(2, "05A1", 2, reply) : senddata_hex(2, "05A1", 2, "0102");
    EXPECT_EQ(result, c.stuck_queue ? kFrameNotSent : kReplyIncomplete);
    const auto polls = polled(c.stuck_queue);
    ASSERT_FALSE(polls.empty());
    const std::uint64_t waited_ms = polls.back().end_us / 1000 - polls.front().time_us / 1000;
    EXPECT_GT(waited_ms, c.limit);
    EXPECT_LE(waited_ms, c.limit + (c.stuck_queue ? 1 : 16))
        << "one read poll past the limit at most";
  }
}

TEST_P(HexExchangeTest, LongestCommandsFillTheirFrameBuffers) {
  const std::string getdata_command = "05A1" + std::string(2 * 97, '7');
  std::string reply(2, '.');
  EXPECT_EQ(getdata_hex(99, getdata_command.c_str(), 0, reply), kOk);
  EXPECT_EQ(bus().sent(kPort).size(), 100u);

  fresh();
  terminal().then(14, {0x02, 0x4F});
  EXPECT_EQ(senddata_hex(11, "05B4777777777777777777", 1, "01"), kOk);
  EXPECT_EQ(bus().sent(kPort).size(), 12u + 2u);
}

TEST_P(HexExchangeTest, ScratchAreaThatCannotBeTakenGivesTwoBeforeAnyPortIsOpened) {
  ScratchLedger refusing = ScratchLedger::refusing();
  std::string reply(6, '.');
  EXPECT_EQ(ex::getdata_hex(bus(), 2, "05A1", 2, reply.data(), kPort, refusing.source()),
            kFrameNotSent);
  EXPECT_EQ(ex::senddata_hex(bus(), 2, "05B4", 2, "0102", kPort, refusing.source()), kFrameNotSent);
  EXPECT_TRUE(bus().trace().empty());
  EXPECT_EQ(reply, "......");
}

}  // namespace
}  // namespace tarvex::testing
