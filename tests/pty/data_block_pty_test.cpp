// The data-block family through the Linux shared object's exported functions:
// a command frame, a data block with its own checksum, and the terminal's
// acknowledgement, over a pseudo-terminal with a scripted terminal.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// The data phase of senddata: SPACE with two stop bits.
constexpr Setting kTwoStopBits{LineParity::Space, 9600, true};

// ---- senddata ---------------------------------------------------------------

struct SenddataCase {
  const char* name;
  Bytes frame;        // address, command code, parameters
  Bytes block;        // the block buffer's data bytes (without the checksum byte)
  std::int32_t m;     // the block length the caller passes
  Bytes block_wire;   // what goes out of the block, its checksum last
  Bytes answer;       // what the terminal sends after the block (none: nothing)
  std::int32_t result;
};

void PrintTo(const SenddataCase& c, std::ostream* os) { *os << c.name; }

class SenddataPty : public ::testing::TestWithParam<SenddataCase> {};

TEST_P(SenddataPty, FrameBlockAndAcknowledgement) {
  const SenddataCase& c = GetParam();
  PtyTerminal terminal;
  const Bytes wire_frame = with_checksum(c.frame);
  const Bytes wire = concat(wire_frame, c.block_wire);
  if (!c.answer.empty()) terminal.then(wire.size(), c.answer, 2ms);
  Bytes frame = checksum_buffer(c.frame);
  Bytes block = checksum_buffer(c.block);

  const Clock::time_point start = Clock::now();
  const std::int32_t result = senddata(length(c.frame), frame.data(), c.m, block.data(),
                                       terminal.port().c_str());
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(hex(frame), hex(wire_frame)) << "the checksum goes into the caller's frame";
  EXPECT_EQ(block[c.block_wire.size() - 1], c.block_wire.back())
      << "and the block's into the caller's block";
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));

  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, wire.size() - 1, kTwoStopBits);
  ASSERT_EQ(heard.size(), wire.size());
  EXPECT_TRUE(more_than(start, heard[1].at, 18ms)) << "9 and 10 ms before the rest of the frame";
  EXPECT_TRUE(more_than(start, heard[wire_frame.size()].at, 28ms)) << "and 10 ms before the block";
  if (!c.answer.empty()) {
    EXPECT_TRUE(more_than(start, end, 39ms)) << "and 11 ms before the acknowledgement";
  }
  EXPECT_LT(since(start, end), kGenerous);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SenddataPty,
    ::testing::Values(
        SenddataCase{"Acknowledged",
                     {0x05, 0xC1, 0x01},
                     {0x01, 0x02, 0x03},
                     3,
                     with_checksum({0x01, 0x02, 0x03}),
                     {0x02, 0x4F},
                     TARVEX_OK},
        // Only the first acknowledgement byte is compared.
        SenddataCase{"FirstAcknowledgementByteDecides",
                     {0x05, 0xC1, 0x01},
                     {0x0D, 0x0A},
                     2,
                     with_checksum({0x0D, 0x0A}),
                     {0x02, 0x00},
                     TARVEX_OK},
        SenddataCase{"WrongAcknowledgement",
                     {0x05, 0xC1, 0x01},
                     {0x01},
                     1,
                     with_checksum({0x01}),
                     {0x03, 0x4F},
                     TARVEX_REPLY_WRONG},
        // The terminal takes this block without answering; the checksum wraps.
        SenddataCase{"B5AwaitsNoAcknowledgement",
                     {0x05, 0xB5},
                     {0xFF, 0x02},
                     2,
                     {0xFF, 0x02, 0x01},
                     {},
                     TARVEX_OK},
        // Whatever length the caller passes, this code's block is 10 bytes.
        SenddataCase{"C5SendsTenBlockBytes",
                     {0x05, 0xC5, 0x00},
                     {0x11, 0x13, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A},
                     3,
                     with_checksum({0x11, 0x13, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A}),
                     {0x02, 0x4F},
                     TARVEX_OK}),
    [](const auto& test) { return std::string(test.param.name); });

// Without a frame the call starts in its data phase: the block alone, every
// byte under SPACE with two stop bits (nothing switches, so every sample is
// exact), frame byte 0 overwritten with the checksum of no bytes.
TEST(SenddataPtyBlockOnly, NoFrameByteOnTheLine) {
  PtyTerminal terminal;
  const Bytes block_wire = with_checksum({0x21, 0x22, 0x23});
  terminal.then(block_wire.size(), {0x02, 0x4F}, 2ms);
  Bytes frame{0x05, 0xC1};
  Bytes block = checksum_buffer({0x21, 0x22, 0x23});
  EXPECT_EQ(senddata(0, frame.data(), 3, block.data(), terminal.port().c_str()), TARVEX_OK);
  EXPECT_EQ(hex(frame), hex({0x00, 0xC1}));
  EXPECT_EQ(heard_once(terminal, block_wire.size()), hex(block_wire));
  expect_all_under(terminal.heard(), 0, block_wire.size(), kTwoStopBits);
}

