// The on-line query on the simulated bus.
#include "exchange/online_query.h"

#include <functional>
#include <utility>

#include "line/held_port.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;

// Terminal 0x05's answers: the query reply and the confirmation reply.
const Bytes kQueryReply{0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00, 0x50};
Bytes confirmation_reply(std::uint8_t echo) {
  return with_checksum({0x00, echo, 0x0A, 0x0B, 0x00});
}
// What the terminal answers to each frame; an empty answer is silence.
struct Answers {
  Bytes query = kQueryReply;
  Bytes confirmation = confirmation_reply(0x05);
};

const Bytes kUntouched(8, 0xEE);  // a 7-byte record and one byte past it
const Bytes kFilled{0x05, 0x0A, 0x0B, 0x01, 0x02, 0x03, 0x04, 0xEE};

struct Member {
  const char* name;
  bool held;
  std::function<Result(sim::SimBus&, line::Handle, std::int32_t, std::uint8_t*)> call;
  const char* steps;  // of a good query, as steps() tells them
  std::uint32_t query_drain, query_byte;
  std::optional<std::uint32_t> confirmation_drain;
  std::uint32_t confirmation_byte;
  std::uint32_t baud;  // of every byte; the port starts out at 19200
};

const Member kOnNet{
    .name = "onNet",
    .held = false,
    .call = [](sim::SimBus& bus, line::Handle, std::int32_t address,
               std::uint8_t* record) { return ex::onNet(bus, address, record, SimRig::kPort); },
    .steps = "open M W1 9 S 9 W4 drain R8 11 M 16 W1 16 S 16 W4 drain 6 R6 purge close",
    .query_drain = 80,
    .query_byte = 80,
    .confirmation_drain = 1500,
    .confirmation_byte = 100,
    .baud = 9600};
const Member kHandleOnNet{
    .name = "HANDLE_OnNet",
    .held = true,
    .call = [](sim::SimBus& bus, line::Handle held, std::int32_t address,
               std::uint8_t* record) { return ex::HANDLE_OnNet(bus, held, address, record); },
    .steps = "M 21 W1 6 S 11 W4 drain R8 11 M 16 W1 9 S 11 W4 R6",
    .query_drain = 1000,
    .query_byte = 100,
    .confirmation_drain = std::nullopt,
    .confirmation_byte = 1000,
    .baud = 19200};
const Member* const kMembers[] = {&kOnNet, &kHandleOnNet};

// Sticks the output queue once the confirmation's address byte is on the
// line, so only the second drain can fail.
class StickQueueOnConfirmation final : public sim::Terminal {
 public:
  explicit StickQueueOnConfirmation(sim::SimBus& bus) : bus_(bus) {}
  void on_byte(const WireByte& byte, sim::Responder&) override {
    if (byte.parity == line::Parity::Mark && byte.value == 0x00)
      bus_.faults().queue_never_drains = true;
  }

 private:
  sim::SimBus& bus_;
};

class OnlineQueryTest : public SimTest {
 protected:
  // Each answer comes after the five bytes of its frame.
  void answer(const Answers& answers) {
    if (!answers.query.empty()) terminal().then(5, answers.query);
    if (!answers.confirmation.empty()) terminal().then(5, answers.confirmation);
  }

