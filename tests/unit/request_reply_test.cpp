// The request and reply family on the simulated bus.
#include "exchange/request_reply.h"

#include <functional>

#include "line/held_port.h"
#include "line/primitives.h"
#include "listed_limits.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;

// A limit the member waits out, for a frame with this command code.
struct Limits {
  std::uint8_t code;
  std::uint32_t drain, byte;
};

// Every listed code, its limit `of` the member serving the drain and each
// reply byte alike.
std::vector<Limits> listed(std::uint32_t ListedLimits::*of) {
  std::vector<Limits> limits;
  for (const ListedLimits& c : kListedLimits) limits.push_back({c.code, c.*of, c.*of});
  return limits;
}

// One member, called the way a host calls it. Held-port members get their
// port from com_init (MARK, 9600) and give it back after the call.
struct Member {
  const char* name;
  bool held;
  std::function<Result(sim::SimBus&, line::Handle, std::int32_t, std::uint8_t*, std::int32_t,
                       std::uint8_t*)>
      call;
  // With frame 05 A1 33 and a good three-byte reply:
  const char* wire;                   // bytes on the line, the acknowledgement included
  std::vector<std::uint64_t> waits;   // busy waits in ms, in order
  std::uint32_t baud;                 // of every byte
  int frame_writes;                   // 2: address byte alone, then the rest; 1: one write
  std::vector<Limits> limits;
};

const Member kGetdata{
    "getdata", false,
    [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t r,
       std::uint8_t* b) { return ex::getdata(bus, n, f, r, b, SimRig::kPort); },
    "M05 SA1 S33 SD9", {9, 9, 9}, 9600, 2, listed(&ListedLimits::getdata)};
const Member kNGetData{
    "nGetData", false,
    [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t r,
       std::uint8_t* b) { return ex::nGetData(bus, n, f, r, b, SimRig::kPort, 19200, 300); },
    "M05 SA1 S33 SD9 S02 S4F", {9, 9, 9}, 19200, 2, {{0x00, 300, 300}}};
const Member kDxGetdata{
    "dxGetdata", false,
    [](sim::SimBus& bus, line::Handle, std::int32_t n, std::uint8_t* f, std::int32_t r,
       std::uint8_t* b) { return ex::dxGetdata(bus, n, f, r, b, SimRig::kPort); },
    "M05 MA1 M33 MD9", {}, 9600, 1, listed(&ListedLimits::dx_getdata)};
const Member kNget{
    "Nget", true,
    [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t r,
       std::uint8_t* b) { return ex::Nget(bus, n, f, r, b, h); },
    "M05 MA1 M33 MD9", {}, 9600, 1, {{0x00, 1000, 100}}};
const Member kHandleGetData{
    "HANDLE_GetData", true,
    [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t r,
       std::uint8_t* b) { return ex::HANDLE_GetData(bus, h, n, f, r, b, 300); },
    "M05 SA1 S33 SD9 S02 S4F", {19, 19, 19, 5, 5}, 9600, 2, {{0x00, 300, 300}}};
const Member* const kMembers[] = {&kGetdata, &kNGetData, &kDxGetdata, &kNget, &kHandleGetData};

class RequestReplyTest : public SimTest {
 protected:
  Result run(const Member& member, Bytes& frame, std::int32_t n, Bytes& reply,
             std::int32_t reply_length) {
    const line::Handle held = member.held ? line::com_init(bus(), kPort, 9600) : line::kInvalidHandle;
    if (member.held) bus().clear_trace();
    const Result result = member.call(bus(), held, n, frame.data(), reply_length, reply.data());
    bus().advance(20'000);  // let everything written leave the line
    if (member.held) line::com_exit(bus(), held);
    return result;
  }
};
TARVEX_SIM_TEST_SUITE(RequestReplyTest);

TEST_P(RequestReplyTest, EachMemberPutsItsFrameOnTheLineAndReadsTheReply) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    fresh();
    terminal().then(4, with_checksum({0x10, 0x20, 0x30}));
    Bytes frame{0x05, 0xA1, 0x33, 0xEE};
    Bytes reply(5, 0xEE);
    EXPECT_EQ(run(*member, frame, 3, reply, 3), kOk);
    EXPECT_EQ(wire(), member->wire);
    EXPECT_EQ(busy_waits_ms(), member->waits);
    EXPECT_EQ(frame, (Bytes{0x05, 0xA1, 0x33, 0xD9})) << "only the checksum byte is written";
    EXPECT_EQ(reply, (Bytes{0x10, 0x20, 0x30, 0x60, 0xEE})) << "N + 1 bytes, nothing more";
    for (const WireByte& b : bus().sent(kPort)) {
      EXPECT_EQ(b.baud, member->baud);
      EXPECT_EQ(b.stop_bits, line::StopBits::One);
    }
    EXPECT_EQ(bus().open_handles(), 0u);
    EXPECT_EQ(bus().hazards(), 0u);
  }
}

