// What a field deployment meets on a real line, through the exported
// functions: a port that hangs up in the middle of a call (an adapter
// unplugged), handles a host got wrong, ports that will not open and the
// system's reason for it, and the length of one idle read poll.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulated_line.h"
#include "pty_checks.h"
#include "pty_terminal.h"
#include "reply_waits.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// ---- A port that hangs up ---------------------------------------------------

// How the device goes: the kernel's hang-up (a read finds the end of the
// file), or a driver that reports it by POLLHUP alone (emulated_line.h).
enum class Gone { Vhangup, PollHupAlone };

struct HangUpCase {
  const char* name;
  std::size_t hang_up_after;  // bytes heard
  std::function<std::int32_t(const char* port)> call;
  std::int32_t result;
  // And this much later, so that the call is past its drain wait: a hang-up
  // during the drain wait ends the call with 2, as a port that is gone
  // should, and the kernel hands the frame to the terminal at about the
  // time the drain wait looks at the queue.
  milliseconds later{0};
  Gone gone = Gone::Vhangup;
};

void PrintTo(const HangUpCase& c, std::ostream* os) {
  *os << c.name;
}

const HangUpCase kHangUps[] = {
    {"getdata C2 waits for its reply with a 2500 ms limit", 3, getdata_c2,
     TARVEX_REPLY_INCOMPLETE, 100ms},
    {"HANDLE_GetData waits for its reply with no limit at all", 3, held_getdata_c2_without_limit,
     TARVEX_REPLY_INCOMPLETE, 100ms},
    {"senddata hangs up before its block and its acknowledgement", 4,
     [](const char* port) {
       std::uint8_t frame[4] = {0x05, 0xB1, 0x10};
       std::uint8_t block[3] = {0xAA, 0xBB};
       return senddata(3, frame, 2, block, port);
     },
     TARVEX_REPLY_INCOMPLETE, 5ms},  // half the 10 ms wait before the block
    {"getdata C2 on a driver that reports the hang-up by POLLHUP alone", 3, getdata_c2,
     TARVEX_REPLY_INCOMPLETE, 100ms, Gone::PollHupAlone},
};

class HangUpPty : public ::testing::TestWithParam<HangUpCase> {};

// The terminal's side hangs the line up (as unplugging a USB adapter does)
// once it has heard the frame: the call ends at once, without spinning.
TEST_P(HangUpPty, EndsTheCallAtOnce) {
  const HangUpCase& c = GetParam();
  PtyTerminal terminal;
  struct stat device {};
  ASSERT_EQ(stat(terminal.port().c_str(), &device), 0);
  if (c.gone == Gone::PollHupAlone) emulated_line_start(device.st_rdev, terminal.slave_fd());
  Clock::time_point unplugged{};
  std::thread unplug([&] {
    if (!terminal.wait_heard(c.hang_up_after, kPatience)) return;
    std::this_thread::sleep_for(c.later);
    unplugged = Clock::now();
    if (c.gone == Gone::PollHupAlone) {
      emulated_line_hang_up();
    } else {
      ioctl(terminal.slave_fd(), TIOCVHANGUP);
    }
  });
  const double processor_start = thread_cpu_ms();
  errno = 0;
  const std::int32_t result = c.call(terminal.port().c_str());
  const int error = errno;
  const double processor = thread_cpu_ms() - processor_start;
  const Clock::time_point returned = Clock::now();
  unplug.join();
  emulated_line_stop();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(error, EIO) << "the system's word for a device that has gone";
  EXPECT_LE(processor, 100.0) << "no spin to the limit";
  std::cout << "hang-up: " << c.name << ": returned "
            << std::chrono::duration<double, std::milli>(returned - unplugged).count()
            << " ms after it, " << processor << " ms of processor time in the call\n";
}

INSTANTIATE_TEST_SUITE_P(Unplugged, HangUpPty, ::testing::ValuesIn(kHangUps));

// ---- Handles the library did not give, or gave and took back ---------------

// After com_exit the descriptor the port had is the next one the host opens:
// the old handle must reach neither that file nor anything else.
TEST(HeldPortHandles, StaleAndForeignHandlesTouchNothing) {
  PtyTerminal terminal;
  const tarvex_port_t stale = com_init(terminal.port().c_str(), 9600);
  ASSERT_NE(stale, TARVEX_INVALID_PORT);
  ASSERT_EQ(com_exit(stale), 0);
  char path[] = "/tmp/tarvex_stale_XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  unlink(path);

  const tarvex_port_t foreign[] = {stale, static_cast<tarvex_port_t>(file), 0, 1, 2};
  for (const tarvex_port_t handle : foreign) {
    SCOPED_TRACE(handle);
    std::uint8_t frame[3] = {0x05, 0xC2};
    std::uint8_t reply[9] = {};
    errno = 0;
    EXPECT_EQ(HANDLE_GetData(handle, 2, frame, 8, reply, 50), TARVEX_FRAME_NOT_SENT);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(Nget(2, frame, 0, reply, handle), TARVEX_FRAME_NOT_SENT);
    EXPECT_EQ(com_exit(handle), 0);
  }
  struct stat status {};
  EXPECT_EQ(fstat(file, &status), 0) << "the host's file is still open";
  EXPECT_EQ(status.st_size, 0) << "and nothing was written into it";
  EXPECT_NE(fcntl(0, F_GETFD), -1) << "standard input is still open";
  EXPECT_EQ(terminal.heard_values(), Bytes{}) << "nothing reached the old port either";
  close(file);

  // Ports opened and closed one after the other come round to the stale
  // handle's slot again (the table has 1024): the new port there is not the
  // stale handle's.
  for (int i = 0; i < 1100; ++i) {
    const tarvex_port_t port = com_init(terminal.port().c_str(), 9600);
    ASSERT_NE(port, stale);
    std::uint8_t frame[3] = {0x05, 0xC2};
    ASSERT_EQ(Nget(2, frame, 0, frame, stale), TARVEX_FRAME_NOT_SENT) << "after " << i << " ports";
    com_exit(port);
  }
  EXPECT_EQ(terminal.heard_values(), Bytes{});
}

