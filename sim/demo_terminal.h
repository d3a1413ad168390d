// A behavioural terminal for the tool and for end-to-end tests: it answers
// at one bus address, keeps a little memory, a parameter record and a card
// blacklist, and speaks the frames the library sends. It honours no more than
// the line rules: an address byte under MARK parity selects it (0x00 selects
// every terminal), the frame follows under any parity, the checksum must
// match, and a data block follows the frames whose command code has one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/sim_bus.h"

namespace tarvex::sim {

class DemoTerminal final : public Terminal {
 public:
  explicit DemoTerminal(std::uint8_t address);

  // What the demo terminal understands, by command code (n: frame length
  // without the checksum; a block carries its own additive checksum):
  //   0xA0 (n = 4)  on-line query, phase 1: 7 bytes, a session token (2),
  //                 the serial number (4) and a status byte
  //   0xB4 (n = 4)  on-line query, phase 2, sent to address 0x00 with the
  //                 token: the terminal holding that token answers 5 bytes:
  //                 0x00, its address, firmware major and minor, 0x00
  //   0xA1 (n = 2)  status: address, 0x01 (on line), frames served, 0x00
  //   0xC1 (n = 4)  read memory [addr, C1, offset, count]: `count` bytes
  //   0xC2 (n = 2)  read the record log: 8 bytes; the host acknowledges them
  //   0xB1 (n = 4)  write memory [addr, B1, offset, count] + block of `count`
  //                 bytes: acknowledged 02 4F (02 4E for a bad block checksum)
  //   0xB5 (n = 4)  the same write, never acknowledged
  //   0xC5 (n = 2)  set the parameter record: block of 10 bytes, acknowledged
  //   0xA5 (n = 4)  blacklist download: a blacklist block (00 00, length L
  //                 little-endian, page, offset, L bitmap bytes), acknowledged.
  //                 One byte adds its cards; more replace the bitmap from
  //                 their index on.
  static std::size_t frame_length(std::uint8_t command_code);

  void on_byte(const trace::WireByte& byte, Responder& line) override;

  std::uint8_t address() const { return address_; }
  std::array<std::uint8_t, 256>& memory() { return memory_; }
  const std::array<std::uint8_t, 10>& parameters() const { return parameters_; }
  const std::vector<std::uint8_t>& blacklist_bitmap() const { return blacklist_; }
  bool card_barred(std::uint32_t card) const;
  std::uint32_t frames_served() const { return frames_served_; }
  // Frames heard in full (block included), each with the parity bit of
  // every byte, for logs.
  const std::vector<std::vector<trace::WireByte>>& frames() const { return frames_; }

  // The identity record an on-line query collects from this terminal.
  std::array<std::uint8_t, 7> identity() const;

  // Turnaround: silence between the last byte of a frame and the answer.
  static constexpr std::uint64_t kTurnaroundUs = 2000;
  // Silence after which a half-heard frame is dropped.
  static constexpr std::uint64_t kFrameGapUs = 200000;
  static constexpr std::uint8_t kFirmwareMajor = 0x02;
  static constexpr std::uint8_t kFirmwareMinor = 0x05;

 private:
  enum class Phase { Idle, Frame, Block };

  void reset();
  bool block_complete() const;
  void frame_heard(std::uint64_t end_us, Responder& line);
  void block_heard(std::uint64_t end_us, Responder& line);
  void answer(const std::vector<std::uint8_t>& data, std::uint64_t at_us, Responder& line);
  void store_blacklist(const std::vector<std::uint8_t>& block);
  std::array<std::uint8_t, 4> serial_number() const;

  std::uint8_t address_;
  std::array<std::uint8_t, 256> memory_{};
  std::array<std::uint8_t, 10> parameters_{};
  std::vector<std::uint8_t> blacklist_;
  Phase phase_ = Phase::Idle;
  std::vector<trace::WireByte> heard_;  // the frame, then its block
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint8_t> block_;
  std::uint64_t last_end_us_ = 0;
  std::optional<std::array<std::uint8_t, 2>> token_;  // between the two query phases
  std::uint32_t frames_served_ = 0;
  std::vector<std::vector<trace::WireByte>> frames_;
};

}  // namespace tarvex::sim
