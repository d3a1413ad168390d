#include "exchange_cases.h"

#include <chrono>

namespace tarvex::bench {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;

Bytes with_checksum(Bytes data) {
  std::uint8_t sum = 0;
  for (const std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  data.push_back(sum);
  return data;
}

// A reply of 8 data bytes and its checksum.
const Bytes kReply = with_checksum({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
const Bytes kAck = {0x02, 0x4F};

// 1000 cards, every 8th from 8 to 8000: a bitmap of 1000 bytes, a block of
// 1007 bytes with its checksum.
Bytes thousand_cards() {
  Bytes entries;
  for (std::uint32_t k = 1; k <= 1000; ++k) {
    const std::uint32_t card = 8 * k;
    entries.push_back(static_cast<std::uint8_t>(card >> 16));
    entries.push_back(static_cast<std::uint8_t>(card >> 8));
    entries.push_back(static_cast<std::uint8_t>(card));
  }
  return entries;
}

}  // namespace

// The step lists below follow each exchange's sequence: writes (frame bytes
// on the wire, the checksum included) and busy waits, in order. A line
// setting or a close costs something only right after a write, whose last
// byte it waits for (line_setting_or_close); drains and reads that find
// their bytes waiting cost nothing. Two stop bits make 12 bits a character.
std::vector<Case> exchange_cases() {
  std::vector<Case> cases;
  cases.push_back({"getdata",
                   "05 A1 10 20, 8-byte reply (limit 80 ms, no acknowledgement)",
                   // address byte; 9; SPACE; 9; rest of the frame; drain; reply; 9
                   {write(1), busy(9), busy(9), write(4), busy(9)},
                   {{5, kReply, 0ms}},
                   [](const char* port, tarvex_port_t) {
                     std::uint8_t frame[5] = {0x05, 0xA1, 0x10, 0x20, 0};
                     std::uint8_t reply[9] = {};
                     return getdata(4, frame, 8, reply, port);
                   }});
  cases.push_back(
      {"senddata",
       "05 C1 10 20, 10-byte block, acknowledged",
       // address byte; 9; SPACE, two stop bits; 10; rest; drain; 10; block; 11; acknowledgement
       {write(1), busy(9), busy(10), write(4, 12), busy(10), write(11, 12), busy(11)},
       {{16, kAck, 0ms}},
       [](const char* port, tarvex_port_t) {
         std::uint8_t frame[5] = {0x05, 0xC1, 0x10, 0x20, 0};
         std::uint8_t block[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
         return senddata(4, frame, 10, block, port);
       }});
  cases.push_back({"HANDLE_GetData",
                   "held port, 05 A1 10 20, 8-byte reply, limit 1000 ms",
                   // 19; address byte; 19; SPACE; 19; rest; drain; reply; 5; acknowledgement; 5
                   {busy(19), write(1), busy(19), busy(19), write(4), busy(5), write(2), busy(5)},
                   {{5, kReply, 0ms}},
                   [](const char*, tarvex_port_t held) {
                     std::uint8_t frame[5] = {0x05, 0xA1, 0x10, 0x20, 0};
                     std::uint8_t reply[9] = {};
                     return HANDLE_GetData(held, 4, frame, 8, reply, 1000);
                   },
                   9600});
  cases.push_back(
      {"HANDLE_SendData",
       "held port, 05 C1 10 20, 10-byte block, limit 1000 ms",
       // 19; MARK; 19; address byte; 19; SPACE; 19; rest; drain; 20; block; acknowledgement
       {busy(19), busy(19), write(1), busy(19), busy(19), write(4), busy(20), write(11)},
       {{16, kAck, 0ms}},
       [](const char*, tarvex_port_t held) {
         std::uint8_t frame[5] = {0x05, 0xC1, 0x10, 0x20, 0};
         std::uint8_t block[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
         return HANDLE_SendData(held, 4, frame, 10, block, 1000);
       },
       9600});
  cases.push_back({"onNet",
                   "address 05, both phases answered, record filled",
                   // address; 9; SPACE; 9; frame 1; drain; reply 1; 11; MARK; 16; address 00; 16;
                   // SPACE; 16; frame 2; drain; 6; reply 2
                   {write(1), busy(9), busy(9), write(4), busy(11), busy(16), write(1), busy(16),
                    busy(16), write(4), busy(6)},
                   {{5, with_checksum({0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x00}), 0ms},
                    {5, with_checksum({0x00, 0x05, 0x0A, 0x0B, 0x00}), 0ms}},
                   [](const char* port, tarvex_port_t) {
                     std::uint8_t record[7] = {};
                     return onNet(5, record, port);
                   }});
  cases.push_back({"getdata_hex",
                   "\"05A11020\", 8-byte reply as text, acknowledged at once",
                   // address byte; re-open; rest; drain; reply; acknowledgement; release: no busy
                   // wait at all
                   {write(1), line_setting_or_close(), write(4), write(2), line_setting_or_close()},
                   {{5, kReply, 0ms}},
                   [](const char* port, tarvex_port_t) {
                     char reply[18] = {};
                     return getdata_hex(4, "05A11020", 8, reply, port);
                   }});
  cases.push_back(
      {"sendBlack",
       "1000 cards (8, 16, ..., 8000): a 1007-byte block",
       // block built; address byte; re-open; frame; drain; block;
       // acknowledgement; release
       {write(1), line_setting_or_close(), write(4), write(1007), line_setting_or_close()},
       {{1 + 4 + 1007, kAck, 0ms}},
       [](const char* port, tarvex_port_t) {
         static const Bytes cards = thousand_cards();
         return sendBlack(5, 1000, cards.data(), port);
       }});
  cases.push_back({"Nget at 1200 baud",
                   "held port from com_init at 1200, 05 A1 and 18 bytes: the write gives up "
                   "before the line has taken them all",
                   // the whole frame, 21 bytes at 9.2 ms each: the write's own limit
                   // (115 ms) runs out first and the drain wait takes over; reply. No
                   // busy wait at all.
                   {write(21, 11, 1200)},
                   {{21, kReply, 0ms}},
                   [](const char*, tarvex_port_t held) {
                     std::uint8_t frame[21] = {0x05, 0xA1};
                     std::uint8_t reply[9] = {};
                     return Nget(20, frame, 8, reply, held);
                   },
                   1200});
  return cases;
}

std::uint32_t bytes_written(const Case& c) {
  std::uint32_t bytes = 0;
  for (const Step& step : c.steps) bytes += step.write_bytes;
  return bytes;
}

}  // namespace tarvex::bench
