// Terminals that answer at once, one per bus, all served by a single thread
// that sleeps in poll() until some host writes: the far side of the
// multi-bus bench.
//
// The tests' PtyTerminal gives each terminal a thread of its own that wakes
// every quarter millisecond to sample the line setting. The tests need those
// samples; a bench of many buses cannot afford the wake-ups (32 terminals
// would wake 128 000 times a second on a 2-core machine and take the
// processor from the hosts being measured). These terminals only count the
// bytes they hear and answer by script, so the bench measures the hosts.
#pragma once

#include <time.h>
#include <chrono>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_terminal.h"
#include "sim/pty_peer.h"

namespace tarvex::bench {

class QuickTerminals {
 public:
  // Of a step only after_bytes and reply count: the answer goes at once.
  using Step = testing::PtyTerminal::Step;

  // What the terminals' thread has cost so far.
  struct Cost {
    double cpu_ms = 0;           // its processor time
    double longest_pass_ms = 0;  // its longest pass, from waking to the last answer sent
  };

  // Opens `buses` pseudo-terminal pairs; throws std::runtime_error when the
  // system has no more to give.
  explicit QuickTerminals(std::size_t buses);
  ~QuickTerminals();
  QuickTerminals(const QuickTerminals&) = delete;
  QuickTerminals& operator=(const QuickTerminals&) = delete;

  // The slave's path of `bus`: the port name to give the library.
  const std::string& port(std::size_t bus) const;

  // What the terminal on `bus` answers in the next exchange; whatever is
  // left of the last one is dropped and the count of bytes starts afresh.
  void expect(std::size_t bus, const std::vector<Step>& answers);

  // Bytes heard on `bus` since it opened.
  std::uint64_t heard(std::size_t bus) const;
  // Waits until `count` bytes in all have been heard on `bus`, or `timeout`
  // passed.
  bool wait_heard(std::size_t bus, std::uint64_t count, std::chrono::milliseconds timeout) const;

  Cost cost() const;

 private:
  struct Bus {
    sim::PtyPeer peer;
    mutable std::mutex lock;
    mutable std::condition_variable heard_more;
    std::deque<Step> steps;
    std::size_t since_answer = 0;
    std::uint64_t heard = 0;
  };

  void run();
  void take_bytes(Bus& bus);
  static void answer_ready_steps(Bus& bus);

  std::vector<std::unique_ptr<Bus>> buses_;
  int stop_fd_ = -1;       // an eventfd: written once to end the thread
  clockid_t cpu_clock_{};  // the thread's processor time
  double longest_pass_ms_ = 0;
  mutable std::mutex cost_lock_;
  std::thread thread_;
};

}  // namespace tarvex::bench
