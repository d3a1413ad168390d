// The tool cross-built for Windows (the win64 tarvex.exe, from the same
// sources as the Linux one) under wine64: over a COM port against the demo
// terminals of the Linux `tarvex terminal`, and on its simulated bus, where
// it must print what the Linux tool prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tool_terminals.h"
#include "wine_host.h"

namespace tarvex::testing {
namespace {

class ToolWine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WineHost::ready()); }
};

// What the Linux tool prints for `arguments`.
std::string linux_tool(const std::string& arguments) {
  std::string out;
  if (FILE* pipe = popen((std::string(TARVEX_TOOL) + " " + arguments + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

TEST_F(ToolWine, GetdataOverAComPort) {
  ToolTerminals terminals(TARVEX_TOOL);
  ASSERT_FALSE(terminals.port().empty()) << "tarvex terminal did not start: " << TARVEX_TOOL;
  const WineHost::Output run =
      WineHost::run_tool({"--port", WineHost::kPort, "--trace", "get", "05C2", "8"}, terminals.port());
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  // The address byte with MARK parity, then the command and the
  // acknowledgement with SPACE, as the trace of the Win32 backend shows them.
  for (const char* shown : {"tx     M 1 9600  05 ", "tx     S 1 9600  C2 C7 ", "tx     S 1 9600  02 4F ",
                            "reply:      20 26 12 08 17 00 05 01 7D", "result:     0 (success)"}) {
    EXPECT_NE(run.out.find(shown), std::string::npos) << shown << " missing in:\n" << run.out;
  }
}

// The simulated bus runs on virtual time: the same sources print the same
// bytes. `terminal` needs a pseudo-terminal and says where it runs.
TEST_F(ToolWine, SimulatedBusAsOnLinux) {
  const WineHost::Output demo = WineHost::run_tool({"demo"});
  EXPECT_EQ(demo.exit_status, 0) << demo.err;
  EXPECT_EQ(demo.out, linux_tool("demo"));

  const WineHost::Output terminal = WineHost::run_tool({"terminal"});
  EXPECT_EQ(terminal.exit_status, 71);
  EXPECT_NE(terminal.err.find("runs on Linux only"), std::string::npos) << terminal.err;
}

}  // namespace
}  // namespace tarvex::testing
