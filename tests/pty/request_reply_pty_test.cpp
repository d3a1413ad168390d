// The request and reply family through the Linux shared object's exported
// functions, over a pseudo-terminal with a scripted terminal on the master.
//
// Real time on a shared machine: lower bounds are checked strictly (a wait
// never shows as shorter than its ticks allow), upper bounds generously.
// A busy wait of k ticks lasts more than k - 1 ms of real time.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

int exclusive_flag(const PtyTerminal& terminal) {
  int exclusive = -1;
  ioctl(terminal.slave_fd(), TIOCGEXCL, &exclusive);
  return exclusive;
}

// ---- getdata: what goes out and what comes back ----------------------------

struct GetdataCase {
  const char* name;
  Bytes frame;   // address, command code, parameters
  Bytes answer;  // what the terminal sends after the whole frame
  std::int32_t reply_length;
  std::int32_t result;
  Bytes after_reply;        // what the library sends after a good reply
  milliseconds byte_limit;  // the per-byte limit of the command code
};

void PrintTo(const GetdataCase& c, std::ostream* os) {
  *os << c.name;
}

class GetdataPty : public ::testing::TestWithParam<GetdataCase> {};

TEST_P(GetdataPty, FrameOnTheLineReplyInTheBufferResult) {
  const GetdataCase& c = GetParam();
  PtyTerminal terminal;
  Bytes frame = checksum_buffer(c.frame);
  const Bytes wire_frame = with_checksum(c.frame);
  terminal.then(wire_frame.size(), c.answer, 2ms);
  Bytes reply(static_cast<std::size_t>(c.reply_length) + 1, 0);

  const Clock::time_point start = Clock::now();
  const std::int32_t result =
      getdata(length(c.frame), frame.data(), c.reply_length, reply.data(), terminal.port().c_str());
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(frame, wire_frame) << "the checksum goes into the caller's frame";
  Bytes expected_reply = c.answer;
  expected_reply.resize(reply.size(), 0);
  EXPECT_EQ(hex(reply), hex(expected_reply)) << "whatever came is in the caller's buffer";

  Bytes expected_wire = wire_frame;
  expected_wire.insert(expected_wire.end(), c.after_reply.begin(), c.after_reply.end());
  EXPECT_EQ(heard_once(terminal, expected_wire.size()), hex(expected_wire));

  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, heard.size() - 1, {LineParity::Space, 9600});
  ASSERT_GE(heard.size(), 2u);
  EXPECT_TRUE(more_than(start, heard[1].at, 17ms)) << "two 9 ms waits before the rest of the frame";

  const std::vector<Answer> answers = terminal.answers();
  ASSERT_EQ(answers.size(), 1u);
  if (!c.after_reply.empty()) {
    EXPECT_TRUE(more_than(answers[0].last_at, heard[wire_frame.size()].at, 8ms))
        << "a 9 ms wait between the reply and the acknowledgement";
  }
  if (c.result == TARVEX_REPLY_INCOMPLETE) {
    EXPECT_TRUE(more_than(answers[0].last_at, end, c.byte_limit))
        << "one per-byte limit for the missing byte";
  }
  EXPECT_LT(since(start, end), kGenerous);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, GetdataPty,
    ::testing::Values(
        // Reply bytes a cooked line would change or swallow (CR, LF, XON, XOFF, ^C).
        GetdataCase{"GoodReplyC2IsAcknowledged",
                    {0x05, 0xC2, 0x01, 0x02},
                    with_checksum({0x20, 0x0D, 0x0A, 0x11, 0x13, 0x03}),
                    6,
                    TARVEX_OK,
                    {0x02, 0x4F},
                    2500ms},
        GetdataCase{"GoodReplyOtherCodeIsNotAcknowledged",
                    {0x05, 0x30},
                    with_checksum({0x01, 0x02, 0x03}),
                    3,
                    TARVEX_OK,
                    {},
                    1000ms},
        GetdataCase{"WrongChecksum",
                    {0x05, 0x92, 0x7F},
                    {0x01, 0x02, 0x03, 0x07},
                    3,
                    TARVEX_REPLY_WRONG,
                    {},
                    2500ms},
        GetdataCase{"ShortReply",
                    {0x05, 0x30, 0x00},
                    {0x10, 0x20, 0x30, 0x40},
                    4,
                    TARVEX_REPLY_INCOMPLETE,
                    {},
                    1000ms}),
    [](const auto& test) { return std::string(test.param.name); });