  // The calls of the trace in order: open, line settings (M, S), writes
  // (W and the count asked), busy waits (in ms), drain waits, bytes read (R
  // and how many in a row), purge, close.
  std::string steps() {
    std::string text;
    const auto add = [&](const std::string& step) { text += (text.empty() ? "" : " ") + step; };
    std::size_t reads = 0;
    for (const TraceEvent& e : bus().trace()) {
      // Single tick readings start a drain or a byte read; they are no wait.
      const auto* spin = std::get_if<trace::Spin>(&e);
      const bool lone_tick = spin != nullptr && spin->readings <= 2;
      if (lone_tick || is<trace::Sent>(e) || is<trace::ReadIdle>(e)) {
        continue;
      }
      if (is<trace::Read>(e)) {
        ++reads;
        continue;
      }
      if (reads != 0) add("R" + std::to_string(std::exchange(reads, 0)));
      std::visit(trace::Overloaded{
                     [&](const trace::Open&) { add("open"); },
                     [&](const trace::SetLine& s) { add(s.setting.parity == line::Parity::Mark ? "M" : "S"); },
                     [&](const trace::Write& w) { add("W" + std::to_string(w.asked)); },
                     [&](const trace::Spin& s) { add(std::to_string(s.end_us / 1000 - s.time_us / 1000)); },
                     [&](const trace::QueueQuery&) { add("drain"); },
                     [&](const trace::Purge&) { add("purge"); },
                     [&](const trace::Close&) { add("close"); },
                     [&](const auto&) { add("?"); }},
                 e);
    }
    if (reads != 0) add("R" + std::to_string(reads));
    return text;
  }

  // Calls the member the way a host does; `arrange` puts its faults in just
  // before the call. Checks what must hold on every path.
  Result run(
      const Member& member, std::int32_t address, Bytes& record,
      const std::function<void(sim::SimBus&)>& arrange = [](sim::SimBus&) {}) {
    const line::Handle held = line::com_init(bus(), kPort, 19200);
    if (!member.held) line::com_exit(bus(), held);  // a port some program left at 19200 baud
    bus().clear_trace();
    arrange(bus());
    const Result result = member.call(bus(), held, address, record.data());
    steps_ = steps();
    bus().advance(20'000);  // let everything written leave the line
    if (member.held) {
      EXPECT_EQ(bus().open_handles(), 1u) << "the held port stays open";
      EXPECT_TRUE(events<trace::Purge>().empty());
      EXPECT_TRUE(events<trace::Close>().empty());
      line::com_exit(bus(), held);
    } else {
      EXPECT_EQ(bus().open_handles(), 0u) << "released on every path";
    }
    EXPECT_EQ(bus().hazards(), 0u);
    return result;
  }

  std::string steps_;  // of the last run, before the held port is given back
};
TARVEX_SIM_TEST_SUITE(OnlineQueryTest);

TEST_P(OnlineQueryTest, GoodQueryFillsTheRecord) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    fresh();
    answer({});
    Bytes record = kUntouched;
    EXPECT_EQ(run(*member, 0x05, record), kOk);
    EXPECT_EQ(record, kFilled);
    EXPECT_EQ(wire(), "M05 SA0 S00 S00 SA5 M00 SB4 S12 S34 SFA");
    EXPECT_EQ(steps_, member->steps);
    for (const WireByte& b : bus().sent(kPort)) {
      EXPECT_EQ(b.baud, member->baud);
      EXPECT_EQ(b.stop_bits, line::StopBits::One);
    }
    if (member->held) {
      EXPECT_EQ(bus().setting(kPort)->parity, line::Parity::Space);
    } else {
      EXPECT_EQ(events<trace::Open>().at(0).timeouts, line::TimeoutSet::Standard);
    }
  }
}

// Only the low 8 bits of the address go out, and the echo is held against
// those same 8 bits. Another echo is no failure, but the record stays.
TEST_P(OnlineQueryTest, EchoOfTheAddressDecidesTheRecord) {
  struct Case {
    std::int32_t address;
    std::uint8_t echo;
    const char* frame;
    bool filled;
  };
  const Case cases[] = {
      {0x05, 0x05, "M05 SA0 S00 S00 SA5", true},  {0x05, 0x06, "M05 SA0 S00 S00 SA5", false},
      {0x105, 0x05, "M05 SA0 S00 S00 SA5", true}, {-251, 0x05, "M05 SA0 S00 S00 SA5", true},
      {0xFF, 0xFF, "MFF SA0 S00 S00 S9F", true},  {0xFF, 0x05, "MFF SA0 S00 S00 S9F", false}};
  for (const Member* member : kMembers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(member->name) + " address " + std::to_string(c.address));
      fresh();
      answer({.confirmation = confirmation_reply(c.echo)});
      Bytes record = kUntouched;
      EXPECT_EQ(run(*member, c.address, record), kOk);
      EXPECT_TRUE(wire().starts_with(c.frame)) << wire();
      Bytes expected = c.filled ? kFilled : kUntouched;
      if (c.filled) expected[0] = c.echo;
      EXPECT_EQ(record, expected);
    }
  }
}