// ---- nSendData: the caller's baud and limit, one stop bit -------------------

TEST(NSendDataPty, CallersBaudOneStopBitBothAcknowledgementBytesCompared) {
  struct Answer {
    Bytes bytes;
    std::int32_t result;
  };
  for (const Answer& a : {Answer{{0x02, 0x4F}, TARVEX_OK}, Answer{{0x02, 0x00}, TARVEX_REPLY_WRONG}}) {
    SCOPED_TRACE(hex(a.bytes));
    PtyTerminal terminal;
    const Bytes data{0x09, 0xC1, 0x07};
    const Bytes wire = concat(with_checksum(data), with_checksum({0xA0, 0xB0}));
    terminal.then(wire.size(), a.bytes, 2ms);
    Bytes frame = checksum_buffer(data);
    Bytes block = checksum_buffer({0xA0, 0xB0});

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(nSendData(3, frame.data(), 2, block.data(), terminal.port().c_str(), 19200, 2000),
              a.result);
    const Clock::time_point end = Clock::now();
    EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
    const std::vector<HeardByte> heard = terminal.heard();
    expect_address_then_data(heard, 0, wire.size() - 1, {LineParity::Space, 19200});
    ASSERT_EQ(heard.size(), wire.size());
    EXPECT_TRUE(more_than(start, heard[1].at, 17ms)) << "9 and 9 ms before the rest";
    EXPECT_TRUE(more_than(start, heard[4].at, 27ms)) << "and 10 ms before the block";
    EXPECT_TRUE(more_than(start, end, 38ms)) << "and 11 ms before the acknowledgement";
  }
}

// ---- HANDLE_SendData on a held port -----------------------------------------

TEST(HandleSendDataPty, HeldPortSessionLeavesSpace) {
  PtyTerminal terminal;
  const tarvex_port_t port = com_init(terminal.port().c_str(), 19200);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  const Setting data_phase{LineParity::Space, 19200};

  // An acknowledged block: 19 ms before MARK, 19 before the address byte, 19
  // after it, 19 after SPACE, 20 before the block.
  Bytes frame = checksum_buffer({0x07, 0xC1, 0x02});
  Bytes block = checksum_buffer({0x0A, 0x0B, 0x0C});
  const Bytes first = concat(with_checksum({0x07, 0xC1, 0x02}), with_checksum({0x0A, 0x0B, 0x0C}));
  terminal.then(first.size(), {0x02, 0x4F}, 2ms);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(HANDLE_SendData(port, 3, frame.data(), 3, block.data(), 2000), TARVEX_OK);
  ASSERT_TRUE(terminal.wait_heard(first.size(), kPatience));
  std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, first.size() - 1, data_phase);
  EXPECT_TRUE(more_than(start, heard[0].at, 37ms)) << "two 19 ms waits before the address byte";
  EXPECT_TRUE(more_than(start, heard[1].at, 75ms)) << "four before the rest";
  EXPECT_TRUE(more_than(start, heard[4].at, 95ms)) << "and 20 ms before the block";

  // 0xB4: the block is taken without an acknowledgement.
  frame = checksum_buffer({0x07, 0xB4});
  block = checksum_buffer({0x33});
  const Bytes second = concat(with_checksum({0x07, 0xB4}), with_checksum({0x33}));
  EXPECT_EQ(HANDLE_SendData(port, 2, frame.data(), 1, block.data(), 2000), TARVEX_OK);
  ASSERT_TRUE(terminal.wait_heard(first.size() + second.size(), kPatience));

  // Both acknowledgement bytes are compared.
  frame = checksum_buffer({0x07, 0xC1, 0x03});
  block = checksum_buffer({0x44});
  const Bytes third = concat(with_checksum({0x07, 0xC1, 0x03}), with_checksum({0x44}));
  terminal.then(second.size() + third.size(), {0x02, 0x00}, 2ms);
  EXPECT_EQ(HANDLE_SendData(port, 3, frame.data(), 1, block.data(), 2000), TARVEX_REPLY_WRONG);

  const Bytes all = concat(concat(first, second), third);
  EXPECT_EQ(heard_once(terminal, all.size()), hex(all));
  heard = terminal.heard();
  expect_address_then_data(heard, first.size(), second.size() - 1, data_phase);
  expect_address_then_data(heard, first.size() + second.size(), third.size() - 1, data_phase);
  const LineSample left = terminal.line_now();
  EXPECT_EQ(left.parity, LineParity::Space) << "the held port is left in its data phase";
  EXPECT_EQ(left.baud, 19200u) << "with the baud com_init set";
  EXPECT_EQ(com_exit(port), TARVEX_OK);
}

}  // namespace
}  // namespace tarvex::testing