// The terminal's fault, and what every member makes of it.
struct Fault {
  const char* name;
  std::function<void(SimTest&, sim::ScriptedTerminal&, sim::SimBus&)> arrange;
  Result result;
};

const Fault kFaults[] = {
    {"bad checksum", [](SimTest&, sim::ScriptedTerminal& t, sim::SimBus&) { t.then(4, {0x10, 0x20, 0x30, 0x61}); },
     kReplyWrong},
    {"one byte short", [](SimTest&, sim::ScriptedTerminal& t, sim::SimBus&) { t.then(4, {0x10, 0x20, 0x30}); },
     kReplyIncomplete},
    {"silent", [](SimTest&, sim::ScriptedTerminal&, sim::SimBus&) {}, kReplyIncomplete},
    {"frame write short", [](SimTest&, sim::ScriptedTerminal&, sim::SimBus& b) {
       b.faults().short_write_at = 0;
       b.faults().short_write_takes = 0;
     }, kFrameNotSent},
    {"output never drains", [](SimTest&, sim::ScriptedTerminal&, sim::SimBus& b) {
       b.faults().queue_never_drains = true;
     }, kFrameNotSent},
    // The call after the open: com_init's MARK for a held port.
    {"first line setting not taken", [](SimTest&, sim::ScriptedTerminal&, sim::SimBus& b) {
       b.faults().at_call = 1;
     }, kFrameNotSent},
};

TEST_P(RequestReplyTest, FaultsGiveTheirCodesAndNoAcknowledgement) {
  for (const Member* member : kMembers) {
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(member->name) + ": " + fault.name);
      fresh();
      fault.arrange(*this, terminal(), bus());
      Bytes frame{0x05, 0xC2, 0x33, 0xEE};
      Bytes reply(5, 0xEE);
      EXPECT_EQ(run(*member, frame, 3, reply, 3), fault.result);
      EXPECT_EQ(wire().find("02 S4F"), std::string::npos);
      EXPECT_EQ(bus().open_handles(), 0u);
    }
  }
}

TEST_P(RequestReplyTest, RestOfTheFrameNotTakenGivesTwoAfterTheAddressByte) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    fresh();
    bus().faults().short_write_at = 1;  // the second write: the rest of the frame
    bus().faults().short_write_takes = 1;
    Bytes frame{0x05, 0xA1, 0x33, 0xEE};
    Bytes reply(5, 0xEE);
    EXPECT_EQ(run(*member, frame, 3, reply, 3), member->frame_writes == 2 ? kFrameNotSent : kReplyIncomplete);
    EXPECT_EQ(bus().open_handles(), 0u);
  }
}

TEST_P(RequestReplyTest, PortThatCannotBeOpenedGivesTwo) {
  for (const Member* member : kMembers) {
    for (const std::int32_t n : {3, 0}) {
      SCOPED_TRACE(std::string(member->name) + " n=" + std::to_string(n));
      fresh();
      Bytes frame{0x05, 0xA1, 0x33, 0xEE};
      Bytes reply(5, 0xEE);
      const line::Handle blocker = line::com_init(bus(), kPort, 9600);  // holds the port
      const line::Handle held = line::com_init(bus(), kPort, 9600);     // so this open fails
      EXPECT_EQ(held, line::kInvalidHandle);
      EXPECT_EQ(member->call(bus(), held, n, frame.data(), 3, reply.data()), kFrameNotSent);
      EXPECT_EQ(reply, Bytes(5, 0xEE));
      line::com_exit(bus(), blocker);
      EXPECT_EQ(bus().open_handles(), 0u);
    }
  }
}

TEST_P(RequestReplyTest, LimitsByCommandCode) {
  for (const ListedLimits& c : kListedLimits) {
    EXPECT_EQ(ex::getdata_limit(c.code), c.getdata) << int(c.code);
    EXPECT_EQ(ex::dxGetdata_limit(c.code), c.dx_getdata) << int(c.code);
  }
}

