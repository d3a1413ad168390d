#include "line/telnet_codec.h"

namespace tarvex::line::telnet {

// ---- The server's stream ----------------------------------------------------

Decoder::Item Decoder::take(std::uint8_t byte) {
  switch (state_) {
    case State::Data:
      if (byte == kIac) {
        state_ = State::Command;
        return {};
      }
      return {Kind::Data, byte};
    case State::Command: return command(byte);
    case State::Option: state_ = State::Data; return {Kind::Option, verb_, byte};
    case State::Sub:
      if (byte == kIac) {
        state_ = State::SubCommand;
      } else {
        keep_sub(byte);
      }
      return {};
    case State::SubCommand:
      if (byte == kIac) {
        keep_sub(kIac);
        state_ = State::Sub;
        return {};
      }
      if (byte == kSe) {
        state_ = State::Data;
        return {Kind::Subnegotiation};
      }
      // A command inside a subnegotiation that was never closed: the
      // subnegotiation is dropped and the command taken as it stands, so a
      // broken one cannot swallow the data after it.
      return command(byte);
  }
  return {};
}

Decoder::Item Decoder::command(std::uint8_t byte) {
  state_ = State::Data;
  switch (byte) {
    case kIac: return {Kind::Data, kIac};
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      verb_ = byte;
      state_ = State::Option;
      return {};
    case kSb:
      sub_length_ = 0;
      state_ = State::Sub;
      return {};
    default: return {};  // NOP, go-ahead, data mark, a stray SE: nothing to act on
  }
}

void Decoder::keep_sub(std::uint8_t byte) {
  if (sub_length_ < kSubnegotiationBytes) sub_[sub_length_++] = byte;
}

// ---- Option negotiation -------------------------------------------------------

namespace {

std::size_t put(std::uint8_t* out, std::uint8_t verb, std::uint8_t option) {
  out[0] = kIac;
  out[1] = verb;
  out[2] = option;
  return 3;
}

// What the client asks for at the start; suppress-go-ahead it only accepts.
constexpr bool asked_at_start(std::uint8_t option) {
  return option == kBinary || option == kComPort;
}

}  // namespace

Negotiation::Side* Negotiation::side(std::uint8_t option, bool server_side) {
  for (std::size_t i = 0; i < sizeof kWanted / sizeof kWanted[0]; ++i) {
    if (kWanted[i].option == option && kWanted[i].server_side == server_side) return &sides_[i];
  }
  return nullptr;
}

std::size_t Negotiation::start(std::uint8_t* out) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < sizeof kWanted / sizeof kWanted[0]; ++i) {
    if (!asked_at_start(kWanted[i].option)) continue;
    sides_[i].asked = true;
    length += put(out + length, kWanted[i].server_side ? kDo : kWill, kWanted[i].option);
  }
  return length;
}

bool Negotiation::ready() const {
  for (std::size_t i = 0; i < sizeof kWanted / sizeof kWanted[0]; ++i) {
    if (asked_at_start(kWanted[i].option) && !sides_[i].enabled) return false;
  }
  return true;
}

std::size_t Negotiation::answer(std::uint8_t verb, std::uint8_t option, std::uint8_t* out) {
  const bool server_side = verb == kWill || verb == kWont;
  const bool enable = verb == kWill || verb == kDo;
  const std::uint8_t yes = server_side ? kDo : kWill;
  const std::uint8_t no = server_side ? kDont : kWont;
  Side* s = side(option, server_side);
  if (s == nullptr) return enable ? put(out, no, option) : 0;  // an option the client does not use
  const bool was_asked = s->asked;
  s->asked = false;
  if (enable) {
    if (s->enabled) return 0;
    s->enabled = true;
    return was_asked ? 0 : put(out, yes, option);
  }
  if (was_asked && asked_at_start(option)) refused_ = true;
  if (!s->enabled) return 0;
  s->enabled = false;
  return was_asked ? 0 : put(out, no, option);
}

// ---- The client's stream ----------------------------------------------------

Escaped escape(std::span<const std::uint8_t> bytes, std::uint8_t* out, std::size_t capacity) {
  Escaped done{0, 0};
  for (const std::uint8_t byte : bytes) {
    const std::size_t size = byte == kIac ? 2 : 1;
    if (done.written + size > capacity) break;
    out[done.written++] = byte;
    if (byte == kIac) out[done.written++] = kIac;
    ++done.taken;
  }
  return done;
}

std::size_t com_port_command(std::uint8_t code, std::uint32_t value, std::size_t value_bytes,
                             std::uint8_t* out) {
  std::size_t length = 0;
  out[length++] = kIac;
  out[length++] = kSb;
  out[length++] = kComPort;
  out[length++] = code;
  for (std::size_t i = value_bytes; i-- > 0;) {
    const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
    out[length++] = byte;
    if (byte == kIac) out[length++] = kIac;
  }
  out[length++] = kIac;
  out[length++] = kSe;
  return length;
}

}  // namespace tarvex::line::telnet
