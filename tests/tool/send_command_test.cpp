// `tarvex send` against the demo terminals of the simulated bus.
#include <gtest/gtest.h>

#include "tool_run.h"

namespace tarvex::testing {
namespace {

struct SendCase {
  std::vector<std::string> args;
  const char* member;
  const char* block;  // as sent, checksum included
  int result;
  const char* trace_shows;
};

const SendCase kCases[] = {
    {{"send", "05 B1 10 02", "AA BB"}, "senddata", "AA BB 65", 0, "tx     S 2 9600  AA BB 65"},
    {{"send", "05 B1 10 02", "AA BB", "--member", "n", "--baud", "19200", "--limit", "500"}, "nSendData",
     "AA BB 65", 0, "tx     S 1 19200  AA BB 65"},
    {{"send", "05 B1 10 02", "AA BB", "--member", "dx"}, "dxSenddata", "AA BB 65", 0,
     "tx     M 1 9600  AA BB 65"},
    {{"send", "05 B1 10 02", "AA BB", "--member", "held"}, "Nsend", "AA BB 65", 0,
     "tx     M 1 9600  05 B1 10 02 C8"},
    {{"send", "05 B1 10 02", "AA BB", "--member", "handle"}, "HANDLE_SendData", "AA BB 65", 0, "rx     02 4F"},
    // The demo terminals wake only to an address byte under MARK parity.
    {{"send", "05 B1 10 02", "AA BB", "--member", "uim", "--limit", "100"}, "sendDataUIM", "AA BB 65", 3,
     "tx     N 1 9600  05"},
    {{"send", "12 C5", "0102030405060708090A"}, "senddata", "01 02 03 04 05 06 07 08 09 0A 37", 0, "rx     02 4F"},
    // The frame announces three bytes: the terminal waits for the third.
    {{"send", "05 B1 10 03", "AA BB"}, "senddata", "AA BB 65", 3, "read   nothing for"},
    {{"send", "05 B5 00 01", "42"}, "senddata", "42 42", 0, "tx     S 2 9600  42 42"},
    // The legacy profile awaits an acknowledgement even for B5, which the
    // terminal never sends.
    {{"send", "05 B5 00 01", "42", "--legacy"}, "senddata (legacy build)", "42 42", 3, "open   SIM1 (re-open timeouts)"},
    {{"send", "05 B1 10 02", "AA BB", "--legacy"}, "senddata (legacy build)", "AA BB 65", 0, "rx     02 4F"},
    {{"send", "05 B1 00 00", ""}, "senddata", "", 0, "drain"},
};

TEST(SendCommand, EachMemberReportsItsExchange) {
  for (const SendCase& c : kCases) {
    SCOPED_TRACE(c.args[1] + " / " + c.args[2] + " " + c.member);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--trace"});
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.result) << run.err;
    EXPECT_EQ(json_field(run.out, "member"), std::string("\"") + c.member + "\"");
    EXPECT_EQ(json_field(run.out, "block"), std::string("\"") + c.block + "\"");
    EXPECT_EQ(json_field(run.out, "result"), std::to_string(c.result));
    EXPECT_TRUE(run.shows(c.trace_shows)) << run.out;
  }
}

TEST(SendCommand, AFixedBlockMustBeGivenWhole) {
  for (const char* block : {"0102", "0102030405060708090A0B"}) {
    const ToolRun run = run_tool({"send", "12C5", block});
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(run.complains("command C5 sends a block of exactly 10 bytes")) << run.err;
  }
  // Nsend takes the block as given.
  EXPECT_EQ(run_tool({"send", "12C5", "0102", "--member", "held"}).status, 0);
}

}  // namespace
}  // namespace tarvex::testing
