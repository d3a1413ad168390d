// Bad input gets one line that says what to fix, and a usage status (with
// --json, one JSON object instead); help explains each command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>

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
    {{"--port", "get", "05C2", "8"}, 64, "--port needs a NAME; 'get' is a command"},
    {{"--port", "", "get", "05C2", "8"}, 64, "--port needs a NAME; an empty one names no port"},
    {{"get", "05C", "8"}, 64, "FRAME: an odd number of hex digits"},
    {{"get", "0 5C2", "8"}, 64, "FRAME: a lone hex digit"},
    {{"get", "05G2", "8"}, 64, "FRAME: 'G' at position 3 is not a hex digit"},
    {{"get", "", "8"}, 64, "FRAME: empty"},
    {{"get", "05C2", "eight"}, 64, "LENGTH: 'eight' is not a decimal number"},
    {{"get", "05C2", "-1"}, 64, "LENGTH: '-1' is not a decimal number"},
    {{"get", "05C2", "4097"}, 64, "LENGTH: 4097 does not fit; at most 4096"},
    {{"get", "05C2", "99999999999999999999999"}, 64, "does not fit"},
    // An address with no demo terminal meets silence, as on a real bus.
    {{"get", "09C2", "8"}, 3, "note: no terminal at address 09 on the simulated bus (its terminals are at 05, 12, 31)"},
    {{"get", "05C2", "8", "--member", "zz"}, 64, "choose plain, n, dx, held, handle"},
    {{"get", "05C2", "8", "--baud", "19200"}, 64, "--baud: getdata runs at 9600 baud"},
    {{"get", "05C2", "8", "--member", "dx", "--limit", "5"}, 64, "--limit: dxGetdata has limits of its own"},
    {{"get", "05C2", "8", "--member", "n", "--limit", "1e3"}, 64, "--limit: '1e3' is not a decimal number"},
    {{"get", "05C2"}, 64, "LENGTH is required"},
    {{"get", "05C2", "8", "--bogus"}, 64, "--bogus"},
    {{"get", "05C2", "8", "--diagram", "/nonexistent/dir/x.svg"}, 73, "its directory /nonexistent/dir does not exist"},
    {{"get", "05C2", "8", "--diagram", "/tmp"}, 73, "cannot write the diagram to /tmp: /tmp is a directory"},
    // Written after the exchange and failing all the same: the result stands.
    {{"get", "05C2", "7", "--diagram", "/dev/full"}, 4, "cannot write the diagram to /dev/full; the result above stands"},
    // Global options a command does not use.
    {{"demo", "--port", "/dev/null"}, 64, "drop --port"},
    {{"demo", "--trace"}, 64, "--trace: demo runs on its own simulated bus"},
    {{"terminal", "--diagram", "t.svg"}, 64, "--diagram: terminal makes its own port"},
    {{"--trace", "lock", "keylock", "123456"}, 64, "--trace: lock touches no port; drop --trace"},
    {{"codec", "ascc", "0A0B0C", "--port", "/dev/ttyS0"}, 64, "--port: codec touches no port"},
    {{"get", "05C2", "8", "--yes"}, 64, "--yes: get asks nothing (only blacklist confirms"},
    {{"-y", "online", "05"}, 64, "--yes: online asks nothing"},
    {{"get", "05C2", "8", "--legacy", "--member", "dx"}, 64, "--legacy: the legacy build has getdata only"},
    {{"send", "05B1", "AA", "--legacy", "--member", "n"}, 64, "--legacy: the legacy build has senddata only"},
    {{"send", "05B1", "AAB"}, 64, "BLOCK: an odd number of hex digits"},
    {{"send", "09B1", "AA"}, 3, "no terminal at address 09"},
    {{"online", "100"}, 64, "ADDRESS: '100' does not fit in a byte"},
    {{"online", "07"}, 3, "no terminal at address 07"},
    {{"online", "05", "--baud", "4800"}, 64, "--baud: onNet runs at 9600 baud"},
    {{"scan", "20", "10"}, 64, "FROM 20 is above TO 10; swap them"},
    {{"blacklist", "05", "-", "--command", "A6"}, 64, "--command belongs to --member s"},
    {{"blacklist", "05", "/tmp"}, 66, "FILE: /tmp is a directory"},
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
    // After the note that names the simulated bus, for what ran on it.
    const std::string said = run.err.substr(
        run.err.starts_with(tool::kSimulatedBusNote) ? sizeof tool::kSimulatedBusNote - 1 : 0);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << run.err;
    if (c.status < 64) continue;
    EXPECT_TRUE(run.out.empty()) << "refused before anything ran: " << run.out;
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolRun json = run_tool(args);
    EXPECT_EQ(json.status, c.status);
    EXPECT_EQ(json.out.rfind("{", 0), 0u) << json.out;
    EXPECT_NE(json_field(json.out, "error").find(c.says), std::string::npos) << json.out;
    EXPECT_EQ(json_field(json.out, "exit"), std::to_string(c.status)) << json.out;
    EXPECT_TRUE(json.err.empty()) << json.err;
  }
  std::remove(kLog.c_str());
  std::remove(kNotALog.c_str());
}

