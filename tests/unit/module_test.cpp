// The combined and raw module exchanges on the simulated bus.
#include "exchange/module.h"

#include <algorithm>
#include <array>
#include <functional>

#include "line/held_port.h"
#include "line/primitives.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;

constexpr std::uint32_t kLimit = 300;

// One member on a held port from com_init (MARK, 9600). HANDLE_ComData also
// gets the block; the raw members ignore it.
struct Member {
  const char* name;
  std::function<Result(sim::SimBus&, line::Handle, std::int32_t, std::uint8_t*, std::int32_t,
                       std::uint8_t*, std::int32_t, std::uint8_t*)>
      call;
  bool checked;  // a checksum is appended to the frame and checked in the reply
  // Frame 05 A1 33 (n = 3), block FF 02, a good three-byte reply:
  const char* wire;
  std::vector<std::uint64_t> waits;
  line::LineSetting left;  // the setting the held port is left in
};

const Member kComData{
    "HANDLE_ComData",
     [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t m,
        std::uint8_t* b, std::int32_t r,
        std::uint8_t* reply) { return ex::HANDLE_ComData(bus, h, n, f, m, b, r, reply, kLimit); },
     true,
     "M05 SA1 S33 SD9 SFF S02 S01",
     {19, 19, 19},
     line::space(9600)};
const Member kGetDataUIM{
    "getDataUIM",
     [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t,
        std::uint8_t*, std::int32_t r,
        std::uint8_t* reply) { return ex::getDataUIM(bus, h, n, f, r, reply, kLimit); },
     false,
     "N05 NA1 N33",
     {19},
     line::no_parity(9600)};
// SPACE is set right after the two MARK bytes are handed to the port, and
// applied once they have left the line.
const Member kSamGetData{
    "sam_GetData",
     [](sim::SimBus& bus, line::Handle h, std::int32_t n, std::uint8_t* f, std::int32_t,
        std::uint8_t*, std::int32_t r,
        std::uint8_t* reply) { return ex::sam_GetData(bus, h, n, f, r, reply, kLimit); },
     false,
     "M05 MA1 S33",
     {19},
     line::space(9600)};
const Member* const kMembers[] = {&kComData, &kGetDataUIM, &kSamGetData};
constexpr std::size_t kMemberCount = std::size(kMembers);

class ModuleTest : public SimTest {
 protected:
  // Frame 05 A1 33 (n = 3), block FF 02 (m = 2), room for a reply of three
  // bytes and its checksum, with guard bytes after each.
  Bytes frame, block, reply;

  // A new bus and new buffers.
  void start() {
    fresh();
    frame = {0x05, 0xA1, 0x33, 0xEE, 0xEE};
    block = {0xFF, 0x02, 0xEE, 0xEE};
    reply = Bytes(6, 0xEE);
  }

  // The bytes the member puts on the line for that frame and block.
  static std::size_t sent_bytes(const Member& member) { return member.checked ? 7 : 3; }
  // The reply it reads: with or without the checksum byte.
  static Bytes good_reply(const Member& member) {
    return member.checked ? with_checksum({0x10, 0x20, 0x30}) : Bytes{0x10, 0x20, 0x30};
  }

  Result run(const Member& member, std::int32_t n = 3, std::int32_t m = 2,
             std::int32_t reply_length = 3) {
    const line::Handle held = line::com_init(bus(), kPort, 9600);
    bus().clear_trace();
    const Result result =
        member.call(bus(), held, n, frame.data(), m, block.data(), reply_length, reply.data());
    bus().advance(20'000);
    EXPECT_TRUE(events<trace::Purge>().empty()) << "a held port is never purged";
    EXPECT_TRUE(events<trace::Close>().empty()) << "nor closed";
    line::com_exit(bus(), held);
    EXPECT_EQ(bus().open_handles(), 0u);
    return result;
  }

  template <class Kind>
  std::size_t first() {
    const auto& trace = bus().trace();
    return static_cast<std::size_t>(std::ranges::find_if(trace, is<Kind>) - trace.begin());
  }
};
TARVEX_SIM_TEST_SUITE(ModuleTest);

TEST_P(ModuleTest, EachMemberSendsItsFrameAndReadsTheReply) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    start();
    const Bytes answer = good_reply(*member);
    terminal().then(sent_bytes(*member), answer);
    EXPECT_EQ(run(*member), kOk);
    EXPECT_EQ(wire(), member->wire) << "no acknowledgement, nothing appended to a raw frame";
    EXPECT_EQ(busy_waits_ms(), member->waits);
    EXPECT_EQ(frame, member->checked ? (Bytes{0x05, 0xA1, 0x33, 0xD9, 0xEE})
                                    : (Bytes{0x05, 0xA1, 0x33, 0xEE, 0xEE}));
    EXPECT_EQ(block,
              member->checked ? (Bytes{0xFF, 0x02, 0x01, 0xEE}) : (Bytes{0xFF, 0x02, 0xEE, 0xEE}));
    Bytes expected_reply = answer;
    expected_reply.resize(reply.size(), 0xEE);
    EXPECT_EQ(reply, expected_reply) << "exactly the reply's bytes";
    EXPECT_EQ(bus().setting(kPort), member->left);
    EXPECT_EQ(bus().hazards(), 0u);
  }
}

