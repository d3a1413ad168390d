// A long run of mixed exchanges against the demo terminals (`tarvex terminal`
// in its own process), through the exported functions, as a host that runs
// for weeks makes them: every result must be 0, and the process's open
// descriptors and resident memory must stay where they were after warm-up.
// It takes minutes: label `long`, outside the default run.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "tarvex.h"
#include "tool_terminals.h"

namespace {

std::size_t open_descriptors() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

std::size_t resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  }
  return 0;
}

using Exchange = std::function<std::int32_t(const char* port)>;

const std::array<Exchange, 6> kMix = {
    [](const char* port) {
      std::uint8_t frame[3] = {0x05, 0xC2};
      std::uint8_t reply[9] = {};
      return getdata(2, frame, 8, reply, port);
    },
    [](const char* port) {
      std::uint8_t frame[5] = {0x05, 0xB1, 0x10, 0x02};
      std::uint8_t block[3] = {0xAA, 0xBB};
      return senddata(4, frame, 2, block, port);
    },
    [](const char* port) {
      std::uint8_t frame[5] = {0x05, 0xC1, 0x10, 0x02};
      std::uint8_t reply[3] = {};
      return getdata(4, frame, 2, reply, port);
    },
    [](const char* port) {
      std::uint8_t record[7] = {};
      return onNet(0x12, record, port);
    },
    [](const char* port) {
      const std::uint8_t cards[] = {0, 0, 1, 0, 0, 2, 0, 0, 9};
      return sendBlack(0x31, 3, cards, port);
    },
    [](const char* port) {
      const tarvex_port_t held = com_init(port, 9600);
      std::uint8_t frame[3] = {0x05, 0xC2};
      std::uint8_t reply[9] = {};
      const std::int32_t result = HANDLE_GetData(held, 2, frame, 8, reply, 1000);
      com_exit(held);
      return held == TARVEX_INVALID_PORT ? TARVEX_FRAME_NOT_SENT : result;
    },
};

TEST(Soak, ThousandsOfMixedExchangesLeaveNothingBehind) {
  tarvex::testing::ToolTerminals terminals(TARVEX_TOOL);
  ASSERT_FALSE(terminals.port().empty()) << "tarvex terminal did not start: " << TARVEX_TOOL;
  const char* port = terminals.port().c_str();
  constexpr std::size_t kWarmUp = 60;
  constexpr int kExchanges = 3000;
  for (std::size_t i = 0; i < kWarmUp; ++i) kMix[i % kMix.size()](port);
  const std::size_t descriptors = open_descriptors();
  const std::size_t resident = resident_kib();

  const auto start = std::chrono::steady_clock::now();
  std::array<int, kMix.size()> failed{};
  for (int i = 0; i < kExchanges; ++i) {
    const std::size_t which = static_cast<std::size_t>(i) % kMix.size();
    if (kMix[which](port) != TARVEX_OK) ++failed[which];
  }
  const auto took = std::chrono::steady_clock::now() - start;

  for (std::size_t i = 0; i < failed.size(); ++i) EXPECT_EQ(failed[i], 0) << "exchange " << i;
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_LE(resident_kib(), resident + 256) << "resident memory grew";
  std::printf("soak: %d exchanges in %.1f s; descriptors %zu -> %zu; resident %zu -> %zu KiB\n",
              kExchanges, std::chrono::duration<double>(took).count(), descriptors,
              open_descriptors(), resident, resident_kib());
}

}  // namespace
