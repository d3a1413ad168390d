// A simulated RS-485 bus behind simulated serial ports, with a virtual clock.
//
// SimBus implements the same Platform interface as the operating-system
// backends, so every exchange runs on it unchanged. Time is virtual: a busy
// wait spins on a tick that advances a little at every reading, a read with
// nothing to deliver moves the clock by its 15 ms poll, and a test of a
// 4550 ms limit runs in microseconds with exact, repeatable timing.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "line/first_error.h"
#include "line/line_clock.h"
#include "line/platform.h"
#include "trace/trace_recording.h"

namespace tarvex::sim {

using line::Handle;
using line::LineSetting;
using line::Parity;
using line::StopBits;

class SimBus;

// What a terminal uses to answer on the line it hangs on: the simulated
// bus, or a pseudo-terminal that a real host drives (sim/pty_peer.h).
class Responder {
 public:
  virtual ~Responder() = default;
  // Queues bytes that start arriving at `start_us`, one after the other, with
  // `gap_us` of silence between two bytes.
  virtual void send(std::span<const std::uint8_t> bytes, std::uint64_t start_us, std::uint64_t gap_us = 0) = 0;
  virtual std::uint64_t now_us() const = 0;
};

// The answers of the terminals on one port of the simulated bus.
class BusResponder final : public Responder {
 public:
  BusResponder(SimBus& bus, std::string port) : bus_(bus), port_(std::move(port)) {}
  void send(std::span<const std::uint8_t> bytes, std::uint64_t start_us, std::uint64_t gap_us = 0) override;
  std::uint64_t now_us() const override;

 private:
  SimBus& bus_;
  std::string port_;
};

// A device on the bus: it sees every byte the host puts on the line, as the
// byte ends, with its parity bit, and may answer.
class Terminal {
 public:
  virtual ~Terminal() = default;
  virtual void on_byte(const trace::WireByte& byte, Responder& line) = 0;
};

// The faults a test can put into the port. A fault at call index k strikes
// the k-th platform call (counting from 0) with what fits that call: an open
// fails, a line setting is not taken (the port keeps the one it had), a
// write takes half of its bytes (none of one byte), a read stops
// delivering from then on (or, garbled, delivers its byte altered, or finds
// that the port has hung up: from then on every read says so at once and
// every write takes nothing), the output queue never drains from then on,
// and a tick reading leaps the clock by ten seconds (every byte after it is
// late).
struct Faults {
  enum class Read { Stop, Garble, HangUp };
  std::optional<std::uint64_t> at_call;
  Read read = Read::Stop;
  std::optional<std::uint64_t> short_write_at;  // index among write calls
  std::uint32_t short_write_takes = 0;
  bool queue_never_drains = false;
  // The far end goes before the k-th platform call, whatever that call is:
  // from then on the port has hung up, as after a read's HangUp.
  std::optional<std::uint64_t> hang_up_at_call;
};

class SimBus final : public line::Platform {
 public:
  struct Options {
    std::uint32_t tick_start_ms = 0;     // where the 32-bit tick starts (to test the wrap)
    std::uint64_t tick_cost_us = 20;     // how far each tick reading moves the clock
    std::uint64_t read_poll_us = line::kReadPollUs;  // a read with nothing to deliver
  };

  SimBus();
  explicit SimBus(Options options);
  ~SimBus() override;

  // Ports and terminals.
  void add_port(const std::string& name);
  void attach(const std::string& port, std::shared_ptr<Terminal> terminal);

  // Platform.
  Handle open(const char* name, line::TimeoutSet timeouts) override;
  bool set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  line::ReadResult read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  bool hung_up(Handle) override { return hung_up_ || far_end_gone(); }
  // The bus is local: no round trip to allow for.
  std::uint32_t reply_allowance_ms(Handle) override { return 0; }
  void close(Handle port) override;
  std::uint32_t tick() override;
  // Each reading of the tick moves the virtual clock, so the busy wait's own
  // spin is the wait: nothing to add.
  void pause_until_tick(std::uint32_t) override {}
  // The errors a real port would give, with Linux's numbers: an open of an
  // unknown or busy port, a call on a handle that is not open, a port that
  // hung up.
  std::optional<line::OsError> error() const override { return error_.get(); }

  // Bytes that reach the host's side of `port` as if a terminal sent them.
  void inject(const std::string& port, std::span<const std::uint8_t> bytes,
              std::uint64_t start_us, std::uint64_t gap_us = 0) {
    queue_arrivals(port, bytes, start_us, gap_us);
  }

  // The clock.
  std::uint64_t now_us() const { return now_us_; }
  void advance(std::uint64_t us);

  // What happened: every call and character, as a traced real port records them.
  const std::vector<trace::TraceEvent>& trace() const { return recording_.events(); }
  void clear_trace() { recording_.clear(); }
  std::vector<trace::WireByte> sent(const std::string& port) const;      // host to terminals
  std::vector<trace::WireByte> received(const std::string& port) const;  // terminals to host
  std::optional<LineSetting> setting(const std::string& port) const;
  std::optional<line::TimeoutSet> timeouts(const std::string& port) const;
  std::size_t open_handles() const;
  std::uint64_t opens() const { return opens_; }
  std::uint64_t calls() const { return calls_; }
  // Line settings and closes that came while a character was still on the
  // line: never, since both wait for the line to be free.
  std::size_t hazards() const;
  std::size_t pending_input(const std::string& port) const;

  Faults& faults() { return faults_; }

 private:
  friend class BusResponder;
  struct Port;
  struct Arrival {
    std::uint64_t at_us;
    std::uint8_t value;
  };

  Port* find(Handle handle);
  const Port* find_name(const std::string& name) const;
  Port* find_name(const std::string& name);
  bool fault_now();
  bool far_end_gone() const { return faults_.hang_up_at_call && calls_ >= *faults_.hang_up_at_call; }
  void deliver_until(std::uint64_t t);
  void wait_for_line_free(Port& port);
  // Keeps the first error of the bus's life, as the error a call returns
  // with, and shows it in the trace.
  void fail(const char* operation, std::uint32_t code);
  std::optional<std::uint64_t> next_event(const Port& port) const;
  void queue_arrivals(const std::string& port, std::span<const std::uint8_t> bytes,
                      std::uint64_t start_us, std::uint64_t gap_us);

  Options options_;
  std::uint64_t now_us_ = 0;
  std::map<std::string, std::unique_ptr<Port>> ports_;
  trace::Recording recording_;
  Handle next_handle_ = 0x100;
  std::uint64_t opens_ = 0;
  std::uint64_t calls_ = 0;
  std::uint64_t writes_ = 0;
  bool tick_follows_poll_ = false;
  bool reads_stopped_ = false;
  bool hung_up_ = false;
  bool queue_stuck_ = false;
  Faults faults_;
  line::FirstError error_;
};

}  // namespace tarvex::sim
