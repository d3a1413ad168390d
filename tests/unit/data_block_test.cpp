// The data-block family on the simulated bus.
#include "exchange/data_block.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

#include "exchange/block_profile.h"
#include "line/held_port.h"
#include "line/primitives.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
using line::Parity;
using line::StopBits;

constexpr std::uint32_t kLimit = 300;   // the T of the members that take one
constexpr std::uint32_t kBaud = 19200;  // nSendData's

// A call with no frame (n = 0) and block FF 02, acknowledged.
struct EmptyFrame {
  const char* wire;
  std::vector<std::uint64_t> waits;
  line::TimeoutSet opened_with;
  bool drained;
};

// The setting a held port is left in after the call.
struct LeftOnHeldPort {
  line::LineSetting after_frame;
  line::LineSetting address_refused;  // when the address byte was not taken
};

// One member, called the way a host calls it. Held-port members get their
// port from com_init (MARK, 9600).
struct Member {
  const char* name;
  bool held;
  std::function<Result(sim::SimBus&, line::Handle, std::int32_t, std::uint8_t*, std::int32_t,
                       std::uint8_t*)>
      call;
  // Frame 05 A1 33 and block FF 02, taken and acknowledged:
  const char* wire;
  std::vector<std::uint64_t> waits;  // busy waits in ms, in order
  std::uint32_t baud;
  StopBits data_stop_bits;  // of every byte after the address byte
  int frame_writes;         // 2: address byte alone, then the rest; 1: one write
  std::uint32_t drain_limit;
  std::uint32_t ack_limit;  // 0: no acknowledgement is ever awaited
  Bytes codes_without_ack;  // among B3 B4 B5 B6 A1
  bool fixed_block_for_c5;
  bool discards_held_input_on_two;  // the held port's unread input, on a 2
  EmptyFrame empty_frame;
  std::optional<LeftOnHeldPort> left;  // held-port members
};

// With n = 0 the waits on either side of the missing address byte run together.
const Member kHandleSendData{
    .name = "HANDLE_SendData",
    .held = true,
    .call = [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t m,
               std::uint8_t* b) { return ex::HANDLE_SendData(bus, h, n, f, m, b, kLimit); },
    .wire = "M05 SA1 S33 SD9 SFF S02 S01",
    .waits = {19, 19, 19, 19, 20},
    .baud = 9600,
    .data_stop_bits = StopBits::One,
    .frame_writes = 2,
    .drain_limit = kLimit,
    .ack_limit = kLimit,
    .codes_without_ack = {0xB4, 0xB5, 0xB6},
    .fixed_block_for_c5 = true,
    .discards_held_input_on_two = false,
    .empty_frame = {"SFF S02 S01", {19, 38, 19, 20}, line::TimeoutSet::Standard, true},
    .left = LeftOnHeldPort{line::space(9600), line::mark(9600)}};

// As HANDLE_SendData, with the address byte under no parity.
const Member kSendDataUIM = [] {
  Member member = kHandleSendData;
  member.name = "sendDataUIM";
  member.call = [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f,
                   std::int32_t m, std::uint8_t* b) { return ex::sendDataUIM(bus, h, n, f, m, b, kLimit); };
  member.wire = "N05 SA1 S33 SD9 SFF S02 S01";
  member.left = LeftOnHeldPort{line::space(9600), line::no_parity(9600)};
  return member;
}();

