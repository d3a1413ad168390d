// `tarvex online` and `tarvex scan` against the demo terminals.
#include <gtest/gtest.h>

#include "tool_run.h"

namespace tarvex::testing {
namespace {

TEST(OnlineCommand, BothMembersCollectTheIdentityRecord) {
  struct Case {
    std::vector<std::string> args;
    const char* member;
    const char* identity;
  };
  const Case cases[] = {
      {{"online", "05"}, "onNet", "05 02 05 10 00 00 05"},
      {{"online", "0x31", "--member", "handle", "--baud", "19200"}, "HANDLE_OnNet", "31 02 05 10 00 00 31"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--trace"});
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(json_field(run.out, "member"), std::string("\"") + c.member + "\"");
    EXPECT_EQ(json_field(run.out, "identity"), std::string("\"") + c.identity + "\"");
    EXPECT_TRUE(run.shows("tx     M 1 ")) << "the confirmation goes to address 00 under MARK";
    EXPECT_TRUE(run.shows("  00  (")) << run.out;
  }
}

TEST(ScanCommand, ListsEveryTerminalThatAnswered) {
  const ToolRun run = run_tool({"scan"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.shows("addresses: 01-FF\nanswered:  3\n")) << run.out;
  EXPECT_TRUE(run.shows("address  result  identity\n"
                        "05       0       05 02 05 10 00 00 05\n"
                        "12       0       12 02 05 10 00 00 12\n"
                        "31       0       31 02 05 10 00 00 31\n"))
      << run.out;
  EXPECT_EQ(run.err, tool::kSimulatedBusNote) << "no progress line unless standard error is a terminal";
}

TEST(ScanCommand, RangesAndTheirResults) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* terminals;  // the JSON array, or "" when nobody answered
  };
  const Case cases[] = {
      {{"scan", "10", "20"}, 0,
       R"([{"address": "12", "result": 0, "meaning": "success", "identity": "12 02 05 10 00 00 12"}])"},
      {{"scan", "31", "31", "--member", "handle"}, 0,
       R"([{"address": "31", "result": 0, "meaning": "success", "identity": "31 02 05 10 00 00 31"}])"},
      {{"scan", "40", "50"}, 3, ""},
      {{"scan", "01", "20", "--port", "/dev/ttyNOSUCH", "--trace"}, 2, ""},  // one open, then the reason
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out.find("  open  "), run.out.rfind("  open  ")) << "at most one open: " << run.out;
    const auto at = run.out.find("\"terminals\": ");
    if (*c.terminals) {
      ASSERT_NE(at, std::string::npos) << run.out;
      EXPECT_EQ(run.out.substr(at + 13, std::string(c.terminals).size()), c.terminals);
    } else {
      EXPECT_EQ(at, std::string::npos) << run.out;
    }
  }
}

TEST(ScanCommand, DrawsProgressOnATerminalAndClearsIt) {
  const ToolRun run = run_tool({"scan", "01", "06"}, "", true);
  EXPECT_TRUE(run.complains("\rscan: 01 of 01-06, 0 answered")) << run.err;
  EXPECT_TRUE(run.complains("\rscan: 06 of 01-06, 1 answered")) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - 4), "\r\033[K");
}

}  // namespace
}  // namespace tarvex::testing
