// One exchange of each family through the Linux shared object's exported
// functions, to a terminal behind ser2net: the port is
// rfc2217://127.0.0.1:PORT, and the terminal checks every byte and the
// parity ser2net put on the device for it.
//
// The terminal answers once it has heard a frame, so every byte it heard was
// sampled before the library could switch the line again: a data byte's
// sample is exact. An address byte is followed by a switch the library sends
// once the byte is due to have left the line, and ser2net can apply it before
// the terminal's thread reads the byte: its sample is only noted.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "card_list.h"
#include "link_relay.h"
#include "network_checks.h"
#include "pty_checks.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

struct ExchangeCase {
  const char* name;
  std::vector<PtyTerminal::Step> script;
  Bytes wire;                              // every byte the terminal hears
  std::vector<std::size_t> address_bytes;  // their indexes in `wire`
  Setting data;                            // the setting of every other byte
  // The call on the port name; fills `out` with what the caller's buffer holds.
  std::function<std::int32_t(const char* port, Bytes& out)> call;
  Bytes out;
  // Strictly less than the call lasts: the line time of bytes it waits out.
  milliseconds at_least{0};
};

void PrintTo(const ExchangeCase& c, std::ostream* os) {
  *os << c.name;
}

const Bytes kQueryReply = with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00});
const Bytes kAck{0x02, 0x4F};
constexpr Setting kSpace{LineParity::Space, 9600};

// 800 cards from 1: a bitmap of 100 bytes, every one 0xFF.
const CardSeries kEveryCard{1, 1, 800};

std::vector<ExchangeCase> exchange_cases() {
  std::vector<ExchangeCase> cases;
  // Reply bytes a cooked line would change (CR, LF, XON, XOFF, ^C).
  cases.push_back({"RequestReply",
                   {{5, with_checksum({0x20, 0x0D, 0x0A, 0x11, 0x13, 0x03})}},
                   concat(with_checksum({0x05, 0xC2, 0x01, 0x02}), kAck),
                   {0},
                   kSpace,
                   [](const char* port, Bytes& out) {
                     Bytes frame = checksum_buffer({0x05, 0xC2, 0x01, 0x02});
                     out.assign(7, 0);
                     return getdata(4, frame.data(), 6, out.data(), port);
                   },
                   with_checksum({0x20, 0x0D, 0x0A, 0x11, 0x13, 0x03})});
  // 0xFF is telnet's escape: doubled on the way out, undone on the way in.
  cases.push_back({"FrameAndReplyFullOf0xFF",
                   {{6, with_checksum(Bytes(8, 0xFF))}},
                   concat(with_checksum({0x05, 0xC2, 0xFF, 0xFF, 0xFF}), kAck),
                   {0},
                   kSpace,
                   [](const char* port, Bytes& out) {
                     Bytes frame = checksum_buffer({0x05, 0xC2, 0xFF, 0xFF, 0xFF});
                     out.assign(9, 0);
                     return getdata(5, frame.data(), 8, out.data(), port);
                   },
                   with_checksum(Bytes(8, 0xFF))});
  cases.push_back({"DataBlockWithTwoStopBits",
                   {{7, kAck}},
                   concat(with_checksum({0x05, 0xB1, 0x10}), with_checksum({0xAA, 0xBB})),
                   {0},
                   {LineParity::Space, 9600, true},
                   [](const char* port, Bytes& out) {
                     Bytes frame = checksum_buffer({0x05, 0xB1, 0x10});
                     out = checksum_buffer({0xAA, 0xBB});
                     return senddata(3, frame.data(), 2, out.data(), port);
                   },
                   with_checksum({0xAA, 0xBB})});
  // The port is closed and opened again between the address byte and the
  // rest: a second connection to the server.
  cases.push_back({"HexTextOverAReopenedPort",
                   {{4, {0x12, 0xAB, 0xBD}}},
                   concat(with_checksum({0x05, 0xC1, 0x01}), kAck),
                   {0},
                   kSpace,
                   [](const char* port, Bytes& out) {
                     char text[6] = {};
                     const std::int32_t result = getdata_hex(3, "05c101", 2, text, port);
                     out.assign(text, text + sizeof text);
                     return result;
                   },
                   {'1', '2', 'A', 'B', 'B', 'D'}});
  // The block is 107 bytes, 100 of them 0xFF: its write lasts until its last
  // byte is due to start, 106 character times after its first.
  const Bytes block = bitmap_block(kEveryCard);
  cases.push_back({"BlacklistBlockFullOf0xFF",
                   {{5 + block.size(), kAck}},
                   concat({0x05, 0xA5, 0x00, 0x00, 0xAA}, block),
                   {0},
                   kSpace,
                   [](const char* port, Bytes& out) {
                     const Bytes entries = card_entries(kEveryCard);
                     out.clear();
                     return sendBlack(0x105, static_cast<std::int32_t>(entries.size() / 3),
                                      entries.data(), port);
                   },
                   {},
                   milliseconds{static_cast<long>((block.size() - 1) * 11 * 1000 / 9600)}});
  cases.push_back({"OnLineQueryBothPhases",
                   {{5, kQueryReply}, {5, {0x00, 0x05, 0x0A, 0x0B, 0x00, 0x1A}}},
                   {0x05, 0xA0, 0x00, 0x00, 0xA5, 0x00, 0xB4, 0x12, 0x34, 0xFA},
                   {0, 5},
                   kSpace,
                   [](const char* port, Bytes& out) {
                     out.assign(7, 0xEE);
                     return onNet(5, out.data(), port);
                   },
                   {0x05, 0x0A, 0x0B, 0x01, 0x02, 0x03, 0x04}});
  return cases;
}