const Member kMembers[] = {
    {.name = "senddata",
     .held = false,
     .call = [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t m,
                std::uint8_t* b) { return ex::senddata(bus, n, f, m, b, SimRig::kPort); },
     .wire = "M05 SA1 S33 SD9 SFF S02 S01",
     .waits = {9, 10, 10, 11},
     .baud = 9600,
     .data_stop_bits = StopBits::Two,
     .frame_writes = 2,
     .drain_limit = 1500,
     .ack_limit = 2000,
     .codes_without_ack = {0xB3, 0xB5, 0xB6},
     .fixed_block_for_c5 = true,
     .discards_held_input_on_two = false,
     .empty_frame = {"SFF S02 S01", {10, 11}, line::TimeoutSet::Reopen, true},
     .left = std::nullopt},
    {.name = "nSendData",
     .held = false,
     .call = [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t m,
                std::uint8_t* b) { return ex::nSendData(bus, n, f, m, b, SimRig::kPort, kBaud, kLimit); },
     .wire = "M05 SA1 S33 SD9 SFF S02 S01",
     .waits = {9, 9, 10, 11},
     .baud = kBaud,
     .data_stop_bits = StopBits::One,
     .frame_writes = 2,
     .drain_limit = kLimit,
     .ack_limit = kLimit,
     .codes_without_ack = {},
     .fixed_block_for_c5 = true,
     .discards_held_input_on_two = false,
     .empty_frame = {"SFF S02 S01", {9, 9, 10, 11}, line::TimeoutSet::Standard, true},
     .left = std::nullopt},
    // With n = 0 nothing is drained, so a port that never opened fails at the block.
    {.name = "dxSenddata",
     .held = false,
     .call = [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t m,
                std::uint8_t* b) { return ex::dxSenddata(bus, n, f, m, b, SimRig::kPort); },
     .wire = "M05 MA1 M33 MD9 MFF M02 M01",
     .waits = {30},
     .baud = 9600,
     .data_stop_bits = StopBits::One,
     .frame_writes = 1,
     .drain_limit = 2000,
     .ack_limit = 4550,
     .codes_without_ack = {},
     .fixed_block_for_c5 = true,
     .discards_held_input_on_two = false,
     .empty_frame = {"MFF M02 M01", {30}, line::TimeoutSet::Standard, false},
     .left = std::nullopt},
    // Nsend applies no setting: the port stays as com_init left it.
    {.name = "Nsend",
     .held = true,
     .call = [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t m,
                std::uint8_t* b) { return ex::Nsend(bus, n, f, m, b, h); },
     .wire = "M05 MA1 M33 MD9 MFF M02 M01",
     .waits = {30},
     .baud = 9600,
     .data_stop_bits = StopBits::One,
     .frame_writes = 1,
     .drain_limit = 2500,
     .ack_limit = 0,
     .codes_without_ack = {0xB3, 0xB4, 0xB5, 0xB6, 0xA1},
     .fixed_block_for_c5 = false,
     .discards_held_input_on_two = true,
     .empty_frame = {"MFF M02 M01", {30}, line::TimeoutSet::Standard, true},
     .left = LeftOnHeldPort{line::mark(9600), line::mark(9600)}},
    kHandleSendData,
    kSendDataUIM,
};
constexpr std::size_t kMemberCount = std::size(kMembers);

class DataBlockTest : public SimTest {
 protected:
  struct Outcome {
    Result result;
    std::size_t purges, closes;  // during the call and its release
  };

  Outcome run(const Member& member, Bytes& frame, std::int32_t n, Bytes& block, std::int32_t m) {
    const line::Handle held =
        member.held ? line::com_init(bus(), kPort, 9600) : line::kInvalidHandle;
    bus().clear_trace();
    const Result result = member.call(bus(), held, n, frame.data(), m, block.data());
    bus().advance(20'000);  // let everything written leave the line
    const Outcome outcome{result, events<trace::Purge>().size(),
                          events<trace::Close>().size()};
    if (member.held) line::com_exit(bus(), held);
    return outcome;
  }
};
TARVEX_SIM_TEST_SUITE(DataBlockTest);

TEST_P(DataBlockTest, EachMemberSendsFrameAndBlockAndTakesTheAcknowledgement) {
  for (const Member& member : kMembers) {
    SCOPED_TRACE(member.name);
    fresh();
    terminal().then(7, {0x02, 0x4F});
    Bytes frame{0x05, 0xA1, 0x33, 0xEE, 0xEE};
    Bytes block{0xFF, 0x02, 0xEE, 0xEE};
    const Outcome outcome = run(member, frame, 3, block, 2);
    EXPECT_EQ(outcome.result, kOk);
    EXPECT_EQ(wire(), member.wire);
    EXPECT_EQ(busy_waits_ms(), member.waits);
    EXPECT_EQ(frame, (Bytes{0x05, 0xA1, 0x33, 0xD9, 0xEE})) << "only the frame checksum";
    EXPECT_EQ(block, (Bytes{0xFF, 0x02, 0x01, 0xEE})) << "only the block checksum, wrapped";
    const auto sent = bus().sent(kPort);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].baud, member.baud);
      EXPECT_EQ(sent[i].stop_bits, i == 0 ? StopBits::One : member.data_stop_bits) << i;
    }
    // Nsend awaits nothing: the answer stays for the next exchange.
    EXPECT_EQ(bus().pending_input(kPort), member.ack_limit == 0 ? 2u : 0u);
    if (!member.held) {
      EXPECT_EQ(events<trace::Open>().at(0).timeouts, line::TimeoutSet::Standard);
    }
    EXPECT_EQ(bus().open_handles(), 0u);
    EXPECT_EQ(bus().hazards(), 0u);
  }
}

