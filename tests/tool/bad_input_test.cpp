// Bad input gets one line that says what to fix, and a usage status; help
// explains each command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "sample_log.h"
#include "tool_run.h"

namespace tarvex::testing {
namespace {

struct BadCase {
  std::vector<std::string> args;
  int status;
  const char* says;
};

const std::string kLog = ::testing::TempDir() + "tarvex_bad_input.log";
const std::string kNotALog = ::testing::TempDir() + "tarvex_not_a.log";

const BadCase kCases[] = {
    {{}, 64, "name a command: get"},
    {{"nosuch"}, 64, "'nosuch' is no command; choose one of get"},
    {{"get", "05C", "8"}, 64, "FRAME: an odd number of hex digits"},
    {{"get", "0 5C2", "8"}, 64, "FRAME: a lone hex digit"},
    {{"get", "05G2", "8"}, 64, "FRAME: 'G' at position 3 is not a hex digit"},
    {{"get", "", "8"}, 64, "FRAME: empty"},
    {{"get", "05C2", "eight"}, 64, "LENGTH: 'eight' is not a decimal number"},
    {{"get", "05C2", "-1"}, 64, "LENGTH: '-1' is not a decimal number"},
    {{"get", "05C2", "4097"}, 64, "LENGTH: 4097 does not fit; at most 4096"},
    {{"get", "05C2", "99999999999999999999999"}, 64, "does not fit"},
    {{"get", "09C2", "8"}, 64, "no terminal at address 09 on the simulated bus; its terminals are at 05, 12, 31"},
    {{"get", "05C2", "8", "--member", "zz"}, 64, "choose plain, n, dx, held, handle"},
    {{"get", "05C2", "8", "--baud", "19200"}, 64, "--baud: getdata runs at 9600 baud"},
    {{"get", "05C2", "8", "--member", "dx", "--limit", "5"}, 64, "--limit: dxGetdata has limits of its own"},
    {{"get", "05C2", "8", "--member", "n", "--limit", "1e3"}, 64, "--limit: '1e3' is not a decimal number"},
    {{"get", "05C2"}, 64, "LENGTH is required"},
    {{"get", "05C2", "8", "--bogus"}, 64, "--bogus"},
    {{"get", "05C2", "8", "--diagram", "/nonexistent/dir/x.svg"}, 73, "cannot write the diagram"},
    {{"demo", "--port", "/dev/null"}, 64, "drop --port"},
    {{"get", "05C2", "8", "--legacy", "--member", "dx"}, 64, "--legacy: the legacy build has getdata only"},
    {{"send", "05B1", "AA", "--legacy", "--member", "n"}, 64, "--legacy: the legacy build has senddata only"},
    {{"send", "05B1", "AAB"}, 64, "BLOCK: an odd number of hex digits"},
    {{"send", "09B1", "AA"}, 64, "no terminal at address 09"},
    {{"online", "100"}, 64, "ADDRESS: '100' does not fit in a byte"},
    {{"online", "07"}, 64, "no terminal at address 07"},
    {{"online", "05", "--baud", "4800"}, 64, "--baud: onNet runs at 9600 baud"},
    {{"scan", "20", "10"}, 64, "FROM 20 is above TO 10; swap them"},
    {{"blacklist", "05", "-", "--command", "A6"}, 64, "--command belongs to --member s"},
    {{"log", "/nonexistent/tarvex.log"}, 66, "FILE: cannot read /nonexistent/tarvex.log"},
    {{"log", kNotALog}, 64, "holds no whole block of an exchange log (line 1: a line outside any block)"},
    {{"log", kLog, "--call", "2"}, 64, "--call 2: the log has 1 call(s); choose 1 to 1"},
    {{"log", kLog, "--call", "0"}, 64, "--call 0: the log has 1 call(s)"},
    {{"log", kLog, "--port", "/dev/null"}, 64, "drop --port"},
};

TEST(BadInput, GetsOneLineThatSaysWhatToFix) {
  write_sample_log(kLog);
  std::ofstream(kNotALog) << "not a log\n";
  for (const BadCase& c : kCases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const ToolRun run = run_tool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.complains(c.says)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  std::remove(kLog.c_str());
  std::remove(kNotALog.c_str());
}

TEST(Help, EveryCommandExplainsItself) {
  const ToolRun top = run_tool({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_TRUE(top.shows("simulated bus")) << top.out;
  EXPECT_TRUE(top.shows("Exit status")) << top.out;
  for (const char* command : {"get", "send", "get-hex", "send-hex", "blacklist", "online", "scan", "lock", "codec", "terminal", "demo", "log"}) {
    SCOPED_TRACE(command);
    EXPECT_TRUE(top.shows(std::string("  ") + command)) << top.out;
    const ToolRun run = run_tool({command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.shows(std::string("Usage: tarvex ") + command)) << run.out;
  }
  EXPECT_TRUE(run_tool({"get", "--help"}).shows("HANDLE_GetData"));
}

}  // namespace
}  // namespace tarvex::testing
