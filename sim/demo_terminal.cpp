#include "sim/demo_terminal.h"

#include "line/primitives.h"

namespace tarvex::sim {

DemoTerminal::DemoTerminal(std::uint8_t address) : address_(address) {
  for (std::size_t i = 0; i < memory_.size(); ++i) {
    memory_[i] = static_cast<std::uint8_t>(i * 7 + address);
  }
}

std::size_t DemoTerminal::frame_length(std::uint8_t command_code) {
  switch (command_code) {
    case 0xA1: case 0xC2: return 2;
    case 0xC1: return 4;
    default: return 0;  // unknown: the frame is ignored
  }
}

void DemoTerminal::on_byte(const WireByte& byte, Responder& line) {
  // An address byte starts a frame only between frames: a frame sent whole
  // under MARK parity carries its other bytes with the parity bit set too.
  const bool address_byte = byte.parity_bit() == 1 && frame_.size() < 2;
  if (address_byte) {
    selected_ = byte.value == address_;
    frame_.clear();
    if (selected_) frame_.push_back(byte);
    return;
  }
  if (!selected_) return;
  frame_.push_back(byte);
  const std::size_t n = frame_length(frame_[1].value);
  if (n == 0) {
    selected_ = false;
    frame_.clear();
    return;
  }
  if (frame_.size() == n + 1) frame_complete(byte.end_us, line);
}

void DemoTerminal::frame_complete(std::uint64_t end_us, Responder& line) {
  std::vector<std::uint8_t> bytes;
  for (const WireByte& b : frame_) bytes.push_back(b.value);
  frames_.push_back(frame_);
  frame_.clear();
  selected_ = false;
  const std::size_t n = bytes.size() - 1;
  if (line::additive_checksum(bytes.data(), static_cast<std::int32_t>(n)) != bytes[n]) return;
  ++frames_served_;
  const std::uint64_t at = end_us + kTurnaroundUs;
  switch (bytes[1]) {
    case 0xA1:
      answer({address_, 0x01, static_cast<std::uint8_t>(frames_served_), 0x00}, at, line);
      break;
    case 0xC1: {
      std::vector<std::uint8_t> data;
      for (std::uint8_t i = 0; i < bytes[3]; ++i) {
        data.push_back(memory_[static_cast<std::uint8_t>(bytes[2] + i)]);
      }
      answer(data, at, line);
      break;
    }
    case 0xC2:
      answer({0x20, 0x26, 0x12, 0x08, 0x17, 0x00, address_, 0x01}, at, line);
      break;
    default: break;
  }
}

void DemoTerminal::answer(const std::vector<std::uint8_t>& data, std::uint64_t at_us,
                          Responder& line) {
  std::vector<std::uint8_t> reply = data;
  reply.push_back(line::additive_checksum(data.data(), static_cast<std::int32_t>(data.size())));
  line.send(reply, at_us);
}

}  // namespace tarvex::sim