// The terminal's answer or the port's fault, and each member's result, in
// the order of kMembers.
struct Fault {
  const char* name;
  std::function<void(const Member&, sim::ScriptedTerminal&, sim::SimBus&)> arrange;
  std::array<Result, kMemberCount> results;
  bool ends_at_once = false;  // no busy wait, nothing on the line
};

const Fault kFaults[] = {
    {"answers 02 00",
     [](const Member&, sim::ScriptedTerminal& t, sim::SimBus&) {
       t.then(7, {0x02, 0x00});
     },
     {kOk, kReplyWrong, kReplyWrong, kOk, kReplyWrong, kReplyWrong}},
    {"answers 4F 02",
     [](const Member&, sim::ScriptedTerminal& t, sim::SimBus&) {
       t.then(7, {0x4F, 0x02});
     },
     {kReplyWrong, kReplyWrong, kReplyWrong, kOk, kReplyWrong, kReplyWrong}},
    {"one acknowledgement byte",
     [](const Member&, sim::ScriptedTerminal& t, sim::SimBus&) { t.then(7, {0x02}); },
     {kReplyIncomplete, kReplyIncomplete, kReplyIncomplete, kOk, kReplyIncomplete,
      kReplyIncomplete}},
    {"silent",
     [](const Member&, sim::ScriptedTerminal&, sim::SimBus&) {},
     {kReplyIncomplete, kReplyIncomplete, kReplyIncomplete, kOk, kReplyIncomplete,
      kReplyIncomplete}},
    {"first frame write takes nothing",
     [](const Member&, sim::ScriptedTerminal&, sim::SimBus& b) { short_write(b, 0, 0); },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent}},
    {"last frame write short",
     [](const Member& m, sim::ScriptedTerminal&, sim::SimBus& b) {
       short_write(b, m.frame_writes - 1, 1);
     },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent}},
    {"output never drains",
     [](const Member&, sim::ScriptedTerminal&, sim::SimBus& b) {
       b.faults().queue_never_drains = true;
     },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent}},
    {"block write short",
     [](const Member& m, sim::ScriptedTerminal&, sim::SimBus& b) {
       short_write(b, m.frame_writes, 1);
     },
     {kReplyIncomplete, kReplyIncomplete, kReplyIncomplete, kReplyIncomplete, kReplyIncomplete,
      kReplyIncomplete}},
    // After com_init's two calls, or a named port's open.
    {"the port hung up before the call",
     [](const Member& m, sim::ScriptedTerminal&, sim::SimBus& b) {
       b.faults().hang_up_at_call = m.held ? 2 : 1;
     },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent, kFrameNotSent},
     true},
};

// Named ports are released on every path; Nsend discards the held port's
// input on its 2 paths only; no held port is ever closed by an exchange.
TEST_P(DataBlockTest, EachResultAndWhatHappensToThePortAtEveryExit) {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    const Member& member = kMembers[i];
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(member.name) + ": " + fault.name);
      fresh();
      fault.arrange(member, terminal(), bus());
      Bytes frame{0x05, 0xA1, 0x33, 0xEE};
      Bytes block{0xFF, 0x02, 0xEE};
      const Outcome outcome = run(member, frame, 3, block, 2);
      EXPECT_EQ(outcome.result, fault.results[i]);
      if (fault.ends_at_once) {
        EXPECT_EQ(events<trace::Spin>().size(), 0u);
        EXPECT_EQ(wire(), "");
      }
      const bool purged =
          !member.held || (member.discards_held_input_on_two && outcome.result == kFrameNotSent);
      EXPECT_EQ(outcome.purges, purged ? 1u : 0u);
      EXPECT_EQ(outcome.closes, member.held ? 0u : 1u);
      EXPECT_EQ(bus().open_handles(), 0u);
    }
  }
}