// dxGetdata: the whole frame, address byte and checksum included, under
// MARK, and the reply read without switching.
TEST(DxGetdataPty, WholeFrameUnderMark) {
  PtyTerminal terminal;
  const Bytes data{0x05, 0x92, 0x02};  // 500 ms per byte
  Bytes frame = checksum_buffer(data);
  const Bytes answer = with_checksum({0x0A, 0x0B});
  terminal.then(4, answer);
  Bytes reply(3, 0);
  EXPECT_EQ(dxGetdata(3, frame.data(), 2, reply.data(), terminal.port().c_str()), TARVEX_OK);
  EXPECT_EQ(hex(reply), hex(answer));
  EXPECT_EQ(heard_once(terminal, 4), hex(with_checksum(data))) << "no acknowledgement";
  expect_all_under(terminal.heard(), 0, 4, {LineParity::Mark, 9600});
  EXPECT_EQ(terminal.line_now().parity, LineParity::Mark);
}

// The library makes the port raw itself: a port left cooked (echo, CR/LF
// translation, flow control, signal and editing characters) passes every
// byte unchanged both ways.
TEST(PortModePty, CookedPortIsMadeRaw) {
  PtyTerminal terminal(PtyTerminal::Options{.start_cooked = true});
  const Bytes control{0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x16, 0x1A, 0x7F, 0xFF};
  Bytes frame_bytes{0x0A, 0xC2};
  frame_bytes.insert(frame_bytes.end(), control.begin(), control.end());
  Bytes frame = checksum_buffer(frame_bytes);
  const Bytes answer = with_checksum(control);
  terminal.then(frame_bytes.size() + 1, answer);
  Bytes reply(answer.size(), 0);

  EXPECT_EQ(getdata(length(frame_bytes), frame.data(), length(control), reply.data(),
                    terminal.port().c_str()),
            TARVEX_OK);
  EXPECT_EQ(hex(reply), hex(answer));
  Bytes expected = with_checksum(frame_bytes);
  expected.insert(expected.end(), {0x02, 0x4F});
  EXPECT_EQ(heard_once(terminal, expected.size()), hex(expected)) << "nothing echoed";
}

// The caller's baud reaches the line: a standard rate and one termios has no
// constant for.
TEST(PortModePty, CallersBaudIsSet) {
  for (const std::uint32_t baud : {38400u, 12345u}) {
    PtyTerminal terminal;
    const Bytes data{0x09, 0x91};
    Bytes frame = checksum_buffer(data);
    terminal.then(3, with_checksum({0x55}));
    Bytes reply(2, 0);
    EXPECT_EQ(nGetData(2, frame.data(), 1, reply.data(), terminal.port().c_str(), baud, 2000),
              TARVEX_OK)
        << baud;
    terminal.wait_heard(5, kPatience);  // the frame and the acknowledgement
    expect_address_then_data(terminal.heard(), 0, 4, {LineParity::Space, baud});
  }
}

// ---- held ports ------------------------------------------------------------

TEST(HeldPortPty, NgetHandleGetDataNgetThenExit) {
  PtyTerminal terminal;
  const tarvex_port_t port = com_init(terminal.port().c_str(), 19200);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  const LineSample fresh = terminal.line_now();
  EXPECT_EQ(fresh.parity, LineParity::Mark);
  EXPECT_EQ(fresh.baud, 19200u);
  EXPECT_FALSE(fresh.two_stop_bits);
  EXPECT_EQ(exclusive_flag(terminal), 1) << "held exclusively";

  // Fresh from com_init: the whole frame goes out under MARK. Nget's
  // per-byte limit is a fixed 100 ms, so its reply is waiting in the port
  // before the call, where neither a held-up terminal thread nor the
  // pseudo-terminal's own kernel worker can make it late.
  const Bytes nget_frame{0x07, 0xA1, 0x00};
  Bytes frame = checksum_buffer(nget_frame);
  const Bytes first_answer = with_checksum({0x31, 0x32});
  terminal.then(0, first_answer);
  ASSERT_TRUE(terminal.wait_unread(first_answer.size(), kPatience));
  Bytes reply(3, 0);
  EXPECT_EQ(Nget(3, frame.data(), 2, reply.data(), port), TARVEX_OK);
  EXPECT_EQ(hex(reply), hex(first_answer));
  ASSERT_TRUE(terminal.wait_heard(4, kPatience));
  expect_all_under(terminal.heard(), 0, 4, {LineParity::Mark, 19200});

  // HANDLE_GetData: 19 ms before the address byte, 19 after, 19 before the
  // rest; the baud is kept; the reply is always acknowledged.
  const Bytes handle_frame{0x07, 0xC1, 0x10};
  frame = checksum_buffer(handle_frame);
  const Bytes second_answer = with_checksum({0x41, 0x42, 0x43});
  terminal.then(4, second_answer);
  reply.assign(4, 0);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(HANDLE_GetData(port, 3, frame.data(), 3, reply.data(), 2000), TARVEX_OK);
  const Clock::time_point end = Clock::now();
  EXPECT_EQ(hex(reply), hex(second_answer));
  ASSERT_TRUE(terminal.wait_heard(4 + 6, kPatience));
  const std::vector<HeardByte> heard = terminal.heard();
  const std::vector<HeardByte> exchange(heard.begin() + 4, heard.end());
  EXPECT_EQ(hex(terminal.heard_values()),
            hex({0x07, 0xA1, 0x00, 0xA8, 0x07, 0xC1, 0x10, 0xD8, 0x02, 0x4F}));
  expect_address_then_data(exchange, 0, 5, {LineParity::Space, 19200});
  EXPECT_TRUE(more_than(start, exchange[0].at, 18ms)) << "19 ms before the address byte";
  EXPECT_TRUE(more_than(start, exchange[1].at, 56ms)) << "three 19 ms waits before the rest";
  EXPECT_TRUE(more_than(terminal.answers().at(1).last_at, exchange[4].at, 4ms))
      << "5 ms between the reply and the acknowledgement";
  EXPECT_TRUE(more_than(terminal.answers().at(1).last_at, end, 9ms)) << "and 5 ms after it";
  EXPECT_LT(since(start, end), kGenerous);

  // HANDLE_GetData left the port in SPACE: Nget now sends under SPACE.
  frame = checksum_buffer(nget_frame);
  terminal.then(0, first_answer);
  ASSERT_TRUE(terminal.wait_unread(first_answer.size(), kPatience));
  reply.assign(3, 0);
  EXPECT_EQ(Nget(3, frame.data(), 2, reply.data(), port), TARVEX_OK);
  ASSERT_TRUE(terminal.wait_heard(14, kPatience));
  expect_all_under(terminal.heard(), 10, 14, {LineParity::Space, 19200});

  EXPECT_EQ(com_exit(port), TARVEX_OK);
  EXPECT_EQ(exclusive_flag(terminal), 0) << "the exclusive flag does not outlive the handle";
}

