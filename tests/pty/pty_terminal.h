// A terminal on the far side of a pseudo-terminal pair, for the tiers that
// run the real library over a real file descriptor (pty, wine).
//
// The library opens the slave path as its serial port; this terminal sits on
// the master, on a thread of its own. It records every byte the library
// writes, with the line setting in force when the byte was read and when it
// was read, and answers by script: after k bytes, send these bytes after d ms.
//
// The pair itself, and how the slave's line setting is read through the
// master, are sim::PtyPeer's (sim/pty_peer.h).
//
// The setting is sampled right after the read that returned a byte, so it is
// the setting the byte went out with only when the library did not switch in
// between. That holds for every byte after which the line stays as it is (the
// data phase, a whole frame under one setting). It does not hold reliably for
// a byte written just before a switch, such as an address byte: the kernel
// hands bytes written on the slave to the master through a worker thread,
// which on a loaded machine can run later than the switch. Such a sample
// shows the parity when it matches and proves nothing when it does not.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_peer.h"

namespace tarvex::testing {

using Bytes = std::vector<std::uint8_t>;
// CLOCK_MONOTONIC, the clock the library's tick reads.
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using sim::LineParity;
using sim::LineSample;
using sim::name_of;

// One byte the library wrote, with the slave's setting sampled right after
// the read that returned it, and the time of that read.
struct HeardByte {
  std::uint8_t value = 0;
  LineSample line;
  Clock::time_point at;
};

// A reply the terminal wrote. The times are taken just before the write of
// its first byte and of its last: the library cannot have read them sooner.
struct Answer {
  Bytes bytes;
  Clock::time_point first_at;
  Clock::time_point last_at;
};

class PtyTerminal {
 public:
  struct Step {
    std::size_t after_bytes = 0;  // bytes to hear since the previous step fired (0: at once)
    Bytes reply;                  // what to send
    milliseconds delay{1};        // silence between the last byte heard and the reply
    milliseconds gap{0};          // silence between two reply bytes (0: one write)
  };

  struct Options {
    // Leave the pair in the kernel's default cooked mode (echo, CR/LF
    // translation, signals) instead of raw, to show that the library makes
    // the port raw itself.
    bool start_cooked = false;
  };

  PtyTerminal() : PtyTerminal(Options{}) {}
  explicit PtyTerminal(Options options);
  ~PtyTerminal();
  PtyTerminal(const PtyTerminal&) = delete;
  PtyTerminal& operator=(const PtyTerminal&) = delete;

  // The slave's path, e.g. /dev/pts/7: the port name to give the library.
  const std::string& port() const { return peer_.port(); }

  // Queues an answer; steps fire in order. May be called while it runs.
  PtyTerminal& then(Step step);
  PtyTerminal& then(std::size_t after_bytes, Bytes reply, milliseconds delay = milliseconds{1});

  // Waits until `count` bytes in all have been heard, or `timeout` passed.
  bool wait_heard(std::size_t count, milliseconds timeout) const;
  // Waits until every step has been answered, or `timeout` passed.
  bool wait_answered(milliseconds timeout) const;
  // Waits until at least `count` bytes wait unread in the port, or `timeout`
  // passed. Bytes written on the master reach the slave through a kernel
  // worker, a little after the write: this is when a reply sent before a call
  // is really there for it.
  bool wait_unread(std::size_t count, milliseconds timeout) const;

  std::vector<HeardByte> heard() const;
  Bytes heard_values() const;
  std::vector<Answer> answers() const;
  std::size_t steps_left() const;

  // The slave's line setting now.
  LineSample line_now() const;
  // A descriptor of the slave that the terminal keeps open (so the master
  // never sees a hang-up between two opens by the library), for ioctls a test
  // wants to make on the device, such as TIOCGEXCL.
  int slave_fd() const { return peer_.slave_fd(); }

 private:
  struct Outgoing {
    Bytes bytes;
    milliseconds gap;
    Clock::time_point due;
    std::size_t sent = 0;
    Clock::time_point first_at{};
    Clock::time_point last_at{};
  };

  void run();
  void take_bytes(const std::uint8_t* bytes, std::size_t count, const LineSample& line,
                  Clock::time_point at);
  void send_due(Clock::time_point now);
  int poll_timeout_ms(Clock::time_point now) const;

  sim::PtyPeer peer_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<Step> steps_;
  std::size_t since_answer_ = 0;
  std::deque<Outgoing> outgoing_;
  std::vector<HeardByte> heard_;
  std::vector<Answer> answers_;

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// "05 C2 01 C8": bytes as the tests print them.
std::string hex(const Bytes& bytes);

}  // namespace tarvex::testing