using Arrange = std::function<void(sim::SimBus&)>;
Arrange short_write(std::uint64_t index, std::uint32_t takes) {
  return [=](sim::SimBus& b) { testing::short_write(b, index, takes); };
}
void no_fault(sim::SimBus&) {}
void queue_stuck(sim::SimBus& b) {
  b.faults().queue_never_drains = true;
}
void queue_stuck_on_confirmation(sim::SimBus& b) {
  b.attach(SimRig::kPort, std::make_shared<StickQueueOnConfirmation>(b));
}

const Bytes kQueryShort{0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00};
const Bytes kQueryBadSum{0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00, 0x51};
const Bytes kConfirmationShort{0x00, 0x05, 0x0A, 0x0B, 0x00};
const Bytes kConfirmationBadSum{0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1B};

struct Fault {
  const char* name;
  Answers answers;
  Arrange arrange;
  Result on_net, handle_on_net;
  bool confirmation_on_line;  // the confirmation's address byte went out
};

// clang-format off
const Fault kFaults[] = {
    {"address byte not taken",         {}, short_write(0, 0), 2, 2, false},
    {"query frame short",              {}, short_write(1, 3), 2, 3, false},
    {"query frame not taken",          {}, short_write(1, 0), 2, 2, false},
    {"query not drained",              {}, queue_stuck, 2, 2, false},
    {"query reply short",              {kQueryShort, {}}, no_fault, 3, 3, false},
    {"query reply silent",             {{}, {}}, no_fault, 3, 3, false},
    {"query reply checksum",           {kQueryBadSum, {}}, no_fault, 4, 4, false},
    {"confirmation address not taken", {}, short_write(2, 0), 5, 2, false},
    {"confirmation frame not taken",   {}, short_write(3, 0), 5, 2, true},
    {"confirmation not drained",       {}, queue_stuck_on_confirmation, 6, 0, true},
    {"confirmation reply short",       {.confirmation = kConfirmationShort}, no_fault, 7, 7, true},
    {"confirmation reply silent",      {.confirmation = {}}, no_fault, 7, 7, true},
    {"confirmation reply checksum",    {.confirmation = kConfirmationBadSum}, no_fault, 8, 8, true},
};
// clang-format on

TEST_P(OnlineQueryTest, EachFaultGivesItsCodeAndLeavesTheRecord) {
  for (const Member* member : kMembers) {
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(member->name) + ": " + fault.name);
      fresh();
      answer(fault.answers);
      Bytes record = kUntouched;
      const Result expected = member->held ? fault.handle_on_net : fault.on_net;
      EXPECT_EQ(run(*member, 0x05, record, fault.arrange), expected);
      EXPECT_EQ(record, expected == kOk ? kFilled : kUntouched);
      EXPECT_EQ(wire().find("M00") != std::string::npos, fault.confirmation_on_line) << wire();
    }
  }
}

