#include "line/rfc2217_device.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "line/monotonic_clock.h"
#include "line/port_name.h"
#include "line/tcp_connect.h"

namespace tarvex::line {
namespace {

using namespace telnet;

constexpr std::uint64_t kMsNs = 1000000u;

// Connecting and negotiating together, busy ports asked again included: a
// silent server fails the open after this. It outlives one lost packet of
// the connection's opening (Linux sends a SYN again after 1 s, as a server
// does its SYN-ACK) at a round trip of a few hundred milliseconds, and the
// second or so a server keeps a port whose last client's close was lost. A
// refused connection fails at once.
constexpr std::uint64_t kOpenNs = 3000 * kMsNs;
// The pause before a busy port is asked again.
constexpr std::uint64_t kBusyRetryNs = 5 * kMsNs;
// How long the server's answers to a line setting may take beyond the
// round trip measured so far: one that does not answer at all is not
// applying settings.
constexpr std::uint64_t kAnswerNs = 1000 * kMsNs;
// How long a command (a line setting, a purge, an answer to the server) may
// wait for room in the socket, the stream being held up by the server.
constexpr std::uint64_t kCommandNs = 100 * kMsNs;
// A purge takes what has already arrived, up to this much, and no more: a
// server that keeps sending cannot hold it.
constexpr std::size_t kPurgeReads = 32;

std::uint8_t parity_code(Parity parity) {
  switch (parity) {
    case Parity::Mark: return 4;
    case Parity::Space: return 5;
    case Parity::None: break;
  }
  return 1;
}

std::uint8_t stop_code(StopBits stop_bits) {
  return stop_bits == StopBits::Two ? 2 : 1;
}

std::uint64_t us_to_ns(std::uint64_t us) { return us * 1000u; }

}  // namespace

// A server turns a client away by closing the connection while it
// negotiates (the port is busy). It does the same for a moment after its
// last client has gone, while it closes the device: a port given back and
// opened again at once (com_exit and com_init, an exchange that re-opens its
// port) meets that, so a busy port is asked again until the open's time is
// up. The last attempt's reason is kept, but for one: a last attempt that
// ran out of time after the server had turned the client away is still the
// port being busy (a loaded host can start the last attempt too late to
// hear the server's answer).
std::optional<Rfc2217Device> Rfc2217Device::open(const char* name, FirstError& error) {
  const std::uint64_t deadline = monotonic_ns() + kOpenNs;
  bool turned_away = false;
  for (;;) {
    FirstError attempt;
    const net::Socket socket = tcp_connect(network_address(name), deadline, attempt);
    if (socket != net::kNoSocket) {
      Rfc2217Device port(socket);
      if (port.negotiate(deadline, attempt)) return port;
      net::close(socket);
    }
    const std::optional<OsError> failed = attempt.get();
    if (!failed || failed->code != net::kPortBusy || monotonic_ns() + kBusyRetryNs >= deadline) {
      if (failed && turned_away && failed->code == net::kTimedOut) {
        error.keep(failed->operation, net::kPortBusy);
      } else if (failed) {
        error.keep(failed->operation, failed->code);
      }
      return std::nullopt;
    }
    turned_away = true;
    sleep_until_ns(monotonic_ns() + kBusyRetryNs);
  }
}

// BINARY both ways and the com port option, then the port's baud asked for
// (a SET-BAUDRATE of 0): its answer is the server's word that the port is
// this client's. A server that will not give the port (another client holds
// it) closes the connection instead, which is the port being busy. What the
// server sends as data before that (a banner, its reason for closing) came
// before the port was ready and is not kept.
bool Rfc2217Device::negotiate(std::uint64_t deadline_ns, FirstError& error) {
  std::uint8_t request[Negotiation::kRequestBytes + kCommandBytes];
  std::size_t length = negotiation_.start(request);
  length += com_port_command(kSetBaudrate, 0, 4, request + length);
  asked_at_us_ = monotonic_us();
  if (send_some(request, length, deadline_ns) != length) {
    error.keep("open", hung_up_ ? hang_up_code_ : net::kTimedOut);
    return false;
  }
  while (!negotiation_.ready() || !answers_.baud) {
    if (negotiation_.refused()) {
      error.keep("open", net::kOptionRefused);
      return false;
    }
    const ReadResult got = receive(deadline_ns);
    input_next_ = input_end_ = 0;
    if (got == ReadResult::HungUp) {
      error.keep("open", net::kPortBusy);
      return false;
    }
    if (got == ReadResult::Nothing && monotonic_ns() >= deadline_ns) {
      error.keep("open", net::kTimedOut);
      return false;
    }
  }
  if (*answers_.baud != 0) baud_ = *answers_.baud;
  clock_.apply({Parity::None, StopBits::One, baud_});
  return true;
}

// ---- The line setting and the line's clock ---------------------------------

// Only what differs from the port's setting is sent; a setting the port has
// already costs nothing, not even the wait for the line. The server answers
// each command with the value it applied; the setting is taken when every
// answer is the value asked for.
bool Rfc2217Device::set_line(const LineSetting& setting, FirstError& error) {
  if (hung_up_) {
    error.keep("line setting", hang_up_code_);
    return false;
  }
  // A rate of 0 would ask the server for its rate instead of setting one.
  const bool new_baud = setting.baud && *setting.baud != 0 && setting.baud != baud_;
  Answers asked;
  std::uint8_t commands[kOwedBytes];
  std::size_t length = 0;
  if (new_baud) {
    asked.baud = *setting.baud;
    length += com_port_command(kSetBaudrate, *asked.baud, 4, commands + length);
  }
  if (!datasize_sent_) {
    asked.datasize = 8;
    length += com_port_command(kSetDatasize, *asked.datasize, 1, commands + length);
  }
  if (setting.parity != parity_) {
    asked.parity = parity_code(setting.parity);
    length += com_port_command(kSetParity, *asked.parity, 1, commands + length);
  }
  if (setting.stop_bits != stop_bits_) {
    asked.stopsize = stop_code(setting.stop_bits);
    length += com_port_command(kSetStopsize, *asked.stopsize, 1, commands + length);
  }
  if (length == 0) return true;
  // The bytes written under the old setting go first: off this host's clock
  // of the line, and off the server's once it has them.
  const std::optional<std::uint64_t> server_line_free = await_server_word(error);
  if (!server_line_free) return false;
  sleep_until_ns(us_to_ns(std::max(clock_.free_us(), *server_line_free)));
  answers_ = {};
  if (!request(commands, length)) {
    error.keep("line setting", hung_up_ ? hang_up_code_ : net::kTimedOut);
    return false;
  }
  if (!await_answers(asked, error)) return false;
  const bool applied = (!asked.baud || rate_matches(*asked.baud, *answers_.baud)) &&
                       answers_.datasize == asked.datasize && answers_.parity == asked.parity &&
                       answers_.stopsize == asked.stopsize;
  if (!applied) {
    error.keep("line setting", kSettingNotTaken);
    return false;
  }
  if (new_baud) baud_ = setting.baud;
  datasize_sent_ = true;
  parity_ = setting.parity;
  stop_bits_ = setting.stop_bits;
  clock_.apply({setting.parity, setting.stop_bits, baud_});
  return true;
}

bool Rfc2217Device::request(const std::uint8_t* bytes, std::size_t count) {
  asked_at_us_ = monotonic_us();
  return send_command(bytes, count);
}

// Keeps data that comes in between for the reads.
bool Rfc2217Device::await_answers(const Answers& asked, FirstError& error) {
  const auto waiting = [&] {
    return (asked.baud && !answers_.baud) || (asked.datasize && !answers_.datasize) ||
           (asked.parity && !answers_.parity) || (asked.stopsize && !answers_.stopsize);
  };
  const std::uint64_t deadline =
      monotonic_ns() + kAnswerNs + us_to_ns(1000u * round_trip_.allowance_ms());
  while (waiting()) {
    const ReadResult got = receive(deadline);
    if (got == ReadResult::HungUp) {
      error.keep("line setting", hang_up_code_);
      return false;
    }
    if (got == ReadResult::Nothing && monotonic_ns() >= deadline) {
      error.keep("line setting", net::kTimedOut);
      return false;
    }
  }
  return true;
}

// Costs a round trip, and only when bytes went out since the last word:
// without it, a server that reads an address byte and the switch to SPACE
// together (a packet was resent, a slow link gathered them) applies the
// switch while the byte is still in its UART, and the byte leaves under
// SPACE.
std::optional<std::uint64_t> Rfc2217Device::await_server_word(FirstError& error) {
  if (unconfirmed_ == 0) return 0;
  std::uint8_t query[kCommandBytes];
  answers_ = {};
  // A SET-BAUDRATE of 0 asks for the rate and changes nothing.
  if (!request(query, com_port_command(kSetBaudrate, 0, 4, query))) {
    error.keep("line setting", hung_up_ ? hang_up_code_ : net::kTimedOut);
    return std::nullopt;
  }
  Answers asked;
  asked.baud = 0;
  if (!await_answers(asked, error)) return std::nullopt;
  // The server had them all by the time its answer came here; when it
  // handed them to its device is not known, so their whole line time counts
  // from now.
  const std::uint64_t line_free_us = monotonic_us() + unconfirmed_ * clock_.character_us();
  unconfirmed_ = 0;
  return line_free_us;
}

// ---- Writing -----------------------------------------------------------------

std::size_t Rfc2217Device::send_some(const std::uint8_t* bytes, std::size_t count,
                                   std::uint64_t deadline_ns) {
  std::size_t sent = 0;
  while (sent < count && !hung_up_) {
    const net::Moved moved = net::send_some(socket_, bytes + sent, count - sent);
    sent += moved.bytes;
    if (moved.failure != 0) {
      hang_up(moved.failure);
      break;
    }
    if (moved.bytes > 0) continue;
    if (monotonic_ns() >= deadline_ns) break;
    net::wait(socket_, net::Ready::ToWrite, ms_until(deadline_ns));
  }
  return sent;
}

bool Rfc2217Device::pay_owed(std::uint64_t deadline_ns) {
  if (owed_length_ == 0) return true;
  const std::size_t sent = send_some(owed_, owed_length_, deadline_ns);
  std::memmove(owed_, owed_ + sent, owed_length_ - sent);
  owed_length_ -= sent;
  return owed_length_ == 0;
}

bool Rfc2217Device::send_command(const std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t deadline = monotonic_ns() + kCommandNs;
  if (!pay_owed(deadline)) return false;
  const std::size_t sent = send_some(bytes, count, deadline);
  std::memcpy(owed_, bytes + sent, count - sent);
  owed_length_ = count - sent;
  return true;
}

std::uint32_t Rfc2217Device::write(const std::uint8_t* bytes, std::uint32_t count,
                                 FirstError& error) {
  const std::uint64_t deadline = us_to_ns(monotonic_us() + write_limit_us(count));
  std::uint32_t taken = 0;
  std::uint8_t chunk[256];
  while (taken < count && pay_owed(deadline)) {
    const Escaped escaped = escape({bytes + taken, count - taken}, chunk, sizeof chunk);
    const std::size_t sent = send_some(chunk, escaped.written, deadline);
    // The data bytes the server has whole; a 0xFF whose second half did not
    // go is the server's too, with that half owed.
    std::uint32_t whole = 0;
    std::size_t at = 0;
    while (at < sent) {
      at += chunk[at] == kIac ? 2 : 1;
      ++whole;
    }
    if (at > sent) {
      owed_[0] = kIac;
      owed_length_ = 1;
    }
    clock_.place(monotonic_us(), whole);
    unconfirmed_ += whole;
    taken += whole;
    if (sent < escaped.written) break;  // the time limit, or the server has gone
  }
  if (hung_up_) error.keep("write", hang_up_code_);
  // Back once the last byte is due to have started, as a local port's write
  // is back once the kernel's buffer has emptied, within the write's limit.
  if (taken > 0) sleep_until_ns(std::min(us_to_ns(clock_.last_start_us()), deadline));
  return taken;
}

// A drain wait asks this again and again: a queue that is not empty is
// answered after a pause until its last byte is due to start (at most a
// read's poll), with the count as it is then.
std::optional<std::uint32_t> Rfc2217Device::output_queue(FirstError& error) {
  if (hung_up_) {
    error.keep("output queue", hang_up_code_);
    return std::nullopt;
  }
  const std::uint64_t last_starts = clock_.last_start_us();
  std::uint64_t now = monotonic_us();
  if (now < last_starts) {
    sleep_until_ns(us_to_ns(std::min(last_starts, now + kReadPollUs)));
    now = monotonic_us();
  }
  return static_cast<std::uint32_t>(clock_.not_started_at(now));
}

// ---- Reading -----------------------------------------------------------------

void Rfc2217Device::hang_up(std::uint32_t code) {
  hung_up_ = true;
  hang_up_code_ = code;
}

void Rfc2217Device::on_subnegotiation() {
  const std::span<const std::uint8_t> sub = decoder_.parameters();
  if (sub.size() < 3 || sub[0] != kComPort) return;
  // An answer to a request of this side's: its round trip. Notifications
  // the server sends of its own accord measure nothing.
  const bool answer =
      sub[1] >= kServerOffset + kSetBaudrate && sub[1] <= kServerOffset + kSetStopsize;
  if (answer && asked_at_us_ != 0) {
    round_trip_.sample(monotonic_us() - asked_at_us_);
    asked_at_us_ = 0;
  }
  // The answers to the settings: option, code, the value applied (four
  // bytes for the baud, one for the others).
  switch (sub[1]) {
    case kServerOffset + kSetBaudrate:
      if (sub.size() == 6) {
        answers_.baud = static_cast<std::uint32_t>(sub[2]) << 24 |
                        static_cast<std::uint32_t>(sub[3]) << 16 |
                        static_cast<std::uint32_t>(sub[4]) << 8 | sub[5];
      }
      break;
    case kServerOffset + kSetDatasize: answers_.datasize = sub[2]; break;
    case kServerOffset + kSetParity: answers_.parity = sub[2]; break;
    case kServerOffset + kSetStopsize: answers_.stopsize = sub[2]; break;
    default: break;  // line and modem state change nothing here
  }
}

// Decodes in place, behind the data not read yet: data never takes more
// room than its encoding.
void Rfc2217Device::decode(std::uint8_t* bytes, std::size_t count) {
  std::size_t data = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Decoder::Item item = decoder_.take(bytes[i]);
    switch (item.kind) {
      case Decoder::Kind::Data: bytes[data++] = item.value; break;
      case Decoder::Kind::Option: {
        std::uint8_t answer[3];
        const std::size_t length = negotiation_.answer(item.value, item.option, answer);
        if (length > 0) send_command(answer, length);
        break;
      }
      case Decoder::Kind::Subnegotiation: on_subnegotiation(); break;
      case Decoder::Kind::Nothing: break;
    }
  }
  input_end_ += data;
}

