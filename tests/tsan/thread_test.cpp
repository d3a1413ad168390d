// The library keeps nothing between calls and shares nothing between them,
// so a host may run exchanges on two ports from two threads at once, call
// the transforms and the pure builders from any thread, and hand a held port
// from one thread to the next. Built with ThreadSanitizer (the tsan preset)
// these runs must show no data race; in every build they must give each
// thread the same answers it gets alone.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "exchange/blacklist.h"
#include "exchange/blacklist_block.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/hex_text.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "exports/entry_point.h"
#include "file_text.h"
#include "line/held_port.h"
#include "line/os_platform.h"
#include "sim/pty_peer.h"
#include "sim_fixture.h"
#include "trace/log_reader.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
namespace tf = transform;

constexpr int kRounds = 40;

// Runs `work(i)` on `count` threads that start together, and joins them.
void on_threads(int count, const std::function<void(int)>& work) {
  std::latch start(count);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&start, &work, i] {
      start.arrive_and_wait();
      work(i);
    });
  }
  for (std::thread& t : threads) t.join();
}

void on_two_threads(const std::function<void(int)>& work) { on_threads(2, work); }

// One round of exchanges on a thread's own bus: a result per exchange, and
// what went on the line.
struct Round {
  std::vector<Result> results;
  std::string wire;
  bool operator==(const Round&) const = default;
};

