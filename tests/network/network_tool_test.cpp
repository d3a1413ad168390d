// The tool on a port behind a network serial server: the OS backend inside
// the tracing wrapper, as for a local port, so the trace has the same form.
#include <gtest/gtest.h>

#include "network_checks.h"
#include "pty_checks.h"
#include "tool_run.h"

namespace tarvex::testing {
namespace {

TEST(NetworkTool, TracesARemotePortAsALocalOne) {
  ServedTerminal served;
  const Bytes reply{0x20, 0x26, 0x12, 0x08, 0x17, 0x00, 0x05, 0x01, 0x7D};
  served.terminal.then(3, reply);
  const std::string port = served.port();
  const ToolRun run = run_tool({"--port", port, "--trace", "get", "05C2", "8"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string opened = "  open   " + port + " (standard timeouts) -> #";
  for (const std::string& line :
       {opened, std::string("  line   M 1 9600"),
        std::string("  tx     M 1 9600  05  (1.146 ms on the line)"),
        std::string("  line   S 1 9600"),
        std::string("  tx     S 1 9600  C2 C7  (2.292 ms on the line)"),
        std::string("  rx     20 26 12 08 17 00 05 01 7D"), std::string("  tx     S 1 9600  02 4F"),
        std::string("  close  #"), std::string("  result 0 (success)")}) {
    EXPECT_TRUE(run.shows(line)) << line << "\n" << run.out;
  }
  EXPECT_EQ(heard_once(served.terminal, 5), "05 C2 C7 02 4F");
}

}  // namespace
}  // namespace tarvex::testing