ReadResult Rfc2217Device::receive(std::uint64_t deadline_ns) {
  if (hung_up_) return ReadResult::HungUp;
  // What is not read yet moves to the front, and what comes goes behind it.
  std::memmove(input_, input_ + input_next_, input_end_ - input_next_);
  input_end_ -= input_next_;
  input_next_ = 0;
  if (input_end_ == kInputBytes) return ReadResult::Byte;
  // Nothing by the deadline, or a signal.
  if (!net::wait(socket_, net::Ready::ToRead, ms_until(deadline_ns))) return ReadResult::Nothing;
  std::uint8_t* free_room = input_ + input_end_;
  const net::Moved moved = net::receive_some(socket_, free_room, kInputBytes - input_end_);
  if (moved.bytes > 0) {
    net::acknowledge_at_once(socket_);
    decode(free_room, moved.bytes);
    return ReadResult::Byte;
  }
  if (moved.failure != 0) hang_up(moved.failure);
  return hung_up_ ? ReadResult::HungUp : ReadResult::Nothing;
}

ReadResult Rfc2217Device::fill(std::uint64_t deadline_ns) {
  while (input_next_ == input_end_) {
    const ReadResult got = receive(deadline_ns);
    if (got == ReadResult::HungUp) return got;
    // Only commands came, or nothing: the caller looks at its limit again
    // once the deadline has come.
    if (got == ReadResult::Nothing && monotonic_ns() >= deadline_ns) return got;
  }
  return ReadResult::Byte;
}