// A stuck queue times the drain out after the member's limit, a silent
// terminal the first acknowledgement byte after its per-byte limit.
TEST_P(DataBlockTest, EachMemberWaitsItsOwnLimitsAndNoLonger) {
  for (const Member& member : kMembers) {
    for (const bool stuck_queue : {true, false}) {
      if (!stuck_queue && member.ack_limit == 0) continue;
      SCOPED_TRACE(std::string(member.name) + (stuck_queue ? " drain" : " acknowledgement"));
      fresh();
      bus().faults().queue_never_drains = stuck_queue;
      Bytes frame{0x05, 0xA1, 0xEE};
      Bytes block{0x01, 0xEE};
      EXPECT_EQ(run(member, frame, 2, block, 1).result,
                stuck_queue ? kFrameNotSent : kReplyIncomplete);
      const auto polls = polled(stuck_queue);
      ASSERT_EQ(polls.size(), 1u);
      const std::uint64_t waited_ms = polls[0].end_us / 1000 - polls[0].time_us / 1000;
      const std::uint32_t limit = stuck_queue ? member.drain_limit : member.ack_limit;
      EXPECT_GT(waited_ms, limit);
      EXPECT_LE(waited_ms, limit + (stuck_queue ? 1 : 16))
          << "one read poll past the limit at most";
    }
  }
}

// Frame byte 1 selects the codes that need no acknowledgement, also when the
// frame itself is empty and not sent.
TEST_P(DataBlockTest, CommandCodesThatAwaitNoAcknowledgement) {
  for (const Member& member : kMembers) {
    for (const std::uint8_t code : Bytes{0xB3, 0xB4, 0xB5, 0xB6, 0xA1}) {
      for (const std::int32_t n : {2, 0}) {
        SCOPED_TRACE(std::string(member.name) + " code " + std::to_string(code) + " n " +
                     std::to_string(n));
        fresh();
        Bytes frame{0x05, code, 0xEE};
        Bytes block{0x01, 0xEE};
        const bool awaited =
            std::ranges::find(member.codes_without_ack, code) == member.codes_without_ack.end();
        EXPECT_EQ(run(member, frame, n, block, 1).result, awaited ? kReplyIncomplete : kOk);
        EXPECT_EQ(events<trace::ReadIdle>().empty(), !awaited) << "nothing is read";
        EXPECT_TRUE(wire().ends_with("01 S01") || wire().ends_with("01 M01")) << wire();
      }
    }
  }
}

// 0xC5 fixes the block at 10 bytes (11 sent) for all but Nsend; m = 0
// otherwise ends the call after the drain with 0 in block byte 0.
TEST_P(DataBlockTest, BlockLength) {
  struct Case {
    std::uint8_t code;
    std::int32_t m;
  };
  for (const Member& member : kMembers) {
    // What the tool asks of the member's profile: the same rule.
    EXPECT_EQ(ex::member_profile(member.name).value().fixed_block_for_c5, member.fixed_block_for_c5);
    for (const Case c : {Case{0xA1, 0}, Case{0xC5, 0}, Case{0xC5, 3}}) {
      SCOPED_TRACE(std::string(member.name) + " code " + std::to_string(c.code) + " m " +
                   std::to_string(c.m));
      fresh();
      const bool fixed = c.code == 0xC5 && member.fixed_block_for_c5;
      const std::int32_t m = fixed ? 10 : c.m;
      terminal().then(3 + static_cast<std::size_t>(m) + 1, {0x02, 0x4F});
      Bytes frame{0x05, c.code, 0xEE};
      Bytes block{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEE, 0xEE};
      Bytes expected = block;
      expected[static_cast<std::size_t>(m)] = m == 0 ? 0 : m == 3 ? 6 : 55;
      EXPECT_EQ(run(member, frame, 2, block, c.m).result, kOk);
      EXPECT_EQ(block, expected);
      const auto sent = bus().sent(kPort);
      EXPECT_EQ(sent.size(), 3u + (m == 0 ? 0u : static_cast<std::size_t>(m) + 1));
      EXPECT_EQ(nothing_after_the_drain(), m == 0);
    }
  }
}

