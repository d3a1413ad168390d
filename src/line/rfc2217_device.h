// A serial port on a network serial server, driven over Telnet Com Port
// Control (RFC 2217): the ports named rfc2217://HOST:PORT, on both systems.
//
// The server sends the bytes on its own line, and nothing tells the client
// when it has done so. The port therefore keeps the line's clock itself:
// each byte written takes its character time at the port's baud, parity and
// stop bits, counted from when the line was last free. A write returns once
// its last byte is due to have started, as a local write returns once the
// kernel's buffer has emptied; the output queue is the bytes not yet due to
// have started; a line setting and a close wait until the last byte is due to
// have ended. The setting itself travels in the byte stream after the data,
// and the server applies it in that order and answers with what it applied.
//
// A network stands between the two clocks. The server applies a setting as
// soon as it reads it, and after a lost packet it reads the bytes before it
// in the same moment: a setting after written bytes therefore waits for the
// server's word that it has them, and then for their line time; a close
// waits for the word. Every answer measures the round trip, which each reply
// is allowed on top of its line's limit.
#pragma once

#include <cstdint>
#include <optional>

#include "line/first_error.h"
#include "line/line_clock.h"
#include "line/platform.h"
#include "line/round_trip.h"
#include "line/socket.h"
#include "line/telnet_codec.h"

namespace tarvex::line {

class Rfc2217Device {
 public:
  // Connects and negotiates within three seconds; nothing when the server
  // is not there, refuses the com port option, or will not give the port
  // (another client holds it), with the reason kept in `error`.
  static std::optional<Rfc2217Device> open(const char* name, FirstError& error);

  bool set_line(const LineSetting& setting, FirstError& error);
  std::uint32_t write(const std::uint8_t* bytes, std::uint32_t count, FirstError& error);
  ReadResult read_byte(std::uint8_t* destination, FirstError& error);
  std::optional<std::uint32_t> output_queue(FirstError& error);
  void purge_input();
  bool hung_up() const { return hung_up_; }
  void close();

  std::uint32_t reply_allowance_ms() const { return round_trip_.allowance_ms(); }

 private:
  explicit Rfc2217Device(net::Socket socket) : socket_(socket) {}

  // The server's answers to the com port option's settings: the values it
  // applied (or, for the baud at open, the one it runs at).
  struct Answers {
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> datasize;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stopsize;
  };

  bool negotiate(std::uint64_t deadline_ns, FirstError& error);
  // Sends commands the server answers, and starts timing its answer.
  bool request(const std::uint8_t* bytes, std::size_t count);
  // Receives until every command of `asked` is answered; false, with the
  // reason kept, when the server went away or did not answer in time.
  bool await_answers(const Answers& asked, FirstError& error);
  // The server's word on the bytes written since its last one: its answer
  // to a query sent behind them says it has handed them to its device.
  // When they are off the server's line at the latest (0 when nothing was
  // written since); nothing, with the reason kept, when no answer came.
  std::optional<std::uint64_t> await_server_word(FirstError& error);

  // One receive, waiting until `deadline_ns` at most: what the server sent
  // goes into `input_` behind what is not read yet (data only; commands are
  // answered or noted). Byte when something came (or the buffer is full), Nothing when the deadline came first, HungUp when
  // the connection has closed.
  ReadResult receive(std::uint64_t deadline_ns);
  // Receives until there is data to read (Byte), the deadline has come
  // (Nothing) or the connection has closed (HungUp).
  ReadResult fill(std::uint64_t deadline_ns);
  void decode(std::uint8_t* bytes, std::size_t count);
  void on_subnegotiation();
  void hang_up(std::uint32_t code);

  // Sends as much of `bytes` as the socket takes before `deadline_ns`.
  std::size_t send_some(const std::uint8_t* bytes, std::size_t count, std::uint64_t deadline_ns);
  // Sends a command whole: anything it could not send in time is owed, and
  // goes before every later byte so the stream stays well formed. False when
  // earlier owed bytes could not go and the command was not sent.
  bool send_command(const std::uint8_t* bytes, std::size_t count);
  bool pay_owed(std::uint64_t deadline_ns);

  net::Socket socket_;
  bool hung_up_ = false;  // final: the connection does not come back
  std::uint32_t hang_up_code_ = 0;

  telnet::Decoder decoder_;
  telnet::Negotiation negotiation_;
  Answers answers_;  // since the last setting sent (at open: the baud asked for)
  RoundTrip round_trip_;
  std::uint64_t asked_at_us_ = 0;  // when the request awaiting its answer went; 0: none
  std::uint32_t unconfirmed_ = 0;  // bytes written that the server has not confirmed

  // The setting the server was last given; empty until the first one.
  std::optional<Parity> parity_;
  std::optional<StopBits> stop_bits_;
  std::optional<std::uint32_t> baud_;
  bool datasize_sent_ = false;

  // The remote line's clock, on the monotonic clock's microseconds.
  LineClock clock_;

  // Data received and not yet read: input_[input_next_, input_end_).
  static constexpr std::size_t kInputBytes = 128;
  std::uint8_t input_[kInputBytes] = {};
  std::size_t input_next_ = 0;
  std::size_t input_end_ = 0;

  // The tail of the commands of one call, or the second half of a doubled
  // 0xFF, that the socket did not take in time.
  static constexpr std::size_t kOwedBytes = 4 * telnet::kCommandBytes;
  std::uint8_t owed_[kOwedBytes] = {};
  std::size_t owed_length_ = 0;
};

}  // namespace tarvex::line