class NetworkExchange : public ::testing::TestWithParam<ExchangeCase> {};

// The exchange through ser2net, or through a link of `one_way` each way
// between the library and ser2net.
void expect_exchange(const ExchangeCase& c, std::chrono::microseconds one_way) {
  ServedTerminal served;
  std::optional<bench::LinkRelay> link;
  if (one_way > 0us) link.emplace(served.server.port_name(), bench::LinkRelay::Shape{one_way});
  for (const PtyTerminal::Step& step : c.script) served.terminal.then(step);
  Bytes out;

  const Clock::time_point start = Clock::now();
  const std::int32_t result = c.call(link ? link->port_name().c_str() : served.port(), out);
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, TARVEX_OK);
  EXPECT_EQ(hex(out), hex(c.out));
  EXPECT_EQ(heard_once(served.terminal, c.wire.size()), hex(c.wire));
  const std::vector<HeardByte> heard = served.terminal.heard();
  ASSERT_EQ(heard.size(), c.wire.size());
  for (std::size_t i = 0; i < heard.size(); ++i) {
    if (std::find(c.address_bytes.begin(), c.address_bytes.end(), i) != c.address_bytes.end()) {
      note_unless(heard[i], LineParity::Mark);
    } else {
      expect_all_under(heard, i, i + 1, c.data);
    }
  }
  EXPECT_TRUE(more_than(start, end, c.at_least));
  EXPECT_LT(since(start, end), kGenerous);
}

TEST_P(NetworkExchange, BytesAndParityReachTheTerminal) {
  expect_exchange(GetParam(), 0us);
}

// Each reply comes a round trip after its frame, 100 ms here: more than
// some of the line's own limits.
TEST_P(NetworkExchange, AcrossA50msLink) {
  expect_exchange(GetParam(), 50ms);
}