// Without a frame nothing of it is sent and frame byte 0 gets the checksum of
// no bytes; senddata starts straight in its data phase on a port opened with
// the re-open timeouts, dxSenddata has nothing to drain.
TEST_P(DataBlockTest, EmptyFrameSendsOnlyTheBlock) {
  for (const Member& member : kMembers) {
    SCOPED_TRACE(member.name);
    const EmptyFrame& expected = member.empty_frame;
    fresh();
    terminal().then(3, {0x02, 0x4F});
    Bytes frame{0x05, 0xA1, 0xEE};
    Bytes block{0xFF, 0x02, 0xEE};
    EXPECT_EQ(run(member, frame, 0, block, 2).result, kOk);
    EXPECT_EQ(frame, (Bytes{0x00, 0xA1, 0xEE}));
    EXPECT_EQ(wire(), expected.wire);
    EXPECT_EQ(events<trace::Write>().size(), 1u) << "no frame write, not even empty";
    EXPECT_EQ(busy_waits_ms(), expected.waits);
    for (const WireByte& b : bus().sent(kPort)) EXPECT_EQ(b.stop_bits, member.data_stop_bits);
    EXPECT_EQ(events<trace::QueueQuery>().empty(), !expected.drained);
    if (!member.held) {
      EXPECT_EQ(events<trace::Open>().at(0).timeouts, expected.opened_with);
    }
    EXPECT_EQ(bus().hazards(), 0u);
  }
}

// Whatever the call has to send, a frame or only a block, a port that never
// opened gives 2: by name nothing is called on it, and a held port that
// never opened fails its first write or drain.
TEST_P(DataBlockTest, PortThatCannotBeOpened) {
  for (const Member& member : kMembers) {
    for (const std::int32_t n : {2, 0}) {
      SCOPED_TRACE(std::string(member.name) + " n=" + std::to_string(n));
      fresh();
      const line::Handle blocker = line::com_init(bus(), kPort, 9600);  // holds the port
      const line::Handle held = line::com_init(bus(), kPort, 9600);     // so this open fails
      ASSERT_EQ(held, line::kInvalidHandle);
      Bytes frame{0x05, 0xA1, 0xEE};
      Bytes block{0x01, 0xEE};
      EXPECT_EQ(member.call(bus(), held, n, frame.data(), 1, block.data()), kFrameNotSent);
      line::com_exit(bus(), blocker);
      EXPECT_EQ(bus().open_handles(), 0u);
    }
  }
}

TEST_P(DataBlockTest, HeldPortKeepsTheLastSettingApplied) {
  for (const Member& member : kMembers) {
    if (!member.left) continue;
    for (const bool address_taken : {true, false}) {
      SCOPED_TRACE(std::string(member.name) + (address_taken ? "" : ", address byte refused"));
      fresh();
      if (!address_taken) short_write(bus(), 0, 0);
      const line::Handle held = line::com_init(bus(), kPort, 9600);
      Bytes frame{0x05, 0xB5, 0xEE};
      Bytes block{0x01, 0xEE};
      EXPECT_EQ(member.call(bus(), held, 2, frame.data(), 1, block.data()),
                address_taken ? kOk : kFrameNotSent);
      EXPECT_EQ(bus().setting(kPort),
                address_taken ? member.left->after_frame : member.left->address_refused);
      line::com_exit(bus(), held);
    }
  }
}

TEST_P(DataBlockTest, NsendAfterHandleSendDataSendsUnderSpace) {
  const line::Handle held = line::com_init(bus(), kPort, 9600);
  Bytes frame{0x05, 0xB5, 0xEE};
  Bytes block{0x01, 0xEE};
  EXPECT_EQ(ex::HANDLE_SendData(bus(), held, 2, frame.data(), 1, block.data(), kLimit), kOk);
  EXPECT_EQ(ex::Nsend(bus(), 2, frame.data(), 1, block.data(), held), kOk);
  bus().advance(20'000);
  EXPECT_EQ(wire(), "M05 SB5 SBA S01 S01 S05 SB5 SBA S01 S01");
  EXPECT_EQ(bus().hazards(), 0u);
  line::com_exit(bus(), held);
}

}  // namespace
}  // namespace tarvex::testing
