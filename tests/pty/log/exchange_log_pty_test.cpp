// The exchange log of the Linux shared object, written by several threads
// and processes at once: every block whole, in one piece, and what its call
// put on the line. The settings are read once per process, so this program
// sets TARVEX_LOG before its first call, and its worker processes (this
// program again, `--worker`) get theirs from the environment they start
// with.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "file_text.h"
#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"
#include "trace/log_reader.h"

extern char** environ;

namespace tarvex::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kCallsPerThread = 4;
const Bytes kFrame{0x05, 0xA1, 0x10, 0x20};
const Bytes kReply = with_checksum({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
constexpr const char* kMissingPort = "/dev/tarvex-no-such-port";

fs::path log_path() {
  return fs::path(::testing::TempDir()) / ("tarvex_pty_exchange_" + std::to_string(getpid()) + ".log");
}

// What one process does: getdata kCallsPerThread times on each of two
// threads, each thread on a terminal of its own, then one getdata on a port
// that is not there, whose errno must be the port's, whatever the log did.
// False when any result or that errno is not what it should be.
bool exchange_on_two_threads() {
  bool good = true;
  std::vector<std::thread> threads;
  std::vector<bool> results(2, true);
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([t, &results] {
      PtyTerminal terminal;
      for (int i = 0; i < kCallsPerThread; ++i) terminal.then({kFrame.size() + 1, kReply, 0ms});
      for (int i = 0; i < kCallsPerThread; ++i) {
        Bytes frame = checksum_buffer(kFrame);
        Bytes reply(kReply.size(), 0);
        const std::int32_t got = getdata(length(kFrame), frame.data(), 8, reply.data(), terminal.port().c_str());
        if (got != TARVEX_OK || reply != kReply) results[static_cast<std::size_t>(t)] = false;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const bool r : results) good = good && r;
  Bytes frame = checksum_buffer(kFrame);
  Bytes reply(kReply.size(), 0);
  errno = 0;
  const std::int32_t got = getdata(length(kFrame), frame.data(), 8, reply.data(), kMissingPort);
  return good && got == TARVEX_FRAME_NOT_SENT && errno == ENOENT;
}

// Starts this program as a worker with the log at `log`.
pid_t start_worker(const std::string& log) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TARVEX_LOG=", 11) != 0) env_strings.emplace_back(*e);
  }
  env_strings.push_back("TARVEX_LOG=" + log);
  std::vector<char*> env;
  for (std::string& e : env_strings) env.push_back(e.data());
  env.push_back(nullptr);
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string flag = "--worker";
  char* argv[] = {self.data(), flag.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, env.data()) != 0) return -1;
  return pid;
}

bool worker_succeeded(pid_t pid) {
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The bytes sent (host to terminal), or else read, in a call's trace.
Bytes bytes_of(const trace::LoggedCall& call, bool sent) {
  Bytes bytes;
  for (const trace::TraceEvent& e : call.events) {
    if (const auto* s = std::get_if<trace::Sent>(&e); s != nullptr && sent) bytes.push_back(s->wire.value);
    if (const auto* r = std::get_if<trace::Read>(&e); r != nullptr && !sent) bytes.push_back(r->byte);
  }
  return bytes;
}

TEST(ExchangeLogPty, TwoThreadsAndTwoProcessesWriteWholeBlocks) {
  const fs::path log = log_path();
  // A worker whose log cannot be opened: its calls go on as without one.
  const pid_t unlogged = start_worker("/dev/null/no-log-here");
  const pid_t first = start_worker(log.string());
  const pid_t second = start_worker(log.string());
  EXPECT_TRUE(exchange_on_two_threads()) << "results, replies and the errno of a failed open";
  EXPECT_TRUE(worker_succeeded(first));
  EXPECT_TRUE(worker_succeeded(second));
  EXPECT_TRUE(worker_succeeded(unlogged)) << "a log that cannot be written changes nothing";

  const std::string text = file_text(log);
  const trace::LogReading reading = trace::read_log(text);
  EXPECT_TRUE(reading.problems.empty()) << reading.problems.front();
  constexpr std::size_t kPerProcess = 2 * kCallsPerThread + 1;
  ASSERT_EQ(reading.calls.size(), 3 * kPerProcess) << text;

  std::map<std::uint64_t, std::size_t> per_process;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> per_thread;
  const Bytes wire = with_checksum(kFrame);
  for (const trace::LoggedCall& call : reading.calls) {
    SCOPED_TRACE(call.call);
    EXPECT_EQ(call.entry_point, "getdata");
    ++per_process[call.process];
    if (call.port == kMissingPort) {
      EXPECT_EQ(call.result.substr(0, 2), "2 ");
      continue;
    }
    ++per_thread[{call.process, call.thread}];
    EXPECT_EQ(call.result, "0 (success)");
    EXPECT_EQ(hex(bytes_of(call, true)), hex(wire));
    EXPECT_EQ(hex(bytes_of(call, false)), hex(kReply));
  }
  EXPECT_EQ(per_process.size(), 3u);
  for (const auto& [process, calls] : per_process) EXPECT_EQ(calls, kPerProcess) << process;
  EXPECT_EQ(per_thread.size(), 6u);
  for (const auto& [thread, calls] : per_thread) EXPECT_EQ(calls, std::size_t{kCallsPerThread});
  fs::remove(log);
}

}  // namespace
}  // namespace tarvex::testing

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--worker") == 0) {
    return tarvex::testing::exchange_on_two_threads() ? 0 : 1;
  }
  // Before the first call of the library: it reads its settings once.
  setenv("TARVEX_LOG", tarvex::testing::log_path().c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
