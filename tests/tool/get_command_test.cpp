// `tarvex get` against the demo terminals of the simulated bus, and against
// a pseudo-terminal behind a serial driver that does not apply mark/space
// parity (emulated_line.h).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "emulated_line.h"
#include "pty_terminal.h"
#include "tool_run.h"

namespace tarvex::testing {
namespace {

struct GetCase {
  std::vector<std::string> args;
  const char* member;
  const char* frame;
  const char* reply;  // "" when no reply is shown
  int result;
  const char* trace_shows;
};

const GetCase kCases[] = {
    {{"get", "05C2", "8"}, "getdata", "05 C2 C7", "20 26 12 08 17 00 05 01 7D", 0, "tx     S 1 9600  02 4F"},
    {{"get", "05C2", "8", "--member", "n", "--baud", "19200", "--limit", "300"}, "nGetData", "05 C2 C7",
     "20 26 12 08 17 00 05 01 7D", 0, "line   M 1 19200"},
    {{"get", "12C1 0003", "3", "--member", "dx"}, "dxGetdata", "12 C1 00 03 D6", "12 19 20 4B", 0,
     "tx     M 1 9600  12 C1 00 03 D6"},
    {{"get", "05A1", "4", "--member", "Nget"}, "Nget", "05 A1 A6", "05 01 01 00 07", 0,
     "tx     M 1 9600  05 A1 A6"},
    {{"get", "31:A1", "4", "--member", "handle", "--baud", "4800"}, "HANDLE_GetData", "31 A1 D2",
     "31 01 01 00 33", 0, "line   S 1 4800"},
    // The legacy profile re-opens the port and acknowledges every good reply.
    {{"get", "05A1", "4", "--legacy"}, "getdata (legacy build)", "05 A1 A6", "05 01 01 00 07", 0,
     "open   SIM1 (re-open timeouts)"},
    {{"get", "05C2", "9"}, "getdata", "05 C2 C7", "", 3, "read   nothing for"},
    {{"get", "05C2", "7"}, "getdata", "05 C2 C7", "20 26 12 08 17 00 05 01", 4, "rx     20 26"},
};

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

TEST(GetCommand, EachMemberReportsItsExchange) {
  for (const GetCase& c : kCases) {
    SCOPED_TRACE(c.args[1] + " " + c.member);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--trace"});
    const ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, c.result) << run.err;
    EXPECT_EQ(json_field(run.out, "member"), quoted(c.member));
    EXPECT_EQ(json_field(run.out, "frame"), quoted(c.frame));
    EXPECT_EQ(json_field(run.out, "reply"), *c.reply ? quoted(c.reply) : "");
    EXPECT_EQ(json_field(run.out, "result"), std::to_string(c.result));
    EXPECT_TRUE(run.shows(c.trace_shows)) << run.out;
    EXPECT_EQ(run.err, tool::kSimulatedBusNote) << "the bus is named, once";
  }
}

TEST(GetCommand, TextOutputEndsWithTheResultAndItsMeaning) {
  const ToolRun run = run_tool({"get", "05C2", "8"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "member:     getdata\n"
            "port:       SIM1\n"
            "frame sent: 05 C2 C7\n"
            "reply:      20 26 12 08 17 00 05 01 7D\n"
            "result:     0 (success)\n");
}

// A port that does not open: nothing is reported as sent, and the system's
// reason comes with a hint.
TEST(GetCommand, APortThatDoesNotOpenSaysWhyAndSendsNothing) {
  struct Case {
    const char* port;
    const char* reason;
  };
  for (const Case c : {Case{"/dev/ttyNOSUCH", "open /dev/ttyNOSUCH: No such file or directory; no such port; "
                                             "ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* lists them"},
                       Case{"/dev/null", "open /dev/null: Inappropriate ioctl for device; not a serial port"},
                       Case{"rfc2217://nowhere", "open rfc2217://nowhere: Invalid argument; write it as "
                                                 "rfc2217://HOST:PORT"}}) {
    SCOPED_TRACE(c.port);
    const ToolRun json = run_tool({"--port", c.port, "--json", "--trace", "get", "05C2", "8"});
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json_field(json.out, "frame_sent"), "0");
    EXPECT_TRUE(json.shows(c.reason)) << json.out;
    EXPECT_TRUE(json.shows("error  open: ")) << "the trace carries it: " << json.out;
    EXPECT_EQ(json.err, "") << "a named port is no simulated bus";
    const ToolRun text = run_tool({"--port", c.port, "get", "05C2", "8"});
    EXPECT_TRUE(text.shows("frame (not sent): 05 C2 C7\n")) << text.out;
  }
}

// A port whose driver runs another parity than MARK and SPACE, or refuses
// them: the reason names the parity, and nothing goes out.
TEST(GetCommand, ADriverWithoutMarkSpaceParityIsNamed) {
  for (const emulated_driver driver : {EMULATED_DRIVER_DROPS_MARK_SPACE, EMULATED_DRIVER_REFUSES_MARK_SPACE}) {
    PtyTerminal terminal;
    struct stat device {};
    ASSERT_EQ(stat(terminal.port().c_str(), &device), 0);
    emulated_line_start(device.st_rdev, terminal.slave_fd());
    emulated_line_driver(driver);
    const ToolRun run = run_tool({"--port", terminal.port(), "--trace", "get", "05C2", "8"});
    emulated_line_stop();
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.shows("reason:           line setting " + terminal.port())) << run.out;
    EXPECT_TRUE(run.shows("does not apply mark/space parity")) << run.out;
    EXPECT_TRUE(run.shows("error  line setting: ")) << "the trace carries it: " << run.out;
    EXPECT_TRUE(run.shows("frame (not sent): 05 C2 C7\n")) << run.out;
  }
}

TEST(GetCommand, TraceClosesWithTheResultLine) {
  const ToolRun run = run_tool({"--trace", "get", "05A1", "4"});
  EXPECT_TRUE(run.shows("  open   SIM1 (standard timeouts) -> #100\n")) << run.out;
  EXPECT_TRUE(run.shows("  tx     M 1 9600  05  (1.146 ms on the line)\n")) << run.out;
  EXPECT_TRUE(run.shows("  result 0 (success)\n\n")) << run.out;
}

}  // namespace
}  // namespace tarvex::testing
