#include "sim/demo_terminal.h"

#include <algorithm>

#include "line/primitives.h"

namespace tarvex::sim {

using trace::WireByte;
namespace {

constexpr std::uint8_t kBroadcast = 0x00;

bool checksum_matches(const std::vector<std::uint8_t>& bytes) {
  const auto n = static_cast<std::int32_t>(bytes.size()) - 1;
  return n >= 0 && line::additive_checksum(bytes.data(), n) == bytes.back();
}

// The blacklist block: 00 00, L (little-endian), page, offset, L bytes.
std::size_t blacklist_length(const std::vector<std::uint8_t>& block) {
  return static_cast<std::size_t>(block[2]) | static_cast<std::size_t>(block[3]) << 8;
}

}  // namespace

DemoTerminal::DemoTerminal(std::uint8_t address) : address_(address) {
  for (std::size_t i = 0; i < memory_.size(); ++i) {
    memory_[i] = static_cast<std::uint8_t>(i * 7 + address);
  }
}

std::size_t DemoTerminal::frame_length(std::uint8_t command_code) {
  switch (command_code) {
    case 0xA1: case 0xC2: case 0xC5: return 2;
    case 0xA0: case 0xB4: case 0xC1: case 0xB1: case 0xB5: case 0xA5: return 4;
    default: return 0;  // unknown: the frame is ignored
  }
}

bool DemoTerminal::card_barred(std::uint32_t card) const {
  if (card == 0) return false;
  const std::size_t index = (card - 1) / 8;
  return index < blacklist_.size() && (blacklist_[index] >> ((card - 1) % 8) & 1) != 0;
}

std::array<std::uint8_t, 4> DemoTerminal::serial_number() const { return {0x10, 0x00, 0x00, address_}; }

std::array<std::uint8_t, 7> DemoTerminal::identity() const {
  const auto serial = serial_number();
  return {address_, kFirmwareMajor, kFirmwareMinor, serial[0], serial[1], serial[2], serial[3]};
}

void DemoTerminal::reset() {
  phase_ = Phase::Idle;
  heard_.clear();
  frame_.clear();
  block_.clear();
}

void DemoTerminal::on_byte(const WireByte& byte, Responder& line) {
  if (phase_ != Phase::Idle && byte.start_us > last_end_us_ + kFrameGapUs) reset();
  last_end_us_ = byte.end_us;
  switch (phase_) {
    case Phase::Idle:
      // Only an address byte wakes the terminal; once selected it takes the
      // rest of the frame whatever its parity (a frame may go out whole under
      // MARK).
      if (byte.parity_bit() != 1 || (byte.value != address_ && byte.value != kBroadcast)) return;
      phase_ = Phase::Frame;
      heard_.push_back(byte);
      frame_.push_back(byte.value);
      return;
    case Phase::Frame: {
      heard_.push_back(byte);
      frame_.push_back(byte.value);
      const std::size_t n = frame_length(frame_[1]);
      if (n == 0) {
        reset();
      } else if (frame_.size() == n + 1) {
        frame_heard(byte.end_us, line);
      }
      return;
    }
    case Phase::Block:
      heard_.push_back(byte);
      block_.push_back(byte.value);
      if (block_complete()) block_heard(byte.end_us, line);
      return;
  }
}

bool DemoTerminal::block_complete() const {
  switch (frame_[1]) {
    case 0xB1: case 0xB5: return block_.size() == std::size_t{frame_[3]} + 1;
    case 0xC5: return block_.size() == parameters_.size() + 1;
    case 0xA5: return block_.size() >= 4 && block_.size() == 6 + blacklist_length(block_) + 1;
    default: return true;
  }
}

void DemoTerminal::frame_heard(std::uint64_t end_us, Responder& line) {
  const bool broadcast = frame_[0] == kBroadcast;
  const std::uint8_t code = frame_[1];
  if (!checksum_matches(frame_) || broadcast != (code == 0xB4)) {
    reset();
    return;
  }
  if (code == 0xB1 || code == 0xB5 || code == 0xC5 || code == 0xA5) {
    phase_ = Phase::Block;
    return;
  }
  ++frames_served_;
  frames_.push_back(heard_);
  const std::uint64_t at = end_us + kTurnaroundUs;
  switch (code) {
    case 0xA0: {
      token_ = {static_cast<std::uint8_t>(0x5A ^ address_), static_cast<std::uint8_t>(frames_served_)};
      const auto serial = serial_number();
      answer({(*token_)[0], (*token_)[1], serial[0], serial[1], serial[2], serial[3], 0x00}, at, line);
      break;
    }
    case 0xB4:
      // Every terminal hears the confirmation; only the one whose token it
      // carries answers.
      if (token_ && (*token_)[0] == frame_[2] && (*token_)[1] == frame_[3]) {
        answer({0x00, address_, kFirmwareMajor, kFirmwareMinor, 0x00}, at, line);
        token_.reset();
      }
      break;
    case 0xA1:
      answer({address_, 0x01, static_cast<std::uint8_t>(frames_served_), 0x00}, at, line);
      break;
    case 0xC1: {
      std::vector<std::uint8_t> data;
      for (std::uint8_t i = 0; i < frame_[3]; ++i) {
        data.push_back(memory_[static_cast<std::uint8_t>(frame_[2] + i)]);
      }
      answer(data, at, line);
      break;
    }
    case 0xC2:
      answer({0x20, 0x26, 0x12, 0x08, 0x17, 0x00, address_, 0x01}, at, line);
      break;
    default: break;
  }
  reset();
}

void DemoTerminal::block_heard(std::uint64_t end_us, Responder& line) {
  frames_.push_back(heard_);
  const bool good = checksum_matches(block_);
  const std::vector<std::uint8_t> data(block_.begin(), block_.end() - 1);
  const std::uint8_t code = frame_[1];
  if (good) {
    ++frames_served_;
    switch (code) {
      case 0xB1: case 0xB5:
        for (std::size_t i = 0; i < data.size(); ++i) {
          memory_[static_cast<std::uint8_t>(frame_[2] + i)] = data[i];
        }
        break;
      case 0xC5: std::copy(data.begin(), data.end(), parameters_.begin()); break;
      case 0xA5: store_blacklist(data); break;
      default: break;
    }
  }
  // A block the terminal could not take is refused with 02 4E.
  if (code != 0xB5) {
    const std::uint8_t verdict = good ? line::kAck1 : 0x4E;
    line.send(std::vector<std::uint8_t>{line::kAck0, verdict}, end_us + kTurnaroundUs);
  }
  reset();
}

void DemoTerminal::store_blacklist(const std::vector<std::uint8_t>& block) {
  const std::size_t length = blacklist_length(block);
  const std::size_t index = std::size_t{block[4]} * 128 + block[5];
  const auto bitmap = block.begin() + 6;
  if (length == 1) {
    if (blacklist_.size() <= index) blacklist_.resize(index + 1);
    blacklist_[index] |= *bitmap;
    return;
  }
  blacklist_.resize(index);
  blacklist_.insert(blacklist_.end(), bitmap, bitmap + static_cast<std::ptrdiff_t>(length));
}

void DemoTerminal::answer(const std::vector<std::uint8_t>& data, std::uint64_t at_us,
                          Responder& line) {
  std::vector<std::uint8_t> reply = data;
  reply.push_back(line::additive_checksum(data.data(), static_cast<std::int32_t>(data.size())));
  line.send(reply, at_us);
}

}  // namespace tarvex::sim