TEST(Help, EveryCommandExplainsItself) {
  const ToolRun top = run_tool({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_TRUE(top.shows("simulated bus")) << top.out;
  EXPECT_TRUE(top.shows("Exit status")) << top.out;
  // Each command's help: its typed values, and the global options it takes
  // (and none it refuses).
  struct Case {
    const char* command;
    std::vector<const char*> shows;
    std::vector<const char*> hides;
  };
  const Case cases[] = {
      {"get", {"FRAME HEX", "LENGTH UINT", "--baud UINT", "--limit MS", "HANDLE_GetData", "--port NAME",
               "--diagram FILE", "--json"}, {"--yes"}},
      {"send", {"BLOCK HEX", "--member NAME", "--trace"}, {"--yes"}},
      {"get-hex", {"LENGTH UINT", "--trace"}, {"--yes"}},
      {"send-hex", {"BLOCK HEX", "--port NAME"}, {"--yes"}},
      {"blacklist", {"ADDRESS HEX", "FILE FILE", "--high HEX", "-y,--yes", "--port NAME"}, {"--baud"}},
      {"online", {"ADDRESS HEX", "--baud UINT", "--diagram FILE"}, {"--yes"}},
      {"scan", {"FROM HEX", "--trace"}, {"--yes"}},
      {"lock", {"KIND NAME", "CODES HEX", "--json"}, {"--port", "--trace", "--diagram", "--yes"}},
      {"codec", {"--mode INT", "--json"}, {"--port", "--trace", "--diagram", "--yes"}},
      {"terminal", {"--seconds UINT"}, {"--port", "--trace", "--json", "--yes"}},
      {"demo", {"Usage: tarvex demo"}, {"--port", "--trace", "--json", "--yes"}},
      {"log", {"FILE", "--call", "--diagram FILE", "--json"}, {"--port", "--trace", "--yes"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_TRUE(top.shows(std::string("  ") + c.command)) << top.out;
    const ToolRun run = run_tool({c.command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.shows(std::string("Usage: tarvex ") + c.command)) << run.out;
    for (const char* text : c.shows) EXPECT_TRUE(run.shows(text)) << text << "\n" << run.out;
    for (const char* text : c.hides) EXPECT_FALSE(run.shows(text)) << text << "\n" << run.out;
  }
}

TEST(Help, VersionNamesBothBuildsOfTheLibrary) {
  const ToolRun text = run_tool({"--version"});
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(std::regex_match(text.out, std::regex("tarvex (\\d+\\.){3}\\d+ \\(the library's current build; "
                                                    "legacy build (\\d+\\.){3}\\d+\\)\n")))
      << text.out;
  const ToolRun json = run_tool({"get", "--version", "--json"});
  EXPECT_TRUE(std::regex_match(json.out, std::regex(R"(\{"version": "[0-9.]+", "legacy_version": "[0-9.]+"\}\n)")))
      << json.out;
}

}  // namespace
}  // namespace tarvex::testing