ReadResult Rfc2217Device::read_byte(std::uint8_t* destination, FirstError& error) {
  const ReadResult got = fill(us_to_ns(monotonic_us() + kReadPollUs));
  if (got == ReadResult::Byte) {
    *destination = input_[input_next_++];
  } else if (got == ReadResult::HungUp) {
    error.keep("read", hang_up_code_);
  }
  return got;
}

// The server's input buffer is purged; what has already reached this side
// is dropped here. Bytes the server sent before the purge reached it can
// still arrive after this returns.
void Rfc2217Device::purge_input() {
  input_next_ = input_end_ = 0;
  if (hung_up_) return;
  std::uint8_t purge[kCommandBytes];
  send_command(purge, com_port_command(kPurgeData, 1, 1, purge));
  for (std::size_t i = 0; i < kPurgeReads && !hung_up_; ++i) {
    const net::Moved moved = net::receive_some(socket_, input_, sizeof input_);
    if (moved.failure != 0) hang_up(moved.failure);
    if (moved.bytes == 0) break;
    decode(input_, moved.bytes);
    input_end_ = 0;
  }
}

void Rfc2217Device::close() {
  if (!hung_up_) {
    // ser2net drops what it has read and not yet handed to its device when
    // the client goes (an acknowledgement that reached it with the close was
    // lost), so the close waits for its word; what it has handed, it lets
    // its device send before it closes the device (gensio's serial close
    // waits for the output to drain). A re-open that follows thus sets the
    // next parity on a quiet line. A close reports nothing: a server that
    // does not answer is closed on anyway.
    FirstError ignored;
    await_server_word(ignored);
    sleep_until_ns(us_to_ns(clock_.free_us()));
    pay_owed(monotonic_ns() + kCommandNs);
  }
  net::close(socket_);
}

}  // namespace tarvex::line
