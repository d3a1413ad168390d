// The termios backend's waits for the output queue, through the exported
// functions, over a pseudo-terminal whose output queue is emulated
// (emulated_line.h: a UART without a FIFO). A write returns once its last byte
// has started on the line, a drain wait sleeps (it does not spin) until the
// queue is empty, and a drain limit that runs out is given up within one
// read poll.
//
// Real time on a shared machine: lower bounds strictly, upper bounds
// generously. Processor time can only read low on a loaded machine (a thread
// that does not run spins nothing), so a bound on it never fails a sound
// backend.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <functional>

#include "emulated_line.h"
#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// Start bit, 8 data bits, MARK or SPACE, one stop bit.
double character_ms(std::uint32_t baud) { return 11 * 1000.0 / baud; }

struct QueueCase {
  const char* name;
  std::uint32_t baud;  // of the held port
  std::function<std::int32_t(tarvex_port_t)> call;
  std::int32_t result;
  double at_least_ms;
  double at_most_ms;
  double processor_at_most_ms;  // 0: not bounded (the call has busy waits)
};

void PrintTo(const QueueCase& c, std::ostream* os) { *os << c.name; }

// A frame of n bytes (address 05, command A1, zeros) and its spare byte.
std::int32_t send_frame(tarvex_port_t port, std::int32_t n) {
  std::uint8_t frame[32] = {0x05, 0xA1};
  return Nget(n, frame, 0, frame, port);
}

const QueueCase kCases[] = {
    // 11 bytes in one write: the last starts 10 characters after the first.
    {"a write at 9600 returns once its last byte has started", 9600,
     [](tarvex_port_t port) { return send_frame(port, 10); }, TARVEX_OK,
     10 * character_ms(9600), 10 * character_ms(9600) + 60, 3},
    // 21 bytes at 9.2 ms: the write's own limit (5 * 21 + 10 = 115 ms) runs
    // out first, and the drain wait (1000 ms) waits for the rest.
    {"a drain wait at 1200 sleeps while the line takes the rest", 1200,
     [](tarvex_port_t port) { return send_frame(port, 20); }, TARVEX_OK,
     20 * character_ms(1200), 20 * character_ms(1200) + 60, 10},
    // Busy waits of 3 * 19 ms, the address byte, then 20 bytes at 18.3 ms:
    // the write gives up after 5 * 20 + 10 = 110 ms, and the drain limit of
    // 50 ms runs out long before the line (19 characters, 348 ms) is done.
    {"a drain limit at 600 is given up within a poll of running out", 600,
     [](tarvex_port_t port) {
       std::uint8_t frame[32] = {0x05, 0xA1};
       return HANDLE_GetData(port, 20, frame, 0, frame, 50);
     },
     TARVEX_FRAME_NOT_SENT, 57 - 1 + 110 + 50, 57 + 110 + 50 + 15 + 50, 0},
    // The two address bytes in one write, then SPACE at once: the write is
    // back once the second has started, the setting waits until it has
    // ended, and neither waits with a byte still queued.
    {"sam_GetData at 1200 switches to SPACE once its address bytes have left", 1200,
     [](tarvex_port_t port) {
       std::uint8_t frame[3] = {0x05, 0x06, 0x07};
       return sam_GetData(port, 3, frame, 0, frame, 100);
     },
     TARVEX_OK, 19 - 1 + 2 * character_ms(1200), 19 + 2 * character_ms(1200) + 60, 0},
};

class OutputQueuePty : public ::testing::TestWithParam<QueueCase> {};

TEST_P(OutputQueuePty, WaitsTheLineOutWithoutSpinning) {
  const QueueCase& c = GetParam();
  PtyTerminal terminal;
  const tarvex_port_t port = com_init(terminal.port().c_str(), c.baud);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  struct stat device {};
  ASSERT_EQ(stat(terminal.port().c_str(), &device), 0);

  emulated_line_start(device.st_rdev, terminal.slave_fd());
  const double processor_start = thread_cpu_ms();
  const Clock::time_point start = Clock::now();
  const std::int32_t result = c.call(port);
  const Clock::time_point end = Clock::now();
  const double processor = thread_cpu_ms() - processor_start;
  com_exit(port);
  const int hazards = emulated_line_hazards();
  emulated_line_stop();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(hazards, 0) << "a setting or a close that did not wait for the line";
  const double took = std::chrono::duration<double, std::milli>(end - start).count();
  EXPECT_GE(took, c.at_least_ms);
  EXPECT_LE(took, c.at_most_ms);
  if (c.processor_at_most_ms > 0) {
    EXPECT_LE(processor, c.processor_at_most_ms);
  }
}

INSTANTIATE_TEST_SUITE_P(EmulatedLine, OutputQueuePty, ::testing::ValuesIn(kCases));

}  // namespace
}  // namespace tarvex::testing