// ---- Ports that will not open say why --------------------------------------

// com_init on a thread whose file accesses are checked as nobody's (the
// file-system ids are the thread's own): its errno.
int errno_as_nobody(const char* port) {
  int error = -1;
  std::thread([&] {
    setfsgid(65534);
    setfsuid(65534);
    error = com_init(port, 9600) == TARVEX_INVALID_PORT ? errno : 0;
  }).join();
  return error;
}

TEST(FailedOpen, ErrnoIsTheSystemsOwnReason) {
  PtyTerminal terminal;
  char file[] = "/tmp/tarvex_not_a_port_XXXXXX";
  close(mkstemp(file));
  const tarvex_port_t holder = com_init(terminal.port().c_str(), 9600);
  ASSERT_NE(holder, TARVEX_INVALID_PORT);

  struct Case {
    const char* name;
    std::string port;
    int error;
  };
  const Case cases[] = {
      {"a port that does not exist", "/dev/ttyNOSUCH0", ENOENT}, {"a directory", "/tmp", EISDIR},
      {"a device that is not a terminal", "/dev/null", ENOTTY},  {"a regular file", file, ENOTTY},
      {"a port another handle holds", terminal.port(), EBUSY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(com_init(c.port.c_str(), 9600), TARVEX_INVALID_PORT);
    EXPECT_EQ(errno, c.error);
    std::uint8_t frame[3] = {0x05, 0xC2};
    std::uint8_t reply[9] = {};
    std::uint8_t block[2] = {0xAA};
    errno = 0;
    EXPECT_EQ(getdata(2, frame, 8, reply, c.port.c_str()), TARVEX_FRAME_NOT_SENT);
    EXPECT_EQ(errno, c.error) << "no clean-up call replaced it";
    errno = 0;
    EXPECT_EQ(senddata(0, frame, 1, block, c.port.c_str()), TARVEX_FRAME_NOT_SENT)
        << "a block-only call too";
    EXPECT_EQ(errno, c.error);
  }
  com_exit(holder);

  // Permission denied: a user not allowed on the device (not in its group).
  if (geteuid() == 0) {
    chmod(terminal.port().c_str(), 0600);
    EXPECT_EQ(errno_as_nobody(terminal.port().c_str()), EACCES);
  }
  unlink(file);
}

// ---- A driver that does not apply mark/space parity -------------------------

// Under a parity the terminals do not expect, every byte would read as an
// address, or none would: the call ends with 2 before a byte goes out, and
// errno says why.
TEST(DriverWithoutMarkSpace, EndsTheCallBeforeAByteGoesOut) {
  struct Case {
    const char* name;
    emulated_driver driver;
    int error;
  };
  for (const Case& c : {Case{"takes CMSPAR and clears it", EMULATED_DRIVER_DROPS_MARK_SPACE, EOPNOTSUPP},
                        Case{"refuses CMSPAR", EMULATED_DRIVER_REFUSES_MARK_SPACE, EINVAL}}) {
    SCOPED_TRACE(c.name);
    PtyTerminal terminal;
    struct stat device {};
    ASSERT_EQ(stat(terminal.port().c_str(), &device), 0);
    emulated_line_start(device.st_rdev, terminal.slave_fd());
    emulated_line_driver(c.driver);
    std::uint8_t frame[3] = {0x05, 0xC2};
    std::uint8_t reply[9] = {};
    errno = 0;
    EXPECT_EQ(getdata(2, frame, 8, reply, terminal.port().c_str()), TARVEX_FRAME_NOT_SENT);
    EXPECT_EQ(errno, c.error);
    errno = 0;
    EXPECT_EQ(com_init(terminal.port().c_str(), 9600), TARVEX_INVALID_PORT);
    EXPECT_EQ(errno, c.error);
    emulated_line_stop();
    EXPECT_EQ(terminal.heard_values(), Bytes{});
  }
}

// ---- One idle read poll ------------------------------------------------------

// A read with nothing to deliver takes its 15 ms poll: a per-byte limit of
// 1 ms is found run out after the first poll, not sooner, not much later.
TEST(IdleRead, OnePollLastsFifteenMilliseconds) {
  PtyTerminal terminal;
  std::uint8_t frame[3] = {0x05, 0xA1};
  std::uint8_t reply[5] = {};
  const std::int32_t result = nGetData(2, frame, 4, reply, terminal.port().c_str(), 9600, 1);
  const Clock::time_point end = Clock::now();
  ASSERT_EQ(result, TARVEX_REPLY_INCOMPLETE);
  ASSERT_TRUE(terminal.wait_heard(3, kPatience));
  const Clock::time_point frame_heard = terminal.heard().back().at;
  EXPECT_TRUE(more_than(frame_heard, end, 14ms)) << "the whole poll, not a spin";
  EXPECT_LT(since(frame_heard, end), 15ms + 200ms);
}

// ---- Many buses from one host -----------------------------------------------

// An exchange as one host thread runs it on its own bus, with the bus's own
// address in its frame.
struct BusExchange {
  const char* name;
  std::size_t heard_before_answer;  // the frame and the block, where one goes out
  Bytes answer;
  Bytes reply;               // what the caller's buffer holds afterwards
  std::size_t heard_in_all;  // and the acknowledgement, where one follows
  std::function<std::int32_t(const char* port, std::uint8_t address, Bytes& reply)> call;
};

const Bytes kBusReply = with_checksum({0x31, 0x32, 0x33, 0x34});

const BusExchange kBusExchanges[] = {
    {"getdata C2, acknowledged", 4, kBusReply, kBusReply, 6,
     [](const char* port, std::uint8_t address, Bytes& reply) {
       std::uint8_t frame[4] = {address, 0xC2, 0x01};
       reply.assign(5, 0);
       return getdata(3, frame, 4, reply.data(), port);
     }},
    {"senddata, acknowledged",
     16,
     {0x02, 0x4F},
     {},
     16,
     [](const char* port, std::uint8_t address, Bytes&) {
       std::uint8_t frame[5] = {address, 0xC1, 0x10, 0x20};
       std::uint8_t block[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
       return senddata(4, frame, 10, block, port);
     }},
    {"HANDLE_GetData on a held port", 5, kBusReply, kBusReply, 7,
     [](const char* port, std::uint8_t address, Bytes& reply) {
       const tarvex_port_t held = com_init(port, 9600);
       std::uint8_t frame[5] = {address, 0xA1, 0x10, 0x20};
       reply.assign(5, 0);
       const std::int32_t result = HANDLE_GetData(held, 4, frame, 4, reply.data(), 2000);
       com_exit(held);
       return result;
     }},
};

// One host thread per bus, all at once: every call succeeds with its own
// terminal's answer, each terminal hears its own bus's frame and nothing
// else, and the calls run at the same time (state shared across calls, or a
// lock held for a whole call, would make them take turns or mix them up).
// The terminals answer half a second late, so the calls overlap however late
// a loaded machine starts a thread.
TEST(ManyBuses, ExchangesOnSeveralBusesAtOnceAllSucceed) {
  constexpr std::size_t kBusesPerExchange = 2;
  struct Bus {
    const BusExchange* exchange;
    std::uint8_t address;
    std::unique_ptr<PtyTerminal> terminal;
    std::int32_t result = -1;
    Bytes reply{};
    Clock::time_point end{};
  };
  std::vector<Bus> buses;
  for (const BusExchange& exchange : kBusExchanges) {
    for (std::size_t k = 0; k < kBusesPerExchange; ++k) {
      const auto address = static_cast<std::uint8_t>(0x10 + buses.size());
      buses.push_back({&exchange, address, std::make_unique<PtyTerminal>()});
      buses.back().terminal->then(exchange.heard_before_answer, exchange.answer, 500ms);
    }
  }

  std::vector<std::thread> hosts;
  for (Bus& bus : buses) {
    hosts.emplace_back([&bus] {
      bus.result = bus.exchange->call(bus.terminal->port().c_str(), bus.address, bus.reply);
      bus.end = Clock::now();
    });
  }
  for (std::thread& host : hosts) host.join();

  // A call is under way once its terminal hears its first byte.
  Clock::time_point last_start{};
  Clock::time_point first_end = Clock::time_point::max();
  for (const Bus& bus : buses) {
    SCOPED_TRACE(std::string(bus.exchange->name) + " on the bus of address " + hex({bus.address}));
    EXPECT_EQ(bus.result, TARVEX_OK);
    EXPECT_EQ(hex(bus.reply), hex(bus.exchange->reply));
    ASSERT_TRUE(bus.terminal->wait_heard(bus.exchange->heard_in_all, kPatience));
    const Bytes heard = bus.terminal->heard_values();
    EXPECT_EQ(heard.size(), bus.exchange->heard_in_all);
    EXPECT_EQ(heard.front(), bus.address) << "its own frame, no other bus's";
    last_start = std::max(last_start, bus.terminal->heard().front().at);
    first_end = std::min(first_end, bus.end);
  }
  EXPECT_LT(last_start, first_end) << "every call was under way before the first one ended";
}

}  // namespace
}  // namespace tarvex::testing
