// The hex-text exchanges through the Linux shared object: command and block
// as hex text, the reply handed back as hex text, the port re-opened between
// the address byte and the rest, over a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

constexpr Setting kDataPhase{LineParity::Space, 9600};

// ---- getdata_hex -------------------------------------------------------------

struct GetdataHexCase {
  const char* name;
  const char* command;  // hex text, any case
  Bytes wire_frame;     // what it stands for, its checksum last
  Bytes answer;
  std::int32_t reply_length;
  std::int32_t result;
  const char* reply_text;   // what the caller's text buffer holds afterwards
  Bytes after_reply;        // what the library sends after the reply
};

void PrintTo(const GetdataHexCase& c, std::ostream* os) { *os << c.name; }

class GetdataHexPty : public ::testing::TestWithParam<GetdataHexCase> {};

TEST_P(GetdataHexPty, TextInTextOut) {
  const GetdataHexCase& c = GetParam();
  PtyTerminal terminal;
  terminal.then(c.wire_frame.size(), c.answer, 2ms);
  const std::string command = c.command;
  // Room for the reply text and two bytes that must stay as they are: the
  // text has no terminator.
  std::string text(2 * (static_cast<std::size_t>(c.reply_length) + 1) + 2, '#');

  const std::int32_t result =
      getdata_hex(static_cast<std::int32_t>(command.size() / 2), command.data(), c.reply_length,
                  text.data(), terminal.port().c_str());

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(text, std::string(c.reply_text) + "##");
  const Bytes wire = concat(c.wire_frame, c.after_reply);
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
  EXPECT_EQ(command, c.command) << "the command text is only read";
  expect_address_then_data(terminal.heard(), 0, wire.size() - 1, kDataPhase);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, GetdataHexPty,
    ::testing::Values(
        // Acknowledged whatever the command code.
        GetdataHexCase{"GoodReplyAcknowledged",
                       "05c101",
                       with_checksum({0x05, 0xC1, 0x01}),
                       {0x12, 0xAB, 0xBD},
                       2,
                       TARVEX_OK,
                       "12ABBD",
                       {0x02, 0x4F}},
        GetdataHexCase{"WrongChecksumTextKeptNoAcknowledgement",
                       "0A9f",
                       with_checksum({0x0A, 0x9F}),
                       {0x0D, 0x0A, 0xFF, 0x10},
                       3,
                       TARVEX_REPLY_WRONG,
                       "0D0AFF10",
                       {}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- senddata_hex --------------------------------------------------------------

// One stop bit in the data phase (senddata has two), and both acknowledgement
// bytes compared (senddata looks at the first only).
TEST(SenddataHexPty, TextFrameAndBlockBothAcknowledgementBytes) {
  struct Answer {
    Bytes bytes;
    std::int32_t result;
  };
  for (const Answer& a : {Answer{{0x02, 0x4F}, TARVEX_OK}, Answer{{0x02, 0x00}, TARVEX_REPLY_WRONG}}) {
    SCOPED_TRACE(hex(a.bytes));
    PtyTerminal terminal;
    const Bytes wire = concat(with_checksum({0x05, 0xC1}), with_checksum({0x0A, 0x0B, 0x0C}));
    terminal.then(wire.size(), a.bytes, 2ms);
    const std::string command = "05c1";
    const std::string block = "0a0B0c";
    EXPECT_EQ(senddata_hex(2, command.data(), 3, block.data(), terminal.port().c_str()), a.result);
    EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
    expect_address_then_data(terminal.heard(), 0, wire.size() - 1, kDataPhase);
    EXPECT_EQ(command + block, "05c10a0B0c") << "the texts are only read";
  }
}

}  // namespace
}  // namespace tarvex::testing