TEST(HeldPortPty, SecondOpenOfAHeldPortFailsAndLeavesTheHolderAlone) {
  PtyTerminal terminal;
  const tarvex_port_t port = com_init(terminal.port().c_str(), 9600);
  ASSERT_NE(port, TARVEX_INVALID_PORT);

  const Bytes data{0x05, 0xC2};
  Bytes frame = checksum_buffer(data);
  Bytes reply(2, 0);
  EXPECT_EQ(getdata(2, frame.data(), 1, reply.data(), terminal.port().c_str()),
            TARVEX_FRAME_NOT_SENT);
  EXPECT_EQ(com_init(terminal.port().c_str(), 9600), TARVEX_INVALID_PORT);
  EXPECT_FALSE(terminal.wait_heard(1, 30ms)) << "nothing reached the line";
  EXPECT_EQ(exclusive_flag(terminal), 1) << "the failed opens did not lift the holder's flag";
  EXPECT_EQ(terminal.line_now().parity, LineParity::Mark) << "nor touched its setting";

  EXPECT_EQ(com_exit(port), TARVEX_OK);
  // Released: the port opens again.
  terminal.then(3, with_checksum({0x66}));
  EXPECT_EQ(getdata(2, frame.data(), 1, reply.data(), terminal.port().c_str()), TARVEX_OK);
}

// A port that does not exist: every exchange with a frame returns 2, the
// frame still gets its checksum, and the held-port calls fail quietly.
TEST(MissingPortPty, EveryCallFailsQuietly) {
  const char* missing = "/dev/tarvex-no-such-port";
  const Bytes data{0x05, 0xC1, 0x01};
  Bytes frame = checksum_buffer(data);
  Bytes reply(4, 0);
  EXPECT_EQ(getdata(3, frame.data(), 3, reply.data(), missing), TARVEX_FRAME_NOT_SENT);
  EXPECT_EQ(frame[3], 0xC7);
  EXPECT_EQ(nGetData(3, frame.data(), 3, reply.data(), missing, 9600, 100), TARVEX_FRAME_NOT_SENT);

  const tarvex_port_t port = com_init(missing, 9600);
  EXPECT_EQ(port, TARVEX_INVALID_PORT);
  EXPECT_EQ(HANDLE_GetData(port, 3, frame.data(), 3, reply.data(), 100), TARVEX_FRAME_NOT_SENT);
  EXPECT_EQ(Nget(3, frame.data(), 3, reply.data(), port), TARVEX_FRAME_NOT_SENT);
  EXPECT_EQ(com_exit(port), TARVEX_OK);
  EXPECT_EQ(hex(reply), hex({0, 0, 0, 0})) << "nothing was read";
}

}  // namespace
}  // namespace tarvex::testing
