// The data-block family and the hex-text exchanges in the x86_64 DLL under
// wine64: frames, blocks, acknowledgements and the line settings of their
// data phases, several calls to one run of the host.
#include <gtest/gtest.h>

#include "pty_checks.h"
#include "wine_checks.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

constexpr Setting kTwoStopBits{LineParity::Space, 9600, true};
constexpr Setting kOneStopBit{LineParity::Space, 9600};

// senddata acknowledged; nSendData at the caller's baud with both
// acknowledgement bytes compared; senddata with 0xB5, which awaits none, last
// (nothing the library does after it can change its bytes' samples).
TEST_F(WineTest, SenddataAndNSendData) {
  const Bytes first = concat(with_checksum({0x05, 0xC1, 0x01}), with_checksum({0x01, 0x02, 0x03}));
  const Bytes second = concat(with_checksum({0x09, 0xC1, 0x07}), with_checksum({0xA0, 0xB0}));
  const Bytes third = concat(with_checksum({0x05, 0xB5}), {0xFF, 0x02, 0x01});
  terminal.then(first.size(), {0x02, 0x00}, 2ms).then(second.size(), {0x02, 0x00}, 2ms);

  const HostRun run = WineHost::run(
      terminal, {"senddata", "05C101", "010203", "+", "nsenddata", "09C107", "A0B0", "19200",
                 "2000", "+", "senddata", "05B5", "FF02"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  const HostCase senddata_acknowledged = run.case_at(0);
  EXPECT_EQ(senddata_acknowledged["result"], "0") << "only the first byte is compared";
  EXPECT_EQ(senddata_acknowledged["frame"], "05 C1 01 C7");
  EXPECT_EQ(senddata_acknowledged["block"], "01 02 03 06");
  EXPECT_GE(ticks(senddata_acknowledged), 9 + 10 + 10 + 11);
  const HostCase nsenddata = run.case_at(1);
  EXPECT_EQ(nsenddata["result"], "4") << "both bytes are compared";
  EXPECT_GE(ticks(nsenddata), 9 + 9 + 10 + 11);
  const HostCase no_acknowledgement = run.case_at(2);
  EXPECT_EQ(no_acknowledgement["result"], "0") << run.output;
  EXPECT_EQ(no_acknowledgement["block"], "FF 02 01") << "the checksum wraps";
  EXPECT_GE(ticks(no_acknowledgement), 9 + 10 + 10);

  const Bytes wire = concat(concat(first, second), third);
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, first.size() - 1, kTwoStopBits);
  expect_address_then_data(heard, first.size(), second.size() - 1, {LineParity::Space, 19200});
  expect_address_then_data(heard, first.size() + second.size(), third.size() - 1, kTwoStopBits);
}

// senddata_hex first (its bytes are all heard before it is acknowledged),
// then getdata_hex, whose acknowledgement is the last thing on the line.
TEST_F(WineTest, SenddataHexAndGetdataHex) {
  const Bytes send = concat(with_checksum({0x05, 0xC1}), with_checksum({0x0A, 0x0B, 0x0C}));
  const Bytes get = with_checksum({0x05, 0xC1, 0x01});
  terminal.then(send.size(), {0x02, 0x4F}, 2ms).then(get.size(), {0x12, 0xAB, 0xBD}, 2ms);

  const HostRun run = WineHost::run(
      terminal, {"senddata_hex", "05c1", "0a0B0c", "+", "getdata_hex", "05c101", "2"});
  ASSERT_EQ(run.exit_status, 0) << run.output;
  EXPECT_EQ(run.case_at(0)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(1)["result"], "0") << run.output;
  EXPECT_EQ(run.case_at(1)["text"], "12ABBD##") << "the reply as text, no terminator";

  const Bytes wire = concat(concat(send, get), {0x02, 0x4F});
  EXPECT_EQ(heard_once(wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  expect_address_then_data(heard, 0, send.size() - 1, kOneStopBit);
  expect_address_then_data(heard, send.size(), get.size() + 1, kOneStopBit);
}

}  // namespace
}  // namespace tarvex::testing
