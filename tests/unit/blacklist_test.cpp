// The blacklist block and its download on the simulated bus.
#include "exchange/blacklist.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "exchange/blacklist_block.h"
#include "line/held_port.h"
#include "line/primitives.h"
#include "scratch_ledger.h"
#include "sim_fixture.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
using line::TimeoutSet;

// Card numbers as the host lays them out: three bytes each.
Bytes entries(const std::vector<std::uint32_t>& cards) {
  Bytes list;
  for (const std::uint32_t card : cards) {
    list.push_back(static_cast<std::uint8_t>(card >> 16));
    list.push_back(static_cast<std::uint8_t>(card >> 8));
    list.push_back(static_cast<std::uint8_t>(card));
  }
  return list;
}

std::string as_hex_text(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

Bytes build(const std::vector<std::uint32_t>& cards) {
  const Bytes list = entries(cards);
  ex::BlacklistBuffer block{};
  const std::size_t length =
      ex::build_blacklist_block(list.data(), static_cast<std::int32_t>(cards.size()), block);
  return Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(BlacklistBlock, WorkedBlocks) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> cards;
    Bytes block;  // the checksum last
  };
  const Case cases[] = {
      // One card: page, offset, mask.
      {"card 1", {1}, {0, 0, 0x01, 0, 0x00, 0x00, 0x01, 0x02}},
      {"card 8", {8}, {0, 0, 0x01, 0, 0x00, 0x00, 0x80, 0x81}},
      {"card 9", {9}, {0, 0, 0x01, 0, 0x00, 0x01, 0x01, 0x03}},
      {"card 1024: offset 127 after the borrow", {1024}, {0, 0, 0x01, 0, 0x00, 0x7F, 0x80, 0x00}},
      {"card 1025: offset 128, not page 1", {1025}, {0, 0, 0x01, 0, 0x00, 0x80, 0x01, 0x82}},
      {"card 1032", {1032}, {0, 0, 0x01, 0, 0x01, 0x00, 0x80, 0x82}},
      {"card 130000", {130000}, {0, 0, 0x01, 0, 0x7E, 0x79, 0x80, 0x78}},
      {"card 131071: no cap for one card", {131071}, {0, 0, 0x01, 0, 0x7F, 0x7F, 0x40, 0x3F}},
      {"card 0", {0}, {0, 0, 0x01, 0, 0x00, 0xFF, 0x80, 0x80}},
      // Bitmaps: bit j of byte m is card 8m + j + 1.
      {"1 2 3 9 17", {1, 2, 3, 9, 17}, {0, 0, 0x03, 0, 0, 0, 0x07, 0x01, 0x01, 0x0C}},
      {"3 5", {3, 5}, {0, 0, 0x01, 0, 0, 0, 0x14, 0x15}},
      {"1 2", {1, 2}, {0, 0, 0x01, 0, 0, 0, 0x03, 0x04}},
      {"5 5 9: a duplicate is never matched, nor anything after it",
       {5, 5, 9},
       {0, 0, 0x02, 0, 0, 0, 0x10, 0x00, 0x12}},
      {"0 3: a first entry 0 is never matched", {0, 3}, {0, 0, 0x01, 0, 0, 0, 0x00, 0x01}},
      {"3 0: last entry 0 makes no bitmap", {3, 0}, {0, 0, 0x00, 0, 0, 0, 0x00}},
      {"22 20: an entry out of order is marked when in range",
       {22, 20},
       {0, 0, 0x03, 0, 0, 0, 0x00, 0x00, 0x20, 0x23}},
      {"3 40 10: the walk ends on an entry past its range",
       {3, 40, 10},
       {0, 0, 0x02, 0, 0, 0, 0x04, 0x00, 0x06}},
      {"5 131000: a card above the cap is not represented", {5, 131000}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes block = build(c.cards);
    if (c.block.empty()) {
      ASSERT_EQ(block.size(), 16257u);
      EXPECT_EQ(block[6], 0x10);
      EXPECT_EQ(std::count(block.begin() + 7, block.end() - 1, 0), 16249);
    } else {
      EXPECT_EQ(block, c.block);
    }
  }
}

// For every card number the single-card form names the same bit as the
// bitmap: byte 128 * page + offset = (n - 1) / 8, mask 1 << ((n - 1) % 8).
TEST(BlacklistBlock, SingleCardNamesTheBitmapBitOfEveryCard) {
  ex::BlacklistBuffer block{};
  for (std::uint32_t card = 1; card <= 131071; ++card) {
    const Bytes list = entries({card});
    ASSERT_EQ(ex::build_blacklist_block(list.data(), 1, block), 8u);
    ASSERT_EQ(128u * block[4] + block[5], (card - 1) / 8) << card;
    ASSERT_EQ(block[6], 1u << ((card - 1) % 8)) << card;
  }
}

// A full ascending list: every card up to the cap is marked where it
// belongs, and the block with its checksum is the largest there is.
TEST(BlacklistBlock, BitmapOfALongListStopsAtTheCap) {
  std::vector<std::uint32_t> cards;
  for (std::uint32_t card = 7; card <= 131000; card += 7) cards.push_back(card);
  const Bytes block = build(cards);
  ASSERT_EQ(block.size(), 16257u);
  EXPECT_EQ(block[2] + 256u * block[3], 16250u);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < block.size(); ++i)
    sum = static_cast<std::uint8_t>(sum + block[i]);
  EXPECT_EQ(block.back(), sum);
  for (std::uint32_t card = 1; card <= 130000; ++card) {
    const unsigned byte = block[6 + (card - 1) / 8];
    const bool marked = ((byte >> ((card - 1) % 8)) & 1u) != 0;
    ASSERT_EQ(marked, card % 7 == 0) << card;
  }
}

