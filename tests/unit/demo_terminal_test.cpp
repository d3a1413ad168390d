// The demo terminals answer the frames of every exchange family, heard byte
// by byte with their parity bits, as the tool and the pseudo-terminal peer
// present them to hosts.
#include "sim/demo_terminal.h"

#include <gtest/gtest.h>

#include <functional>

#include "bytes.h"
#include "sim/demo_bus.h"

namespace tarvex::testing {
namespace {

constexpr auto M = line::Parity::Mark;
constexpr auto S = line::Parity::Space;

struct Segment {
  line::Parity parity;
  Bytes bytes;
  std::uint64_t silence_after_us = 5000;
};

struct Case {
  const char* name;
  std::vector<Segment> segments;
  Bytes answer;  // every byte the terminals sent back, in order
  std::function<void(const sim::DemoBus&)> check = nullptr;
};

const Bytes kToken31{0x5A ^ 0x31, 0x01};
const Bytes kQuery31 = with_checksum({0x6B, 0x01, 0x10, 0x00, 0x00, 0x31, 0x00});

const Case kCases[] = {
    {"status, address byte alone then the rest", {{M, {0x05}}, {S, {0xA1, 0xA6}}},
     with_checksum({0x05, 0x01, 0x01, 0x00})},
    {"read memory", {{M, {0x12}}, {S, {0xC1, 0x02, 0x03, 0xD8}}}, with_checksum({0x20, 0x27, 0x2E})},
    {"a whole frame under MARK", {{M, {0x05, 0xA1, 0xA6}}}, with_checksum({0x05, 0x01, 0x01, 0x00})},
    {"another address", {{M, {0x09}}, {S, {0xA1, 0xAA}}}, {}},
    {"a wrong frame checksum", {{M, {0x05}}, {S, {0xA1, 0xA7}}}, {}},
    {"an unknown command, then a known one",
     {{M, {0x05}}, {S, {0x77, 0x7C}}, {M, {0x05}}, {S, {0xA1, 0xA6}}}, with_checksum({0x05, 0x01, 0x01, 0x00})},
    {"half a frame, silence, then a whole frame",
     {{M, {0x05}}, {S, {0xC1, 0x00}, 300000}, {M, {0x05}}, {S, {0xA1, 0xA6}}},
     with_checksum({0x05, 0x01, 0x01, 0x00})},
    {"on-line query, both phases",
     {{M, {0x31}}, {S, {0xA0, 0x00, 0x00, 0xD1}}, {M, {0x00}}, {S, with_checksum({0xB4, 0x6B, 0x01})}},
     concat(kQuery31, with_checksum({0x00, 0x31, 0x02, 0x05, 0x00}))},
    {"on-line confirmation with another token",
     {{M, {0x31}}, {S, {0xA0, 0x00, 0x00, 0xD1}}, {M, {0x00}}, {S, with_checksum({0xB4, 0x6B, 0x02})}}, kQuery31},
    {"write memory, acknowledged",
     {{M, {0x05}}, {S, {0xB1, 0x10, 0x02, 0xC8}}, {S, with_checksum({0xAA, 0xBB})}}, {0x02, 0x4F},
     [](const sim::DemoBus& demo) {
       EXPECT_EQ(demo.terminal(0x05)->memory()[0x10], 0xAA);
       EXPECT_EQ(demo.terminal(0x05)->memory()[0x11], 0xBB);
     }},
    {"write memory with a bad block checksum, refused",
     {{M, {0x05}}, {S, {0xB1, 0x10, 0x02, 0xC8}}, {S, {0xAA, 0xBB, 0x00}}}, {0x02, 0x4E},
     [](const sim::DemoBus& demo) { EXPECT_EQ(demo.terminal(0x05)->memory()[0x10], 0x10 * 7 + 0x05); }},
    {"write memory unconfirmed", {{M, {0x05}}, {S, {0xB5, 0x00, 0x01, 0xBB}}, {S, {0x42, 0x42}}}, {},
     [](const sim::DemoBus& demo) { EXPECT_EQ(demo.terminal(0x05)->memory()[0x00], 0x42); }},
    {"parameter record of 10 bytes",
     {{M, {0x12}}, {S, {0xC5, 0xD7}}, {S, with_checksum({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})}}, {0x02, 0x4F},
     [](const sim::DemoBus& demo) { EXPECT_EQ(demo.terminal(0x12)->parameters()[9], 10); }},
    {"blacklist, single card 9",
     {{M, {0x05}}, {S, {0xA5, 0x00, 0x00, 0xAA}}, {S, with_checksum({0, 0, 0x01, 0x00, 0x00, 0x01, 0x01})}},
     {0x02, 0x4F},
     [](const sim::DemoBus& demo) {
       EXPECT_TRUE(demo.terminal(0x05)->card_barred(9));
       EXPECT_FALSE(demo.terminal(0x05)->card_barred(8));
     }},
    {"blacklist bitmap of cards 1, 2, 3, 9, 17",
     {{M, {0x05}}, {S, {0xA5, 0x00, 0x00, 0xAA}}, {S, with_checksum({0, 0, 0x03, 0x00, 0x00, 0x00, 0x07, 0x01, 0x01})}},
     {0x02, 0x4F},
     [](const sim::DemoBus& demo) {
       const sim::DemoTerminal& t = *demo.terminal(0x05);
       for (const std::uint32_t card : {1u, 2u, 3u, 9u, 17u}) EXPECT_TRUE(t.card_barred(card)) << card;
       for (const std::uint32_t card : {0u, 4u, 10u, 18u, 24u}) EXPECT_FALSE(t.card_barred(card)) << card;
       EXPECT_EQ(t.blacklist_bitmap().size(), 3u);
     }},
};

Bytes run(sim::DemoBus& demo, const std::vector<Segment>& segments) {
  sim::SimBus& bus = demo.bus;
  const line::Handle h = bus.open(sim::kDemoPort, line::TimeoutSet::Standard);
  for (const Segment& s : segments) {
    bus.set_line(h, {s.parity, line::StopBits::One, 9600});
    EXPECT_EQ(bus.write(h, s.bytes.data(), static_cast<std::uint32_t>(s.bytes.size())), s.bytes.size());
    bus.advance(s.bytes.size() * 1146 + s.silence_after_us);
  }
  bus.advance(100000);
  bus.close(h);
  Bytes answer;
  for (const trace::WireByte& b : bus.received(sim::kDemoPort)) answer.push_back(b.value);
  return answer;
}

TEST(DemoTerminal, AnswersTheFramesOfEveryFamily) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::DemoBus demo;
    EXPECT_EQ(run(demo, c.segments), c.answer);
    if (c.check) c.check(demo);
  }
}

TEST(DemoTerminal, IdentityRecordIsWhatTheQueryCollects) {
  const sim::DemoTerminal terminal(0x31);
  const std::array<std::uint8_t, 7> expected{0x31, 0x02, 0x05, 0x10, 0x00, 0x00, 0x31};
  EXPECT_EQ(terminal.identity(), expected);
}

TEST(DemoTerminal, KeepsTheParityOfEveryByteOfAFrameHeard) {
  sim::DemoBus demo;
  run(demo, {{M, {0x05}}, {S, {0xA1, 0xA6}}});
  const auto& frames = demo.terminal(0x05)->frames();
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].size(), 3u);
  EXPECT_EQ(frames[0][0].parity_bit(), 1);
  EXPECT_EQ(frames[0][1].parity_bit(), 0);
  EXPECT_EQ(frames[0][2].parity_bit(), 0);
}

}  // namespace
}  // namespace tarvex::testing
