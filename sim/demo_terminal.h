// A behavioural terminal for the tool and for end-to-end tests: it answers
// at one bus address, keeps a little memory, and speaks the frames the
// library sends. It honours no more than the line rules: an address byte
// under MARK parity selects it, the frame follows, the checksum must match.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_bus.h"

namespace tarvex::sim {

class DemoTerminal final : public Terminal {
 public:
  explicit DemoTerminal(std::uint8_t address);

  // What the demo terminal understands, by command code:
  //   0xA1 (n = 2)  status: 4 bytes: address, 0x01 (on line), frames served, 0x00
  //   0xC1 (n = 4)  read memory: frame [addr, C1, offset, count], reply `count` bytes
  //   0xC2 (n = 2)  read the record log: 8 bytes; the host acknowledges them
  static std::size_t frame_length(std::uint8_t command_code);

  void on_byte(const WireByte& byte, Responder& line) override;

  std::uint8_t address() const { return address_; }
  std::array<std::uint8_t, 256>& memory() { return memory_; }
  std::uint32_t frames_served() const { return frames_served_; }
  // Frames heard in full, each with the parity bit of every byte, for logs.
  const std::vector<std::vector<WireByte>>& frames() const { return frames_; }

  // Turnaround: silence between the last byte of a frame and the answer.
  static constexpr std::uint64_t kTurnaroundUs = 2000;

 private:
  void answer(const std::vector<std::uint8_t>& data, std::uint64_t at_us, Responder& line);
  void frame_complete(std::uint64_t end_us, Responder& line);

  std::uint8_t address_;
  std::array<std::uint8_t, 256> memory_{};
  std::vector<WireByte> frame_;
  bool selected_ = false;
  std::uint32_t frames_served_ = 0;
  std::vector<std::vector<WireByte>> frames_;
};

}  // namespace tarvex::sim
