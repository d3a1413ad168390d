// The combined and raw module exchanges through the Linux shared object, on a
// held port over a pseudo-terminal with a scripted terminal.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kBaud = 19200;
constexpr Setting kDataPhase{LineParity::Space, kBaud};

// A held port for one case, given back at the end.
class HeldPort {
 public:
  explicit HeldPort(const PtyTerminal& terminal)
      : port_(com_init(terminal.port().c_str(), kBaud)) {}
  ~HeldPort() { com_exit(port_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  tarvex_port_t get() const { return port_; }

 private:
  tarvex_port_t port_;
};

// ---- HANDLE_ComData: frame, block and checked reply in one call ------------

struct ComDataCase {
  const char* name;
  Bytes frame;
  Bytes block;  // m = its length; empty: no block byte goes out
  Bytes answer;
  std::int32_t reply_length;
  std::int32_t result;
};

void PrintTo(const ComDataCase& c, std::ostream* os) { *os << c.name; }

class ComDataPty : public ::testing::TestWithParam<ComDataCase> {};

TEST_P(ComDataPty, FrameBlockReplyNoAcknowledgement) {
  const ComDataCase& c = GetParam();
  PtyTerminal terminal;
  const HeldPort port(terminal);
  ASSERT_NE(port.get(), TARVEX_INVALID_PORT);
  const Bytes wire_frame = with_checksum(c.frame);
  const Bytes wire_block = c.block.empty() ? Bytes{} : with_checksum(c.block);
  const Bytes wire = concat(wire_frame, wire_block);
  terminal.then(wire.size(), c.answer, 2ms);
  Bytes frame = checksum_buffer(c.frame);
  Bytes block = checksum_buffer(c.block);
  Bytes reply(static_cast<std::size_t>(c.reply_length) + 1, 0);

  const Clock::time_point start = Clock::now();
  const std::int32_t result = HANDLE_ComData(port.get(), length(c.frame), frame.data(),
                                             length(c.block), block.data(), c.reply_length,
                                             reply.data(), 2000);
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(hex(frame), hex(wire_frame));
  EXPECT_EQ(hex(block), hex(with_checksum(c.block))) << "m = 0 still writes block byte 0";
  EXPECT_EQ(hex(reply), hex(c.answer)) << "the whole reply is in the caller's buffer";
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire)) << "nothing after the reply";
  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, wire.size() - 1, kDataPhase);
  ASSERT_GE(heard.size(), 2u);
  EXPECT_TRUE(more_than(start, heard[0].at, 18ms)) << "19 ms before the address byte";
  EXPECT_TRUE(more_than(start, heard[1].at, 56ms)) << "three 19 ms waits before the rest";
  EXPECT_LT(since(start, end), kGenerous);
  EXPECT_EQ(terminal.line_now().parity, LineParity::Space) << "the port is left in SPACE";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ComDataPty,
    ::testing::Values(
        ComDataCase{"GoodReply",
                    {0x07, 0xC3, 0x01},
                    {0x0A, 0x0B},
                    with_checksum({0x31, 0x32, 0x33}),
                    3,
                    TARVEX_OK},
        // The command code changes nothing: 0xC5 sends the caller's 3 bytes.
        ComDataCase{"C5SendsTheCallersBlock",
                    {0x07, 0xC5},
                    {0x01, 0x02, 0x03},
                    with_checksum({0x44}),
                    1,
                    TARVEX_OK},
        ComDataCase{"NoBlockReplyStillRead", {0x07, 0xC3}, {}, with_checksum({0x55, 0x66}), 2,
                    TARVEX_OK},
        ComDataCase{"WrongChecksum",
                    {0x07, 0xC3, 0x01},
                    {0x0A},
                    {0x31, 0x32, 0x33, 0x00},
                    3,
                    TARVEX_REPLY_WRONG}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- sam_GetData: a raw frame, its two address bytes under MARK -------------

struct SamCase {
  const char* name;
  Bytes frame;  // sent exactly as given
  Bytes answer;
  std::int32_t reply_length;
  std::int32_t result;
};

void PrintTo(const SamCase& c, std::ostream* os) { *os << c.name; }

class SamGetDataPty : public ::testing::TestWithParam<SamCase> {};

TEST_P(SamGetDataPty, RawFrameRawReply) {
  const SamCase& c = GetParam();
  PtyTerminal terminal;
  const HeldPort port(terminal);
  ASSERT_NE(port.get(), TARVEX_INVALID_PORT);
  terminal.then(c.frame.size(), c.answer, 2ms);
  Bytes frame = c.frame;
  Bytes reply(static_cast<std::size_t>(c.reply_length) + 1, 0xEE);

  const Clock::time_point start = Clock::now();
  const std::int32_t result =
      sam_GetData(port.get(), length(frame), frame.data(), c.reply_length, reply.data(), 1000);
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(frame, c.frame) << "nothing is written into a raw frame";
  Bytes expected_reply = c.answer;
  expected_reply.resize(static_cast<std::size_t>(c.reply_length), 0xEE);
  expected_reply.push_back(0xEE);
  EXPECT_EQ(hex(reply), hex(expected_reply)) << "exactly N bytes, no checksum byte";
  EXPECT_EQ(heard_once(terminal, c.frame.size()), hex(c.frame)) << "no checksum, no acknowledgement";

  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), c.frame.size());
  note_unless(heard[0], LineParity::Mark);
  note_unless(heard[1], LineParity::Mark);
  expect_all_under(heard, 2, heard.size(), kDataPhase);
  EXPECT_TRUE(more_than(start, heard[0].at, 18ms)) << "19 ms before the address";
  if (c.result == TARVEX_REPLY_INCOMPLETE) {
    EXPECT_TRUE(more_than(terminal.answers().at(0).last_at, end, 1000ms))
        << "one per-byte limit for the missing byte";
  }
  EXPECT_LT(since(start, end), kGenerous);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SamGetDataPty,
    ::testing::Values(SamCase{"AddressThenData",
                              {0x12, 0x34, 0xA1, 0xB2, 0xC3},
                              {0x01, 0x02, 0x03, 0x04},
                              4,
                              TARVEX_OK},
                      SamCase{"AddressOnly", {0x12, 0x34}, {0x55, 0x66}, 2, TARVEX_OK},
                      SamCase{"ShortReply",
                              {0x12, 0x34, 0xA1},
                              {0x01, 0x02},
                              3,
                              TARVEX_REPLY_INCOMPLETE}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace tarvex::testing