// The walk as the terminal's format describes it, one running card number
// at a time: the builder checks dense runs eight entries at once, and must
// give the same bitmap for every list, in order or not.
Bytes walked_bitmap(const Bytes& list, std::size_t count) {
  const std::uint32_t max = std::min(ex::card_number(&list[3 * (count - 1)]), 130000u);
  Bytes bitmap;
  if (max == 0) return bitmap;
  std::uint32_t running = 1;
  std::size_t current = 0;
  do {
    std::uint8_t bits = 0;
    for (unsigned j = 0; j < 8; ++j, ++running) {
      if (current < count && running == ex::card_number(&list[3 * current])) {
        bits = static_cast<std::uint8_t>(bits | 1u << j);
        ++current;
      }
    }
    bitmap.push_back(bits);
  } while (running <= max);
  return bitmap;
}

// Appends every card from `from` to `to`.
void dense(std::vector<std::uint32_t>& cards, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t card = from; card <= to; ++card) cards.push_back(card);
}

TEST(BlacklistBlock, BitmapMatchesTheCardByCardWalk) {
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint32_t>&)> make;
  };
  const Case cases[] = {
      {"every card to the cap", [](auto& cards) { dense(cards, 1, 130000); }},
      {"every card past the cap", [](auto& cards) { dense(cards, 1, 131071); }},
      {"a dense run starting off a byte boundary", [](auto& cards) { dense(cards, 5, 300); }},
      {"a dense run across bit 16", [](auto& cards) { dense(cards, 65000, 66100); }},
      {"a duplicate inside a run of eight",
       [](auto& cards) {
         dense(cards, 1, 20);
         cards.push_back(20);
         dense(cards, 21, 80);
       }},
      {"a step down inside a run",
       [](auto& cards) {
         dense(cards, 1, 19);
         cards.push_back(12);
         dense(cards, 20, 80);
       }},
      {"a gap of one card inside a run",
       [](auto& cards) {
         dense(cards, 1, 36);
         dense(cards, 38, 120);
       }},
      {"an entry 65536 above its place inside a run",
       [](auto& cards) {
         dense(cards, 1, 19);
         cards.push_back(20 + 65536);
         dense(cards, 21, 80);
       }},
      {"a first entry of 0 before a dense run",
       [](auto& cards) {
         cards.push_back(0);
         dense(cards, 1, 64);
       }},
      {"a run that reaches past the last entry's range",
       [](auto& cards) {
         dense(cards, 1, 40);
         cards.push_back(33);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint32_t> cards;
    c.make(cards);
    const Bytes block = build(cards);
    const Bytes expected = walked_bitmap(entries(cards), cards.size());
    ASSERT_EQ(block.size(), expected.size() + 7);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin() + 6));
  }

  // Dense runs broken at random places, bits 1 to 7 of the first entry byte
  // set at random (no part of the number), and now and then bit 0 (card
  // number bit 16), from a fixed seed.
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint32_t> cards;
    std::uint32_t card = next() % 16;
    const std::size_t count = 2 + next() % 120;
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t roll = next() % 64;
      card = roll == 0 ? card - next() % 4 : roll == 1 ? card + 2 + next() % 9 : card + 1;
      cards.push_back(card & 0x1FFFFu);
    }
    Bytes list = entries(cards);
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t roll = next() % 64;
      if (roll < 8) list[3 * k] = static_cast<std::uint8_t>(list[3 * k] | (next() & 0xFEu));
      if (roll == 8) list[3 * k] = static_cast<std::uint8_t>(list[3 * k] ^ 0x01u);
    }
    ex::BlacklistBuffer block{};
    const std::size_t length =
        ex::build_blacklist_block(list.data(), static_cast<std::int32_t>(count), block);
    const Bytes expected = walked_bitmap(list, count);
    ASSERT_EQ(length, expected.size() + 7) << "round " << round;
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), block.begin() + 6)) << "round " << round;
  }
}