Round exchanges_on_own_bus(std::uint32_t tick_start) {
  SimRig rig(tick_start);
  Round round;
  auto& t = *rig.terminal;
  const char* port = SimRig::kPort;

  t.then(4, with_checksum({0x10, 0x20, 0x30}));
  std::array<std::uint8_t, 4> frame{0x05, 0xC2, 0x33, 0x00};
  std::array<std::uint8_t, 4> reply{};
  round.results.push_back(ex::getdata(rig.bus, 3, frame.data(), 3, reply.data(), port));
  rig.bus.advance(50'000);

  t.then(8, {0x02, 0x4F});
  std::array<std::uint8_t, 4> command{0x05, 0xA1, 0x33, 0x00};
  std::array<std::uint8_t, 4> block{0x11, 0x22, 0x33, 0x00};
  round.results.push_back(ex::senddata(rig.bus, 3, command.data(), 3, block.data(), port));
  rig.bus.advance(50'000);

  // The hex-text member takes its scratch area from the heap.
  t.then(4, with_checksum({0x12, 0xAB}));
  std::string text(6, '.');
  round.results.push_back(ex::getdata_hex(rig.bus, 3, "05A133", 2, text.data(), port));
  rig.bus.advance(50'000);

  t.then(13, {0x02, 0x4F});
  const std::array<std::uint8_t, 9> cards{0, 0, 1, 0, 0, 2, 0, 0, 3};
  round.results.push_back(ex::sendBlack(rig.bus, 5, 3, cards.data(), port));
  rig.bus.advance(50'000);

  t.then(5, with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00}))
      .then(5, with_checksum({0x00, 0x05, 0x0A, 0x0B, 0x00}));
  std::array<std::uint8_t, 7> record{};
  round.results.push_back(ex::onNet(rig.bus, 5, record.data(), port));
  rig.bus.advance(50'000);

  const line::Handle held = line::com_init(rig.bus, port, 9600);
  t.then(4, with_checksum({0x10, 0x20, 0x30}));
  frame = {0x05, 0xC2, 0x33, 0x00};
  round.results.push_back(ex::HANDLE_GetData(rig.bus, held, 3, frame.data(), 3, reply.data(), 200));
  rig.bus.advance(50'000);
  round.results.push_back(line::com_exit(rig.bus, held));
  round.results.push_back(static_cast<Result>(rig.bus.open_handles()));
  round.wire = rig.wire();
  return round;
}

TEST(Threads, ExchangesOnTwoPortsAtOnce) {
  const Round alone = exchanges_on_own_bus(0);
  ASSERT_EQ(alone.results, (std::vector<Result>{kOk, kOk, kOk, kOk, kOk, kOk, kOk, 0}));
  std::array<std::vector<Round>, 2> seen;
  on_two_threads([&seen](int i) {
    for (int r = 0; r < kRounds; ++r)
      seen[static_cast<std::size_t>(i)].push_back(exchanges_on_own_bus(0));
  });
  for (const auto& rounds : seen) {
    ASSERT_EQ(rounds.size(), static_cast<std::size_t>(kRounds));
    for (const Round& round : rounds) EXPECT_EQ(round, alone);
  }
}

// Every transform, codec and pure builder once, on the thread's own buffers.
std::vector<std::uint8_t> pure_calls(std::uint8_t seed) {
  std::vector<std::uint8_t> out;
  const auto keep = [&out](Result result, const std::uint8_t* bytes, std::size_t count) {
    out.push_back(static_cast<std::uint8_t>(result));
    out.insert(out.end(), bytes, bytes + count);
  };
  const std::array<std::uint8_t, 8> in{seed, 0x12, 0x34, 0x56, 0x21, 0x43, 0x65, 0x87};
  std::array<std::uint8_t, 8> o{};
  keep(tf::keylock(0, in.data(), o.data()), o.data(), 3);
  keep(tf::cardLock(0, in.data(), o.data()), o.data(), 3);
  keep(tf::faka_485(0, in.data(), o.data()), o.data(), 6);
  keep(tf::faka_4852(0, in.data(), o.data()), o.data(), 6);
  keep(tf::fakaUnlock(0, in.data(), o.data()), o.data(), 6);
  keep(tf::abcd(in.data(), o.data(), seed % 3), o.data(), 8);
  keep(tf::change(in.data(), o.data()), o.data(), 6);
  keep(tf::ascc(in.data(), o.data()), o.data(), 3);

  const std::string text = "0a1B2c3D4e5F";
  std::array<std::uint8_t, 6> decoded{};
  ex::decode_hex(text.c_str(), decoded.size(), decoded.data(), ex::HexText::Block);
  keep(kOk, decoded.data(), decoded.size());

  const std::array<std::uint8_t, 9> cards{0, 0, seed, 0, 1, 0, 1, 0xFB, 0xD0};
  ex::BlacklistBuffer block{};
  const std::size_t length = ex::build_blacklist_block(cards.data(), 3, block);
  keep(kOk, block.data(), length);
  return out;
}

TEST(Threads, TransformsAndBuildersFromTwoThreads) {
  const std::array<std::vector<std::uint8_t>, 2> alone{pure_calls(1), pure_calls(2)};
  std::array<std::vector<std::vector<std::uint8_t>>, 2> seen;
  on_two_threads([&seen](int i) {
    for (int r = 0; r < kRounds; ++r) {
      seen[static_cast<std::size_t>(i)].push_back(pure_calls(static_cast<std::uint8_t>(i + 1)));
    }
  });
  for (std::size_t i = 0; i < 2; ++i) {
    for (const auto& result : seen[i]) EXPECT_EQ(result, alone[i]);
  }
}

// A held port opened on one thread, used on a second and a third, given back
// on a fourth: it belongs to the host, not to the thread that opened it.
TEST(Threads, HeldPortHandedFromThreadToThread) {
  SimRig rig(0);
  const char* port = SimRig::kPort;
  line::Handle held = line::kInvalidHandle;
  std::array<std::uint8_t, 4> frame{0x05, 0xC2, 0x33, 0x00};
  std::array<std::uint8_t, 4> reply{};
  std::vector<Result> results;

  const std::vector<std::function<void()>> steps{
      [&] { held = line::com_init(rig.bus, port, 9600); },
      [&] {
        rig.terminal->then(4, with_checksum({0x10, 0x20, 0x30}));
        results.push_back(ex::HANDLE_GetData(rig.bus, held, 3, frame.data(), 3, reply.data(), 200));
        rig.bus.advance(50'000);
      },
      [&] {
        rig.terminal->then(4, with_checksum({0x40, 0x50, 0x60}));
        frame = {0x05, 0xC2, 0x33, 0x00};
        results.push_back(ex::Nget(rig.bus, 3, frame.data(), 3, reply.data(), held));
        rig.bus.advance(50'000);
      },
      [&] { results.push_back(line::com_exit(rig.bus, held)); },
  };
  for (const auto& step : steps) std::thread(step).join();

  EXPECT_NE(held, line::kInvalidHandle);
  EXPECT_EQ(results, (std::vector<Result>{kOk, kOk, kOk}));
  EXPECT_EQ(reply, (std::array<std::uint8_t, 4>{0x40, 0x50, 0x60, 0xF0}));
  EXPECT_EQ(rig.bus.open_handles(), 0u);
  EXPECT_EQ(rig.bus.opens(), 1u);
}

// The operating system's table of open ports, from four threads at once:
// each thread opens and closes its own pseudo-terminal again and again. No
// handle is ever given out twice, and each one, once closed, is refused
// (touching nothing) while the others come and go.
TEST(Threads, HeldPortsOpenedAndClosedOnFourThreadsAtOnce) {
  constexpr int kThreads = 4;
  std::array<sim::PtyPeer, kThreads> peers;
  std::array<std::vector<line::Handle>, kThreads> given;
  std::array<int, kThreads> failures{};
  on_threads(kThreads, [&](int i) {
    const auto me = static_cast<std::size_t>(i);
    for (int r = 0; r < kRounds; ++r) {
      line::OsPlatform os;
      const line::Handle held = line::com_init(os, peers[me].port().c_str(), 9600);
      const std::uint8_t byte = 0x05;
      if (held == line::kInvalidHandle || os.write(held, &byte, 1) != 1) ++failures[me];
      line::com_exit(os, held);
      if (os.write(held, &byte, 1) != 0 || os.error() != line::OsError{"port", EBADF}) {
        ++failures[me];
      }
      given[me].push_back(held);
    }
  });
  std::set<line::Handle> distinct;
  for (std::size_t i = 0; i < kThreads; ++i) {
    EXPECT_EQ(failures[i], 0);
    distinct.insert(given[i].begin(), given[i].end());
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kRounds));
}

// The exchange log: its settings read by whichever thread calls first, the
// trace of each call its own, and blocks appended from four threads with a
// cap small enough to rotate the file again and again, each block whole.
TEST(Threads, ExchangeLogWrittenFromFourThreads) {
  constexpr int kThreads = 4;
  const std::filesystem::path log =
      ::testing::TempDir() + "tarvex_threads_" + std::to_string(getpid()) + ".log";
  // Before the process's first logged call: the settings are read once.
  setenv("TARVEX_LOG", log.c_str(), 1);
  setenv("TARVEX_LOG_MAX", "4K", 1);
  std::array<sim::PtyPeer, kThreads> peers;
  std::array<int, kThreads> failures{};
  on_threads(kThreads, [&](int i) {
    const auto me = static_cast<std::size_t>(i);
    const char* port = peers[me].port().c_str();
    for (int r = 0; r < kRounds; ++r) {
      const line::Handle held =
          exports::run_on_os({"com_init", "port_name baud", trace::PortNameArg{port}, 9600u},
                             [&](line::Platform& os) { return line::com_init(os, port, 9600); });
      const Result exit =
          exports::run_on_os({"com_exit", "port", trace::HeldPortArg{held}},
                             [&](line::Platform& os) { return line::com_exit(os, held); });
      if (held == line::kInvalidHandle || exit != kOk) ++failures[me];
    }
  });
  unsetenv("TARVEX_LOG");
  unsetenv("TARVEX_LOG_MAX");
  for (const int f : failures) EXPECT_EQ(f, 0);
  for (const std::string& path : {log.string(), log.string() + ".1"}) {
    const std::string text = file_text(path);
    const trace::LogReading reading = trace::read_log(text);
    EXPECT_TRUE(reading.problems.empty()) << path << ": " << reading.problems.front();
    EXPECT_FALSE(reading.calls.empty()) << path;
    EXPECT_LE(text.size(), 4096u) << path;
    std::filesystem::remove(path);
  }
}

}  // namespace
}  // namespace tarvex::testing
