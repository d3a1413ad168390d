// `tarvex get-hex` and `tarvex send-hex` against the demo terminals.
#include <gtest/gtest.h>

#include "tool_run.h"

namespace tarvex::testing {
namespace {

struct Case {
  std::vector<std::string> args;
  int status;
  const char* field;
  const char* value;
  const char* trace_shows;
};

const Case kCases[] = {
    {{"get-hex", "05c2", "8"}, 0, "reply_text", "20261208170005017D", "tx     S 1 9600  02 4F"},
    {{"get-hex", "05 A1", "4"}, 0, "reply_text", "0501010007", "open   SIM1 (re-open timeouts)"},
    // Nine bytes expected, eight and the checksum came: those stay in the text.
    {{"get-hex", "05C2", "9"}, 3, "reply_text", "20261208170005017D", "read   nothing for"},
    {{"send-hex", "05B11002", "AABB"}, 0, "block_text", "AABB", "tx     S 1 9600  AA BB 65"},
    // The library cuts a longer C5 block to its first ten bytes.
    {{"send-hex", "12C5", "0102030405060708090A0B0C"}, 0, "block_text", "0102030405060708090A0B0C",
     "tx     S 1 9600  01 02 03 04 05 06 07 08 09 0A 37"},
    // 0G is 0x10 to the library: a frame for the terminal at 0x10 - none, so
    // silence.
    {{"get-hex", "0G05", "1", "--lenient"}, 3, "frame_text", "0G05", "tx     M 1 9600  10  "},
};

TEST(HexCommands, SendTheTextAndShowTheReplyText) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--trace"});
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(json_field(run.out, c.field), std::string("\"") + c.value + "\"");
    EXPECT_TRUE(run.shows(c.trace_shows)) << run.out;
  }
}

TEST(HexCommands, RefuseTextThatDoesNotFit) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases{
      {{"get-hex", "05C", "8"}, "FRAME: an odd number of hex digits"},
      {{"get-hex", "0G05", "1"}, "FRAME: 'G' at position 2 is not a hex digit"},
      {{"get-hex", std::string(200, '0'), "1"}, "FRAME: 100 bytes is too long; at most 99"},
      {{"send-hex", "050102030405060708090A0B", "00"}, "FRAME: 12 bytes is too long; at most 11"},
      {{"send-hex", "12C5", "0102"}, "BLOCK: command C5 sends a block of 10 bytes; give at least 10"},
      {{"send-hex", "05B1", "AAB", "--lenient"}, "BLOCK: an odd number of characters"},
  };
  for (const auto& [args, says] : cases) {
    SCOPED_TRACE(says);
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(run.complains(says)) << run.err;
  }
}

}  // namespace
}  // namespace tarvex::testing
