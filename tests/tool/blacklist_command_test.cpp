// Card lists from files, and `tarvex blacklist` against the demo terminals.
#include "tools/card_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tool_run.h"
#include "tools/exit_status.h"

namespace tarvex::testing {
namespace {

std::vector<std::uint32_t> every_card(std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint32_t> cards;
  for (std::uint32_t card = first; card <= last; ++card) cards.push_back(card);
  return cards;
}

struct ListCase {
  const char* text;
  std::vector<std::uint32_t> cards;  // empty: refused
  std::size_t duplicates;
  bool reordered;
  const char* complaint;
};

const ListCase kLists[] = {
    {"1\n2\n3\n", {1, 2, 3}, 0, false, ""},
    {"# barred\n\n 10 - 12 # lost\n5\n", {5, 10, 11, 12}, 0, true, ""},
    {"7\n7\n3-8\n", {3, 4, 5, 6, 7, 8}, 2, true, ""},
    {"131071\n", {131071}, 0, false, ""},  // one card may go past the bitmap
    {"\xEF\xBB\xBF" "7\n8\n", {7, 8}, 0, false, ""},  // a byte-order mark
    {"1-70000\n1-70000\n", every_card(1, 70000), 70000, true, ""},
    {"1\n130001\n", {}, 0, false, "card 130001 is above 130000"},
    {"0\n", {}, 0, false, "cards line 1: card 0 has no bit in a blacklist; card numbers run from 1 to 131071"},
    {"5\n12-9\n", {}, 0, false, "cards line 2: the range 12-9 runs backwards; write 9-12"},
    {"5\nfive\n", {}, 0, false, "cards line 2: 'five' is not a card number; card numbers run from 1 to 131071"},
    {"131072\n", {}, 0, false, "cards line 1: 131072 is no card number; card numbers run from 1 to 131071"},
    {"# nothing\n", {}, 0, false, "cards: no card numbers in it"},
    // Every bad line, in order of lines.
    {"x\n0\n3\n129999-130002\n9-2\n", {}, 0, false,
     "cards line 1: 'x' is not a card number; card numbers run from 1 to 131071\n"
     "cards line 2: card 0 has no bit in a blacklist; card numbers run from 1 to 131071\n"
     "cards line 4: card 130001 is above 130000, the highest card a blacklist bitmap holds (only a list of "
     "one card may go higher)\n"
     "cards line 5: the range 9-2 runs backwards; write 2-9"},
};

TEST(CardList, ReadsNumbersAndRanges) {
  for (const ListCase& c : kLists) {
    SCOPED_TRACE(c.text);
    std::istringstream in(c.text);
    if (c.cards.empty()) {
      try {
        tool::read_card_list(in, "cards");
        ADD_FAILURE() << "accepted";
      } catch (const tool::UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(c.complaint), std::string::npos) << e.what();
      }
      continue;
    }
    const tool::CardList list = tool::read_card_list(in, "cards");
    EXPECT_EQ(list.cards, c.cards);
    EXPECT_EQ(list.duplicates, c.duplicates);
    EXPECT_EQ(list.reordered, c.reordered);
  }
}

TEST(CardList, EntriesCarryBit16InTheirFirstByte) {
  EXPECT_EQ(tool::card_entries({1, 0x1ABCD}), (tool::Bytes{0x00, 0x00, 0x01, 0x01, 0xAB, 0xCD}));
}

class BlacklistCommand : public ::testing::Test {
 protected:
  std::string file(const std::string& text) {
    // Named after the test: ctest runs the tests of this fixture side by side.
    const std::string path = ::testing::TempDir() + "tarvex_cards_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                             std::to_string(files_++) + ".txt";
    std::ofstream(path) << text;
    paths_.push_back(path);
    return path;
  }
  ~BlacklistCommand() override {
    for (const std::string& p : paths_) std::filesystem::remove(p);
  }

 private:
  int files_ = 0;
  std::vector<std::string> paths_;
};

TEST_F(BlacklistCommand, ShowsTheBlockAndDownloadsIt) {
  struct Case {
    std::vector<std::string> extra;
    const char* cards;
    const char* form;
    const char* block;
    int status;
  };
  const Case cases[] = {
      {{}, "1\n2\n3\n9\n17\n", "bitmap of 3 bytes, cards 1 to 24", "00 00 03 00 00 00 07 01 01 0C", 0},
      {{}, "1025\n", "single card 1025: page 00, offset 80, mask 01", "00 00 01 00 00 80 01 82", 0},
      {{"--member", "hex"}, "1-2\n", "bitmap of 1 bytes, cards 1 to 8", "00 00 01 00 00 00 03 04", 0},
      {{"--member", "s"}, "3\n5\n", "bitmap of 1 bytes, cards 1 to 8", "00 00 01 00 00 00 14 15", 0},
      // The terminal takes no other command code, and a second address byte
      // spoils the frame's check: no acknowledgement comes.
      {{"--member", "s", "--command", "A6"}, "3\n", "single card 3: page 00, offset 00, mask 04",
       "00 00 01 00 00 00 04 05", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cards);
    std::vector<std::string> args{"blacklist", "05", file(c.cards), "--json"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(json_field(run.out, "form"), std::string("\"") + c.form + "\"");
    EXPECT_EQ(json_field(run.out, "block"), std::string("\"") + c.block + "\"");
    if (c.status == 0) {
      EXPECT_EQ(json_field(run.out, "barred"), json_field(run.out, "cards")) << "the terminal took every card";
    }
  }
}

TEST_F(BlacklistCommand, ALargeBlockIsConfirmedFirst) {
  std::string cards;
  for (int card = 1; card <= 9000; card += 2) cards += std::to_string(card) + "\n";
  const std::string path = file(cards);
  struct Case {
    std::vector<std::string> args;
    std::string input;
    bool interactive;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"blacklist", "12", path}, "", false, 64, "the block is 1132 bytes; pass --yes"},
      {{"blacklist", "12", path}, "n\n", true, 64, "not confirmed; nothing was sent"},
      {{"blacklist", "12", path}, "y\n", true, 0, "[y/N]"},
      {{"blacklist", "12", path, "--yes"}, "", false, 0, ""},
      {{"blacklist", "12", path, "--dry-run"}, "", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + (c.args.size() > 3 ? c.args[3] : ""));
    const ToolRun run = run_tool(c.args, c.input, c.interactive);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(run.complains(c.says)) << run.err;
    EXPECT_EQ(run.shows("port:"), c.status == 0 && c.args.back() != "--dry-run") << run.out;
  }
}

TEST_F(BlacklistCommand, ReadsStandardInputAndRefusesAMissingFile) {
  EXPECT_EQ(run_tool({"blacklist", "31", "-"}, "9\n").status, 0);
  const ToolRun missing = run_tool({"blacklist", "31", "/nonexistent/cards.txt"});
  EXPECT_EQ(missing.status, tool::kNoInput);
  EXPECT_TRUE(missing.complains("cannot read /nonexistent/cards.txt")) << missing.err;
}

}  // namespace
}  // namespace tarvex::testing
