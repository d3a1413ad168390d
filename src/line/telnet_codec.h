// The telnet layer of a remote serial port (Telnet Com Port Control): what
// goes into the byte stream to the server and what comes out of the one from
// it. No sockets here, so every rule can be tested on bytes alone.
//
// Data bytes travel as themselves except 0xFF, which telnet doubles. Between
// them the server puts commands: option negotiation (WILL, WONT, DO, DONT),
// subnegotiations (the com port option's replies and notifications), and
// one-byte commands (NOP, go-ahead, ...). None of them is data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvex::line::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// The com port option's commands as the client sends them; the server
// answers each with the same code plus 100.
inline constexpr std::uint8_t kSetBaudrate = 1;
inline constexpr std::uint8_t kSetDatasize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopsize = 4;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// The server's byte stream, one byte at a time.
class Decoder {
 public:
  enum class Kind : std::uint8_t {
    Nothing,         // part of a command, or a command with nothing to act on
    Data,            // `value` is a data byte (IAC IAC already made one 0xFF)
    Option,          // `value` is WILL, WONT, DO or DONT, `option` the option
    Subnegotiation,  // complete: parameters() holds it
  };
  struct Item {
    Kind kind = Kind::Nothing;
    std::uint8_t value = 0;
    std::uint8_t option = 0;
  };

  Item take(std::uint8_t byte);

  // The last complete subnegotiation: its option byte and parameters, with
  // IAC IAC undone. A longer one than fits is cut short (its start is what
  // the client reads).
  std::span<const std::uint8_t> parameters() const { return {sub_, sub_length_}; }

  static constexpr std::size_t kSubnegotiationBytes = 16;

 private:
  enum class State : std::uint8_t { Data, Command, Option, Sub, SubCommand };

  Item command(std::uint8_t byte);
  void keep_sub(std::uint8_t byte);

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::uint8_t sub_[kSubnegotiationBytes] = {};
  std::size_t sub_length_ = 0;
};

// The options the client wants, and its side of their negotiation: BINARY
// both ways and the com port option from the client; the server's
// suppress-go-ahead is welcome. Every other option is refused. A request is
// answered only when it changes an option's state, and a reply to the
// client's own request is not answered again, so no loop can start.
class Negotiation {
 public:
  // The client's requests, written into `out` (at least kRequestBytes).
  std::size_t start(std::uint8_t* out);
  static constexpr std::size_t kRequestBytes = 9;

  // The answer to the server's `verb` for `option`, written into `out` (at
  // least 3 bytes); its length, 0 when there is nothing to answer.
  std::size_t answer(std::uint8_t verb, std::uint8_t option, std::uint8_t* out);

  // Every option the client asked for is in force.
  bool ready() const;
  // The server refused one of them.
  bool refused() const { return refused_; }

 private:
  // One direction of one option (RFC 1143's states, without the queue bits:
  // the client never changes its mind).
  struct Side {
    bool enabled = false;
    bool asked = false;  // the client's request awaits its answer
  };
  struct Wanted {
    std::uint8_t option;
    bool server_side;  // the server's WILL/WONT (true) or the client's (false)
  };
  Side* side(std::uint8_t option, bool server_side);

  static constexpr Wanted kWanted[] = {
      {kBinary, false}, {kBinary, true}, {kComPort, false}, {kSuppressGoAhead, true}};
  Side sides_[sizeof kWanted / sizeof kWanted[0]] = {};
  bool refused_ = false;
};

// Data for the server: `bytes` with every 0xFF doubled, as much of it as fits
// in `capacity` bytes of `out`. A byte is written whole or not at all.
struct Escaped {
  std::size_t taken;    // data bytes consumed
  std::size_t written;  // bytes written into `out`
};
Escaped escape(std::span<const std::uint8_t> bytes, std::uint8_t* out, std::size_t capacity);

// IAC SB COM-PORT-OPTION `code` `value` IAC SE, the value big-endian in
// `value_bytes` bytes (1 or 4), 0xFF doubled. Returns its length (at most
// kCommandBytes).
std::size_t com_port_command(std::uint8_t code, std::uint32_t value, std::size_t value_bytes,
                             std::uint8_t* out);
inline constexpr std::size_t kCommandBytes = 3 + 1 + 2 * 4 + 2;

}  // namespace tarvex::line::telnet