// A short count on a lenient write goes on; a terminal that makes do with
// what came still answers, and the query succeeds.
TEST_P(OnlineQueryTest, ShortLenientWriteGoesOn) {
  struct Case {
    const Member& member;
    std::uint64_t write_index;
    std::uint32_t takes;
    std::size_t query_heard, confirmation_heard;
    const char* wire;
  };
  const Case cases[] = {
      {kOnNet, 3, 1, 5, 2, "M05 SA0 S00 S00 SA5 M00 SB4"},
      {kHandleOnNet, 1, 3, 4, 5, "M05 SA0 S00 S00 M00 SB4 S12 S34 SFA"},
      {kHandleOnNet, 3, 2, 5, 3, "M05 SA0 S00 S00 SA5 M00 SB4 S12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.member.name) + " write " + std::to_string(c.write_index));
    fresh();
    terminal()
        .then(c.query_heard, kQueryReply)
        .then(c.confirmation_heard, confirmation_reply(0x05));
    Bytes record = kUntouched;
    EXPECT_EQ(run(c.member, 0x05, record, short_write(c.write_index, c.takes)), kOk);
    EXPECT_EQ(record, kFilled);
    EXPECT_EQ(wire(), c.wire);
  }
}

// Each limit, measured over the polls of the wait that ran out. The held-port
// member has no second drain (its good query shows a single one).
TEST_P(OnlineQueryTest, EachMemberWaitsItsOwnLimits) {
  struct Case {
    const char* name;
    Answers answers;
    Arrange arrange;
    bool drain;
    std::uint32_t Member::*limit;  // none: the confirmation drain, which may be absent
    Result result;
  };
  const Case cases[] = {
      {"query drain", {}, queue_stuck, true, &Member::query_drain, kFrameNotSent},
      {"query byte", {{}, {}}, no_fault, false, &Member::query_byte, kReplyIncomplete},
      {"confirmation drain", {}, queue_stuck_on_confirmation, true, nullptr, kSecondFrameNotDrained},
      {"confirmation byte", {.confirmation = {}}, no_fault, false, &Member::confirmation_byte,
       kSecondReplyIncomplete},
  };
  for (const Member* member : kMembers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(member->name) + ": " + c.name);
      const std::optional<std::uint32_t> limit =
          c.limit != nullptr ? member->*c.limit : member->confirmation_drain;
      if (!limit) continue;
      fresh();
      answer(c.answers);
      Bytes record = kUntouched;
      EXPECT_EQ(run(*member, 0x05, record, c.arrange), c.result);
      const auto polls = polled(c.drain);
      ASSERT_FALSE(polls.empty());
      const std::uint64_t waited_ms = polls.back().end_us / 1000 - polls.back().time_us / 1000;
      EXPECT_GT(waited_ms, *limit);
      EXPECT_LE(waited_ms, *limit + (c.drain ? 1 : 16)) << "one read poll past the limit at most";
    }
  }
}

TEST_P(OnlineQueryTest, PortThatCannotBeOpenedGivesTwo) {
  struct Case {
    const char* name;
    std::function<Result(sim::SimBus&, std::uint8_t*)> call;
  };
  const Case cases[] = {
      {"onNet, port busy",
       [](sim::SimBus& b, std::uint8_t* r) {
         const line::Handle blocker = line::com_init(b, SimRig::kPort, 9600);
         const Result result = ex::onNet(b, 0x05, r, SimRig::kPort);
         line::com_exit(b, blocker);
         return result;
       }},
      {"onNet, open fails",
       [](sim::SimBus& b, std::uint8_t* r) {
         b.faults().at_call = b.calls();
         return ex::onNet(b, 0x05, r, SimRig::kPort);
       }},
      {"HANDLE_OnNet, invalid held port",
       [](sim::SimBus& b, std::uint8_t* r) {
         return ex::HANDLE_OnNet(b, line::kInvalidHandle, 0x05, r);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    answer({});
    Bytes record = kUntouched;
    EXPECT_EQ(c.call(bus(), record.data()), kFrameNotSent);
    EXPECT_EQ(record, kUntouched);
    EXPECT_TRUE(bus().sent(kPort).empty());
    EXPECT_TRUE(events<trace::Read>().empty());
    EXPECT_EQ(bus().open_handles(), 0u);
  }
}

}  // namespace
}  // namespace tarvex::testing