INSTANTIATE_TEST_SUITE_P(Families, NetworkExchange, ::testing::ValuesIn(exchange_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

// A link that gathers what the library sends and lets it go every 20 ms, as
// a resent packet carries everything held behind it: the server must still
// have put each address byte on its line before it reads the switch to
// SPACE, which it applies at once. (A1 has no acknowledgement: ser2net
// flushes its device when a client goes, which on a pseudo-terminal drops
// what the terminal's thread has not read yet, however long ago it came.)
TEST(NetworkBursts, NoAddressByteLeavesUnderSpace) {
  ServedTerminal served;
  const bench::LinkRelay link(served.server.port_name(), {0us, 20ms});
  constexpr std::size_t kCalls = 200;
  for (std::size_t call = 0; call < kCalls; ++call) {
    served.terminal.then(3, with_checksum({0x31, 0x32}));
  }
  for (std::size_t call = 0; call < kCalls; ++call) {
    std::uint8_t frame[3] = {0x05, 0xA1};
    std::uint8_t out[3] = {};
    ASSERT_EQ(getdata(2, frame, 2, out, link.port_name().c_str()), TARVEX_OK) << "call " << call;
  }
  const std::vector<HeardByte> heard = served.terminal.heard();
  ASSERT_EQ(heard.size(), 3 * kCalls);
  for (std::size_t at = 0; at < heard.size(); at += 3) {
    EXPECT_EQ(heard[at].line.parity, LineParity::Mark) << describe(heard[at]);
  }
}

// ser2net sends a small segment only once its last one is acknowledged: a
// reply whose bytes reach it 2 ms apart goes in several, and a host that
// delayed its acknowledgements (40 ms on Linux) would get the rest that much
// later.
TEST(NetworkHeldPort, RepliesComeWithoutADelayedAcknowledgement) {
  ServedTerminal served;
  const tarvex_port_t port = com_init(served.port(), 9600);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  for (int call = 0; call < 20; ++call) {
    served.terminal.then({call == 0 ? 3u : 2u + 3u, with_checksum({0x31, 0x32}), 1ms, 2ms});
    std::uint8_t frame[3] = {0x07, 0xA1};
    std::uint8_t reply[3] = {};
    ASSERT_EQ(HANDLE_GetData(port, 2, frame, 2, reply, 2000), TARVEX_OK);
    const Clock::time_point end = Clock::now();
    EXPECT_LT(since(served.terminal.answers().back().last_at, end), 20ms) << "call " << call;
  }
  com_exit(port);
}

// ---- A held port -------------------------------------------------------------

// The line setting the server applies comes through the stream after the
// call that sent it has returned: wait for it.
LineSample line_once(const PtyTerminal& terminal, LineParity parity) {
  const Clock::time_point until = Clock::now() + kPatience;
  LineSample now = terminal.line_now();
  while (now.parity != parity && Clock::now() < until) {
    std::this_thread::sleep_for(1ms);
    now = terminal.line_now();
  }
  return now;
}

// com_init holds the server's port: a second client is turned away (the
// server allows one), by handle and by name, until com_exit gives it back.
TEST(NetworkHeldPort, SessionIsExclusiveUntilExit) {
  ServedTerminal served;
  const tarvex_port_t port = com_init(served.port(), 19200);
  ASSERT_NE(port, TARVEX_INVALID_PORT);
  const LineSample fresh = line_once(served.terminal, LineParity::Mark);
  EXPECT_EQ(fresh.parity, LineParity::Mark);
  EXPECT_EQ(fresh.baud, 19200u);

  errno = 0;
  EXPECT_EQ(com_init(served.port(), 19200), TARVEX_INVALID_PORT);
  EXPECT_EQ(errno, EBUSY) << "the server turned the second client away";
  std::uint8_t frame[4] = {0x07, 0xA1, 0x00};
  std::uint8_t reply[3] = {};
  EXPECT_EQ(getdata(3, frame, 2, reply, served.port()), TARVEX_FRAME_NOT_SENT);

  // HANDLE_GetData: frame, reply, acknowledgement.
  const Bytes first_reply = with_checksum({0x31, 0x32});
  served.terminal.then(4, first_reply, 2ms);
  EXPECT_EQ(HANDLE_GetData(port, 3, frame, 2, reply, 2000), TARVEX_OK);
  EXPECT_EQ(hex(Bytes(reply, reply + 3)), hex(first_reply));
  // HANDLE_ComData (the module family): frame, block, reply, no acknowledgement.
  const Bytes second_reply = with_checksum({0x41, 0x42, 0x43});
  served.terminal.then(2 + 4 + 3, second_reply, 2ms);  // since the first reply
  Bytes module_frame = checksum_buffer({0x07, 0xC3, 0x01});
  Bytes block = checksum_buffer({0x0A, 0x0B});
  Bytes module_reply(4, 0);
  EXPECT_EQ(
      HANDLE_ComData(port, 3, module_frame.data(), 2, block.data(), 3, module_reply.data(), 2000),
      TARVEX_OK);
  EXPECT_EQ(hex(module_reply), hex(second_reply));

  const Bytes wire = concat(concat(with_checksum({0x07, 0xA1, 0x00}), kAck),
                            concat(with_checksum({0x07, 0xC3, 0x01}), with_checksum({0x0A, 0x0B})));
  EXPECT_EQ(heard_once(served.terminal, wire.size()), hex(wire));
  const std::vector<HeardByte> heard = served.terminal.heard();
  expect_address_then_data(heard, 0, 5, {LineParity::Space, 19200});
  expect_address_then_data(heard, 6, 6, {LineParity::Space, 19200});

  EXPECT_EQ(com_exit(port), TARVEX_OK);
  const tarvex_port_t again = com_init(served.port(), 19200);
  EXPECT_NE(again, TARVEX_INVALID_PORT) << "given back at com_exit";
  com_exit(again);
}

}  // namespace
}  // namespace tarvex::testing
