// The x86_64 DLL writes the exchange log when TARVEX_LOG is in its host's
// environment: a whole block per call, read back as `tarvex log` reads it,
// and the system's reason for a failed open still reaches GetLastError.
#include <gtest/gtest.h>

#include <filesystem>

#include "file_text.h"
#include "trace/log_reader.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

bool shows(const trace::LoggedCall& call, const std::string& text) {
  for (const std::string& line : call.lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST_F(WineTest, TheDllWritesTheLogItsHostAskedFor) {
  const std::filesystem::path log = ::testing::TempDir() + "tarvex_wine_exchange.log";
  std::filesystem::remove(log);
  terminal.then(3, with_checksum({0x10, 0x20}), 2ms);
  const HostRun run = WineHost::run(
      terminal, {"held_getdata", "9600", "05C2", "2", "1000", "+", "open_error", "COM99"},
      WineHost::Build::Current, std::chrono::seconds{120}, WineHost::kPort,
      {"TARVEX_LOG=" + WineHost::windows_path(log.string())});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(1)["last_error"], "2") << "the log's own file calls keep the system's reason";

  const std::string text = file_text(log);
  const trace::LogReading reading = trace::read_log(text);
  EXPECT_TRUE(reading.problems.empty()) << text;
  ASSERT_EQ(reading.calls.size(), 4u) << text;
  const std::vector<std::string> entry_points{"com_init", "HANDLE_GetData", "com_exit", "com_init"};
  for (std::size_t i = 0; i < reading.calls.size(); ++i) {
    const trace::LoggedCall& call = reading.calls[i];
    EXPECT_EQ(call.entry_point, entry_points[i]);
    EXPECT_EQ(call.library, "tarvex 2.5.0.10");
    EXPECT_EQ(call.process, reading.calls[0].process) << "one host process";
  }
  EXPECT_EQ(reading.calls[0].port, "COM5");
  EXPECT_TRUE(shows(reading.calls[0], "line   M 1 9600")) << text;
  const trace::LoggedCall& get = reading.calls[1];
  EXPECT_EQ(get.result, "0 (success)");
  EXPECT_TRUE(shows(get, "tx     M 1 kept  05")) << text;
  EXPECT_TRUE(shows(get, "tx     S 1 kept  C2 C7")) << text;
  EXPECT_TRUE(shows(get, "rx     10 20 30")) << text;
  const trace::LoggedCall& failed = reading.calls[3];
  EXPECT_EQ(failed.port, "COM99");
  EXPECT_EQ(failed.outcome.value, 0xFFFFFFFF) << "no port";
  EXPECT_TRUE(shows(failed, "error  open: ")) << text;
  EXPECT_TRUE(shows(failed, "(code 2)")) << text;
}

}  // namespace
}  // namespace tarvex::testing