// What each member makes of a fault, in the order of kMembers; kNotMet for a
// step the member does not have.
constexpr Result kNotMet = -1;

struct Fault {
  const char* name;
  // The terminal answers once it has heard `heard` bytes; `reply` is what a
  // good answer would be.
  std::function<void(sim::ScriptedTerminal&, sim::SimBus&, std::size_t heard, Bytes reply)> arrange;
  std::array<Result, kMemberCount> results;
  bool partial_reply = false;  // what came of the reply stays in the buffer
};

const Fault kFaults[] = {
    {"reply with a wrong checksum",
     [](sim::ScriptedTerminal& t, sim::SimBus&, std::size_t heard, Bytes r) {
       ++r.back();
       t.then(heard, r);
     },
     {kReplyWrong, kOk, kOk}},  // a raw reply is not checked
    {"reply one byte short",
     [](sim::ScriptedTerminal& t, sim::SimBus&, std::size_t heard, Bytes r) {
       r.pop_back();
       t.then(heard, r);
     },
     {kReplyIncomplete, kReplyIncomplete, kReplyIncomplete},
     true},
    {"silent",
     [](sim::ScriptedTerminal&, sim::SimBus&, std::size_t, Bytes) {},
     {kReplyIncomplete, kReplyIncomplete, kReplyIncomplete}},
    {"first write takes nothing",
     [](sim::ScriptedTerminal&, sim::SimBus& b, std::size_t, Bytes) { short_write(b, 0, 0); },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent}},
    {"rest of the frame not taken",
     [](sim::ScriptedTerminal&, sim::SimBus& b, std::size_t, Bytes) { short_write(b, 1, 0); },
     {kFrameNotSent, kNotMet, kFrameNotSent}},
    {"output never drains",
     [](sim::ScriptedTerminal&, sim::SimBus& b, std::size_t, Bytes) {
       b.faults().queue_never_drains = true;
     },
     {kFrameNotSent, kFrameNotSent, kFrameNotSent}},
    {"block write short",
     [](sim::ScriptedTerminal&, sim::SimBus& b, std::size_t, Bytes) { short_write(b, 2, 1); },
     {kFrameNotSent, kNotMet, kNotMet}},
};

TEST_P(ModuleTest, FaultsGiveTheirCodes) {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    const Member& member = *kMembers[i];
    for (const Fault& fault : kFaults) {
      if (fault.results[i] == kNotMet) continue;
      SCOPED_TRACE(std::string(member.name) + ": " + fault.name);
      start();
      const Bytes answer = good_reply(member);
      fault.arrange(terminal(), bus(), sent_bytes(member), answer);
      EXPECT_EQ(run(member), fault.results[i]);
      if (fault.results[i] == kFrameNotSent) {
        EXPECT_EQ(first<trace::Read>(), bus().trace().size()) << "nothing is read";
        EXPECT_EQ(first<trace::ReadIdle>(), bus().trace().size());
      }
      if (fault.partial_reply) {
        Bytes partial(answer.begin(), answer.end() - 1);
        partial.resize(reply.size(), 0xEE);
        EXPECT_EQ(reply, partial) << "what came stays in the buffer";
      }
    }
  }
}

TEST_P(ModuleTest, EachMemberWaitsItsLimitForTheDrainAndEachReplyByte) {
  for (const Member* member : kMembers) {
    for (const bool stuck_queue : {true, false}) {
      SCOPED_TRACE(std::string(member->name) + (stuck_queue ? " drain" : " reply byte"));
      start();
      bus().faults().queue_never_drains = stuck_queue;
      EXPECT_EQ(run(*member), stuck_queue ? kFrameNotSent : kReplyIncomplete);
      const auto polls = polled(stuck_queue);
      ASSERT_EQ(polls.size(), 1u);
      const std::uint64_t waited_ms = polls[0].end_us / 1000 - polls[0].time_us / 1000;
      EXPECT_GT(waited_ms, kLimit);
      EXPECT_LE(waited_ms, kLimit + (stuck_queue ? 1 : 16));
    }
  }
}