// The limit is both the drain limit and the per-byte limit: a silent
// terminal times the first reply byte out after it, a stuck queue the drain.
TEST_P(RequestReplyTest, EachMemberWaitsItsOwnLimitsAndNoLonger) {
  for (const Member* member : kMembers) {
    for (const Limits& c : member->limits) {
      SCOPED_TRACE(std::string(member->name) + " code " + std::to_string(c.code));
      for (const bool stuck_queue : {false, true}) {
        fresh();
        bus().faults().queue_never_drains = stuck_queue;
        Bytes frame{0x05, c.code, 0xEE};
        Bytes reply(3, 0xEE);
        EXPECT_EQ(run(*member, frame, 2, reply, 2), stuck_queue ? kFrameNotSent : kReplyIncomplete);
        const auto polls = polled(stuck_queue);
        ASSERT_FALSE(polls.empty());
        const std::uint64_t waited_ms = polls.back().end_us / 1000 - polls.front().time_us / 1000;
        const std::uint32_t limit = stuck_queue ? c.drain : c.byte;
        EXPECT_GT(waited_ms, limit);
        EXPECT_LE(waited_ms, limit + (stuck_queue ? 1 : 16)) << "one read poll past the limit at most";
      }
    }
  }
}

TEST_P(RequestReplyTest, GetdataAcknowledgesOnlyCommandC2) {
  struct Case {
    std::uint8_t code;
    std::int32_t reply_length;
    bool acknowledged;
  };
  for (const Case c : {Case{0xC2, 2, true}, Case{0xC1, 2, false}, Case{0xC2, 0, false}}) {
    fresh();
    if (c.reply_length > 0) terminal().then(3, with_checksum({0x01, 0x02}));
    Bytes frame{0x05, c.code, 0xEE};
    Bytes reply(3, 0xEE);
    EXPECT_EQ(run(kGetdata, frame, 2, reply, c.reply_length), kOk);
    EXPECT_EQ(wire().ends_with("S02 S4F"), c.acknowledged) << wire();
    if (c.reply_length == 0) {
      EXPECT_TRUE(events<trace::Read>().empty());
      EXPECT_TRUE(events<trace::ReadIdle>().empty());
    }
  }
}

TEST_P(RequestReplyTest, EmptyFrameOnlyListens) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    fresh();
    const Bytes reply_bytes = with_checksum({0x0A});
    bus().inject(kPort, reply_bytes, 30'000);
    Bytes frame{0x05, 0xA2, 0xEE};
    Bytes reply(2, 0xEE);
    EXPECT_EQ(run(*member, frame, 0, reply, 1), kOk);
    EXPECT_EQ(frame, (Bytes{0x00, 0xA2, 0xEE})) << "the checksum of no bytes lands in byte 0";
    EXPECT_EQ(reply, reply_bytes);
    EXPECT_TRUE(events<trace::Write>().size() <= 1) << "at most the acknowledgement";
  }
}

TEST_P(RequestReplyTest, HeldPortKeepsTheSettingTheLastExchangeLeft) {
  const line::Handle held = line::com_init(bus(), kPort, 9600);
  terminal().then(3, with_checksum({0x01})).then(3, with_checksum({0x02})).then(5, with_checksum({0x03}));
  Bytes frame{0x05, 0xA1, 0xEE};
  Bytes reply(2);
  EXPECT_EQ(ex::Nget(bus(), 2, frame.data(), 1, reply.data(), held), kOk);
  EXPECT_EQ(ex::HANDLE_GetData(bus(), held, 2, frame.data(), 1, reply.data(), 100), kOk);
  EXPECT_EQ(bus().setting(kPort)->parity, line::Parity::Space);
  EXPECT_EQ(ex::Nget(bus(), 2, frame.data(), 1, reply.data(), held), kOk);
  bus().advance(20'000);
  EXPECT_EQ(wire(), "M05 MA1 MA6 M05 SA1 SA6 S02 S4F S05 SA1 SA6");
  EXPECT_EQ(bus().open_handles(), 1u) << "held-port members never close";
  EXPECT_TRUE(events<trace::Purge>().empty()) << "nor purge";
  line::com_exit(bus(), held);
}

TEST_P(RequestReplyTest, HeldPortLifecycle) {
  EXPECT_EQ(line::com_init(bus(), "COM9", 9600), line::kInvalidHandle);
  EXPECT_EQ(line::com_exit(bus(), line::kInvalidHandle), kOk);
  const line::Handle held = line::com_init(bus(), kPort, 4800);
  EXPECT_EQ(bus().setting(kPort), line::mark(4800));
  EXPECT_EQ(bus().timeouts(kPort), line::TimeoutSet::Standard);
  EXPECT_EQ(line::com_exit(bus(), held), kOk);
  EXPECT_EQ(bus().open_handles(), 0u);
}

}  // namespace
}  // namespace tarvex::testing