// ---- The download --------------------------------------------------------

// One member, called the way a host calls it, for the terminal at 0x05.
struct Member {
  const char* name;
  std::function<Result(sim::SimBus&, std::int32_t, const Bytes&)> call;
};

const Member kMembers[] = {
    {"sendBlack",
     [](sim::SimBus& bus, std::int32_t count, const Bytes& list) {
       return ex::sendBlack(bus, 0x05, count, list.data(), SimRig::kPort);
     }},
    {"sendBlack_hex",
     [](sim::SimBus& bus, std::int32_t count, const Bytes& list) {
       return ex::sendBlack_hex(bus, 0x05, count, as_hex_text(list).c_str(), SimRig::kPort);
     }},
    {"sSendBlack",
     [](sim::SimBus& bus, std::int32_t count, const Bytes& list) {
       return ex::sSendBlack(bus, 0x05, 0xA5, count, list.data(), SimRig::kPort);
     }},
};

class BlacklistTest : public SimTest {
 protected:
  Result run(const Member& member, const std::vector<std::uint32_t>& cards) {
    const Result result =
        member.call(bus(), static_cast<std::int32_t>(cards.size()), entries(cards));
    EXPECT_EQ(bus().open_handles(), 0u) << "every port opened is released";
    bus().advance(50'000);
    return result;
  }

};
TARVEX_SIM_TEST_SUITE(BlacklistTest);

TEST_P(BlacklistTest, EachMemberSendsTheSameFrameAndBlock) {
  for (const Member& member : kMembers) {
    SCOPED_TRACE(member.name);
    fresh();
    terminal().then(5 + 8, {0x02, 0x4F});
    EXPECT_EQ(run(member, {3, 5}), kOk);
    EXPECT_EQ(wire(), "M05 SA5 S00 S00 SAA S00 S00 S01 S00 S00 S00 S14 S15");
    EXPECT_EQ(opens(), "SR");
    EXPECT_EQ(bus().timeouts(kPort), TimeoutSet::Reopen);
    const auto open = events<trace::Open>();
    const auto writes = events<trace::Write>();
    ASSERT_EQ(writes.size(), 3u) << "address byte, four frame bytes, the block in one write";
    EXPECT_EQ(writes[0].handle, open[0].handle);
    EXPECT_EQ(writes[1].handle, open[1].handle);
    EXPECT_EQ(writes[2].asked, 8u);
    EXPECT_TRUE(busy_waits_ms().empty()) << "no busy wait anywhere";
    EXPECT_EQ(bus().hazards(), 0u);
    EXPECT_EQ(events<trace::Close>().at(0).time_us, bus().sent(kPort).at(0).end_us)
        << "the re-open waits exactly for the address byte to leave the line";
  }
}

// The hex-text list decodes with the block-text digit rule (0x80 to 0xFF
// count above 'A') into entries whose byte 0 gives only its bit 0.
TEST_P(BlacklistTest, HexTextListEqualsTheByteList) {
  struct Case {
    const char* text;
    std::int32_t count;
    std::vector<std::uint32_t> cards;
  };
  const Case cases[] = {{"000001000002", 2, {1, 2}},
                        {"00000a", 1, {10}},
                        {"00000\xC1", 1, {0x8A}},
                        {"FE0001FF0003", 2, {1, 0x10003}},
                        {"0000010000030000090000110000FF", 5, {1, 3, 9, 17, 255}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fresh();
    EXPECT_EQ(ex::sendBlack_hex(bus(), 0x05, c.count, c.text, kPort), kReplyIncomplete);
    bus().advance(50'000);
    const std::string hex_wire = wire();
    fresh();
    const Bytes list = entries(c.cards);
    EXPECT_EQ(ex::sendBlack(bus(), 0x05, c.count, list.data(), kPort), kReplyIncomplete);
    bus().advance(50'000);
    EXPECT_EQ(wire(), hex_wire);
  }
}

TEST_P(BlacklistTest, SSendBlackPutsTheHighAddressByteOutsideTheCheckByte) {
  terminal().then(5 + 8, {0x02, 0x4F});
  const Bytes list = entries({1});
  EXPECT_EQ(ex::sSendBlack(bus(), 0x0112, 0xA5, 1, list.data(), kPort), kOk);
  bus().advance(50'000);
  EXPECT_TRUE(wire().starts_with("M12 SA5 S01 S00 SB7 ")) << wire();

  fresh();
  terminal().then(5 + 8, {0x02, 0x4F});
  EXPECT_EQ(ex::sSendBlack(bus(), 0x7F3A, 0x1C4, 1, list.data(), kPort), kOk);
  bus().advance(50'000);
  EXPECT_TRUE(wire().starts_with("M3A SC4 S7F S00 SFE ")) << wire();
}

TEST_P(BlacklistTest, FailuresGiveTheirCodes) {
  struct Case {
    const char* name;
    std::function<void(sim::SimBus&, sim::ScriptedTerminal&)> arrange;
    Result result;
    const char* opens;
  };
  const Case cases[] = {
      {"acknowledgement 02 4E",
       [](sim::SimBus&, sim::ScriptedTerminal& t) {
         t.then(13, {0x02, 0x4E});
       },
       kReplyWrong, "SR"},
      {"acknowledgement 00 4F",
       [](sim::SimBus&, sim::ScriptedTerminal& t) {
         t.then(13, {0x00, 0x4F});
       },
       kReplyWrong, "SR"},
      {"one byte of acknowledgement",
       [](sim::SimBus&, sim::ScriptedTerminal& t) { t.then(13, {0x02}); }, kReplyIncomplete, "SR"},
      {"silent terminal", [](sim::SimBus&, sim::ScriptedTerminal&) {}, kReplyIncomplete, "SR"},
      {"address byte not taken",
       [](sim::SimBus& b, sim::ScriptedTerminal&) { b.faults().short_write_at = 0; }, kFrameNotSent,
       "S"},
      {"frame bytes short",
       [](sim::SimBus& b, sim::ScriptedTerminal&) {
         b.faults().short_write_at = 1;
         b.faults().short_write_takes = 3;
       },
       kFrameNotSent, "SR"},
      {"output never drains",
       [](sim::SimBus& b, sim::ScriptedTerminal&) { b.faults().queue_never_drains = true; },
       kFrameNotSent, "SR"},
      {"block short",
       [](sim::SimBus& b, sim::ScriptedTerminal&) {
         b.faults().short_write_at = 2;
         b.faults().short_write_takes = 7;
       },
       kReplyIncomplete, "SR"},
  };
  for (const Member& member : kMembers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(member.name) + ": " + c.name);
      fresh();
      c.arrange(bus(), terminal());
      EXPECT_EQ(run(member, {3, 5}), c.result);
      EXPECT_EQ(opens(), c.opens);
      EXPECT_TRUE(events<trace::Write>().size() <= 3u);
    }
  }
}

TEST_P(BlacklistTest, EachMemberWaitsTheSameLimits) {
  struct Case {
    bool stuck_queue;
    Bytes answer;
    std::uint32_t limit;
  };
  const Case cases[] = {{true, {}, 4500}, {false, {}, 4550}, {false, {0x02}, 4550}};
  for (const Member& member : kMembers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(member.name) + (c.stuck_queue ? ": drain"
                   : ": acknowledgement byte " + std::to_string(c.answer.size())));
      fresh();
      bus().faults().queue_never_drains = c.stuck_queue;
      if (!c.answer.empty()) terminal().then(13, c.answer);
      EXPECT_EQ(run(member, {3, 5}), c.stuck_queue ? kFrameNotSent : kReplyIncomplete);
      const auto polls = polled(c.stuck_queue);
      ASSERT_FALSE(polls.empty());
      const std::uint64_t waited_ms = polls.back().end_us / 1000 - polls.front().time_us / 1000;
      EXPECT_GT(waited_ms, c.limit);
      EXPECT_LE(waited_ms, c.limit + (c.stuck_queue ? 1 : 16));
    }
  }
}

TEST_P(BlacklistTest, HexTextScratchAreaIsTakenOnceAndGivenBackOnEveryPath) {
  struct Case {
    const char* name;
    std::function<void(sim::SimBus&, sim::ScriptedTerminal&)> arrange;
    Result result;
  };
  const Case cases[] = {
      {"acknowledged",
       [](sim::SimBus&, sim::ScriptedTerminal& t) {
         t.then(13, {0x02, 0x4F});
       },
       kOk},
      {"silent", [](sim::SimBus&, sim::ScriptedTerminal&) {}, kReplyIncomplete},
      {"address byte not taken",
       [](sim::SimBus& b, sim::ScriptedTerminal&) { b.faults().short_write_at = 0; },
       kFrameNotSent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    c.arrange(bus(), terminal());
    ScratchLedger ledger;
    EXPECT_EQ(ex::sendBlack_hex(bus(), 5, 2, "000003000005", kPort, ledger.source()), c.result);
    EXPECT_EQ(ledger.sizes, std::vector<std::size_t>{6}) << "3 bytes per entry";
    EXPECT_TRUE(ledger.balanced());
    EXPECT_EQ(bus().open_handles(), 0u);
  }

  fresh();
  ScratchLedger refusing = ScratchLedger::refusing();
  EXPECT_EQ(ex::sendBlack_hex(bus(), 5, 2, "000003000005", kPort, refusing.source()),
            kFrameNotSent);
  EXPECT_TRUE(bus().trace().empty()) << "refused before any port is opened";
}

TEST_P(BlacklistTest, PortInUseGivesTwo) {
  const line::Handle blocker = line::com_init(bus(), kPort, 9600);
  const Bytes list = entries({3, 5});
  EXPECT_EQ(ex::sendBlack(bus(), 5, 2, list.data(), kPort), kFrameNotSent);
  EXPECT_EQ(bus().open_handles(), 1u);
  line::com_exit(bus(), blocker);
}

// The largest block goes out in one write of 16257 bytes, and the
// acknowledgement limit counts from when that write returns, as the last
// byte goes out: a terminal may answer 4 s after hearing all of it.
TEST_P(BlacklistTest, ListAboveTheCapGoesOutInOneWriteOfTheLargestBlock) {
  std::vector<std::uint32_t> cards;
  for (std::uint32_t card = 100; card <= 131000; card += 100) cards.push_back(card);
  const Bytes list = entries(cards);
  const auto count = static_cast<std::int32_t>(cards.size());
  terminal().then(5 + 16257, {0x02, 0x4F}, 4'000'000);  // answers 4 s after the block
  EXPECT_EQ(ex::sendBlack(bus(), 0x05, count, list.data(), kPort), kOk);
  EXPECT_EQ(bus().open_handles(), 0u);
  const auto writes = events<trace::Write>();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[2].asked, 16257u);
  EXPECT_EQ(writes[2].taken, 16257u);
  const auto sent = bus().sent(kPort);
  ASSERT_EQ(sent.size(), 5u + 16257u);
  EXPECT_GT(sent.back().end_us - sent[5].start_us, 18'600'000u);
}

}  // namespace
}  // namespace tarvex::testing