// With n = 0 (and m = 0) nothing is written; the settings and waits still
// happen, and the call only listens. With N = 0 nothing is read.
TEST_P(ModuleTest, EmptyFrameOnlyListensAndNoReplyReadsNothing) {
  for (const Member* member : kMembers) {
    SCOPED_TRACE(member->name);
    start();
    const Bytes answer = good_reply(*member);
    bus().inject(kPort, answer, 30'000);
    EXPECT_EQ(run(*member, 0, 0), kOk);
    EXPECT_TRUE(events<trace::Write>().empty());
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(answer.size())),
              answer);
    EXPECT_EQ(bus().setting(kPort), member->left);

    start();
    EXPECT_EQ(run(*member, 3, 2, 0), kOk);
    EXPECT_EQ(wire(), member->wire);
    EXPECT_EQ(first<trace::ReadIdle>(), bus().trace().size());
    EXPECT_EQ(reply, Bytes(6, 0xEE));
  }
}

// A raw exchange that sends nothing and reads nothing needs no buffers.
TEST_P(ModuleTest, RawMembersNeedNoBufferTheyDoNotUse) {
  for (const Member* member : kMembers) {
    if (member->checked) continue;
    SCOPED_TRACE(member->name);
    const line::Handle held = line::com_init(bus(), kPort, 9600);
    EXPECT_EQ(member->call(bus(), held, 0, nullptr, 0, nullptr, 0, nullptr), kOk);
    line::com_exit(bus(), held);
  }
}

// The block follows the drain with no wait, and the reply the block with
// neither a wait nor a drain; the block is always the caller's m.
TEST_P(ModuleTest, ComDataBlockStep) {
  const Member& com_data = kComData;
  struct Case {
    std::uint8_t code;
    std::int32_t m;
    const char* block_on_wire;
  };
  for (const Case c : {Case{0xA1, 0, ""}, Case{0xC5, 3, " SFF S02 SEE SEF"}}) {
    SCOPED_TRACE(c.m);
    start();
    frame[1] = c.code;
    const std::size_t frame_bytes = 4;
    terminal().then(frame_bytes + (c.m == 0 ? 0 : static_cast<std::size_t>(c.m) + 1),
                    with_checksum({0x10, 0x20, 0x30}));
    EXPECT_EQ(run(com_data, 3, c.m), kOk);
    const std::string frame_on_wire = c.code == 0xA1 ? "M05 SA1 S33 SD9" : "M05 SC5 S33 SFD";
    EXPECT_EQ(wire(), frame_on_wire + c.block_on_wire);
    EXPECT_EQ(block[static_cast<std::size_t>(c.m)], c.m == 0 ? 0x00 : 0xEF);
    EXPECT_EQ(reply, (Bytes{0x10, 0x20, 0x30, 0x60, 0xEE, 0xEE}));

    const auto& trace = bus().trace();
    const auto last_query = std::ranges::find_if(trace.rbegin(), trace.rend(), is<trace::QueueQuery>);
    const auto first_read = trace.begin() + static_cast<std::ptrdiff_t>(first<trace::Read>());
    // A primitive's own first tick reading shows as a spin of one.
    EXPECT_TRUE(std::none_of(last_query.base(), first_read, [](const TraceEvent& e) {
      const auto* spin = std::get_if<trace::Spin>(&e);
      return (spin != nullptr && spin->readings > 1) || is<trace::QueueQuery>(e);
    }));
  }
}

// The bus records each byte with the parity in force when it was written,
// which is what the step list means: both address bytes under MARK. SPACE
// follows them with no wait, so it is applied only once they have left the
// line: a UART applies a new parity to whatever it has not yet shifted out.
TEST_P(ModuleTest, SamGetDataSendsTwoAddressBytesUnderMark) {
  struct Case {
    std::int32_t n;
    const char* wire;
  };
  for (const Case c : {Case{2, "M05 MA1"}, Case{5, "M05 MA1 S33 S44 S55"}}) {
    SCOPED_TRACE(c.n);
    start();
    frame = {0x05, 0xA1, 0x33, 0x44, 0x55};
    terminal().then(static_cast<std::size_t>(c.n), {0x0A});
    EXPECT_EQ(run(kSamGetData, c.n, 0, 1), kOk);
    EXPECT_EQ(wire(), c.wire);
    const auto writes = events<trace::Write>();
    ASSERT_EQ(writes.size(), 2u) << "the rest is written even when it is empty";
    EXPECT_EQ(writes[1].asked, static_cast<std::uint32_t>(c.n - 2));
    EXPECT_EQ(events<trace::SetLine>().at(1).time_us, bus().sent(kPort).at(1).end_us)
        << "SPACE once the second address byte has left, and not later";
    EXPECT_EQ(frame, (Bytes{0x05, 0xA1, 0x33, 0x44, 0x55}));
  }
}

}  // namespace
}  // namespace tarvex::testing
