// The telnet layer of a network port, on bytes alone: what the server's
// stream hands over as data and what it takes out, the client's side of the
// option negotiation, and the bytes the client sends.
#include "line/telnet_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvex::testing {
namespace {

using namespace line::telnet;
using Bytes = std::vector<std::uint8_t>;

std::string hex(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += (text.empty() ? "" : " ") + std::string(pair);
  }
  return text;
}

std::string verb_name(std::uint8_t verb) {
  switch (verb) {
    case kWill: return "WILL";
    case kWont: return "WONT";
    case kDo: return "DO";
    case kDont: return "DONT";
    default: return "?";
  }
}

// What a stream decodes to: data bytes as hex, an option as "WILL 2C", a
// subnegotiation as "SB[2C 65 ...]".
std::string decoded(const Bytes& stream) {
  Decoder decoder;
  std::string text;
  for (const std::uint8_t byte : stream) {
    const Decoder::Item item = decoder.take(byte);
    std::string word;
    switch (item.kind) {
      case Decoder::Kind::Data: word = hex(&item.value, 1); break;
      case Decoder::Kind::Option: word = verb_name(item.value) + " " + hex(&item.option, 1); break;
      case Decoder::Kind::Subnegotiation: {
        const auto sub = decoder.parameters();
        word = "SB[" + hex(sub.data(), sub.size()) + "]";
        break;
      }
      case Decoder::Kind::Nothing: continue;
    }
    text += (text.empty() ? "" : " ") + word;
  }
  return text;
}

TEST(TelnetDecoder, CommandsLeaveTheDataStream) {
  struct Case {
    const char* name;
    Bytes stream;
    const char* data_and_commands;
  };
  const Case cases[] = {
      {"data as it is", {0x05, 0x0D, 0x0A, 0x00}, "05 0D 0A 00"},
      {"IAC IAC is one 0xFF", {0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}, "FF 01 FF FF"},
      {"options between data bytes",
       {0x41, 0xFF, kWill, 0x00, 0xFF, kWont, 0x2C, 0xFF, kDo, 0x03, 0xFF, kDont, 0x01, 0x42},
       "41 WILL 00 WONT 2C DO 03 DONT 01 42"},
      {"NOP, go-ahead, data mark and a stray SE are nothing",
       {0xFF, 0xF1, 0x41, 0xFF, 0xF9, 0xFF, 0xF2, 0xFF, kSe, 0x42},
       "41 42"},
      // The server's answer to a baud query for 9600, and one for 65535,
      // whose 0xFF bytes it doubles.
      {"subnegotiations, with IAC IAC inside",
       {0x01, 0xFF, kSb,  0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF, kSe,  0x02,
        0xFF, kSb,  0x2C, 0x65, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kSe},
       "01 SB[2C 65 00 00 25 80] 02 SB[2C 65 00 00 FF FF]"},
      {"a long subnegotiation is cut short, and ends where it ends",
       [] {
         Bytes stream{0xFF, kSb, 0x2C, 0x00};
         stream.insert(stream.end(), 20, 0x61);
         stream.insert(stream.end(), {0xFF, kSe, 0x42});
         return stream;
       }(),
       "SB[2C 00 61 61 61 61 61 61 61 61 61 61 61 61 61 61] 42"},
      {"a subnegotiation never closed ends at the next command",
       {0xFF, kSb, 0x2C, 0x6B, 0x00, 0xFF, kWill, 0x00, 0x41},
       "WILL 00 41"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.stream), c.data_and_commands);
  }
}

// The server's side of the negotiation as a list of (verb, option); the
// client's answers, and whether the options it needs are in force.
TEST(TelnetNegotiation, AnswersOnlyWhatChangesAndNeedsBinaryAndComPort) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> server;
    const char* answers;
    bool ready;
    bool refused;
  };
  const Case cases[] = {
      // What ser2net sends at once on a new connection.
      {"a com port server's greeting",
       {{kWill, kSuppressGoAhead},
        {kDo, kSuppressGoAhead},
        {kWill, 0x01},
        {kDont, 0x01},
        {kDo, kBinary},
        {kWill, kBinary},
        {kDo, kComPort}},
       "FF FD 03 FF FC 03 FF FE 01",
       true,
       false},
      {"confirmations are not confirmed again",
       {{kDo, kBinary}, {kWill, kBinary}, {kDo, kComPort}, {kDo, kBinary}, {kWill, kBinary}},
       "",
       true,
       false},
      {"the com port option refused",
       {{kDo, kBinary}, {kWill, kBinary}, {kDont, kComPort}},
       "",
       false,
       true},
      {"binary refused", {{kWont, kBinary}, {kDo, kBinary}, {kDo, kComPort}}, "", false, true},
      {"binary switched off later is acknowledged",
       {{kDo, kBinary}, {kWill, kBinary}, {kDo, kComPort}, {kWont, kBinary}},
       "FF FE 00",
       false,
       false},
      {"options the client does not use are refused once, their refusals not answered",
       {{kWill, 0x18}, {kDo, 0x1F}, {kWont, 0x18}, {kDont, 0x1F}},
       "FF FE 18 FF FC 1F",
       false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Negotiation negotiation;
    std::uint8_t request[Negotiation::kRequestBytes];
    ASSERT_EQ(negotiation.start(request), Negotiation::kRequestBytes);
    EXPECT_EQ(hex(request, sizeof request), "FF FB 00 FF FD 00 FF FB 2C");
    std::string answers;
    for (const auto& [verb, option] : c.server) {
      std::uint8_t answer[3];
      const std::size_t length = negotiation.answer(verb, option, answer);
      if (length > 0) answers += (answers.empty() ? "" : " ") + hex(answer, length);
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(negotiation.ready(), c.ready);
    EXPECT_EQ(negotiation.refused(), c.refused);
  }
}

TEST(TelnetEncoding, DataAndCommandsDoubleEvery0xFF) {
  std::uint8_t out[kCommandBytes];
  struct Escape {
    Bytes data;
    std::size_t capacity;
    const char* written;
    std::size_t taken;
  };
  const Escape escapes[] = {
      {{0x41, 0xFF, 0x42}, 8, "41 FF FF 42", 3},
      {{0x41, 0xFF}, 2, "41", 1},  // half a doubled 0xFF never goes
      {{0xFF, 0xFF}, 4, "FF FF FF FF", 2},
  };
  for (const Escape& e : escapes) {
    const Escaped done = escape(e.data, out, e.capacity);
    EXPECT_EQ(hex(out, done.written), e.written);
    EXPECT_EQ(done.taken, e.taken);
  }
  struct Command {
    std::uint8_t code;
    std::uint32_t value;
    std::size_t value_bytes;
    const char* bytes;
  };
  const Command commands[] = {
      {kSetBaudrate, 9600, 4, "FF FA 2C 01 00 00 25 80 FF F0"},
      {kSetBaudrate, 0xFFFFFFFFu, 4, "FF FA 2C 01 FF FF FF FF FF FF FF FF FF F0"},
      {kSetParity, 4, 1, "FF FA 2C 03 04 FF F0"},  // MARK
      {kSetStopsize, 2, 1, "FF FA 2C 04 02 FF F0"},
      {kPurgeData, 1, 1, "FF FA 2C 0C 01 FF F0"},  // the server's input buffer
  };
  for (const Command& c : commands) {
    EXPECT_EQ(hex(out, com_port_command(c.code, c.value, c.value_bytes, out)), c.bytes);
  }
}

}  // namespace
}  // namespace tarvex::testing
