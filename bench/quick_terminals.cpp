#include "quick_terminals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarvex::bench {
namespace {

double monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

QuickTerminals::QuickTerminals(std::size_t buses) {
  for (std::size_t i = 0; i < buses; ++i) buses_.push_back(std::make_unique<Bus>());
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  if (stop_fd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
  thread_ = std::thread([this] { run(); });
  pthread_getcpuclockid(thread_.native_handle(), &cpu_clock_);  // cannot fail: the thread runs
}

QuickTerminals::~QuickTerminals() {
  const std::uint64_t one = 1;
  // An eventfd takes a write of 8 bytes as long as its count does not overflow.
  if (write(stop_fd_, &one, sizeof one) != sizeof one) std::terminate();
  thread_.join();
  close(stop_fd_);
}

const std::string& QuickTerminals::port(std::size_t bus) const {
  return buses_.at(bus)->peer.port();
}

void QuickTerminals::expect(std::size_t bus, const std::vector<Step>& answers) {
  Bus& b = *buses_.at(bus);
  const std::lock_guard lock(b.lock);
  b.steps.assign(answers.begin(), answers.end());
  b.since_answer = 0;
  answer_ready_steps(b);  // steps that wait for no byte go at once
}

std::uint64_t QuickTerminals::heard(std::size_t bus) const {
  const Bus& b = *buses_.at(bus);
  const std::lock_guard lock(b.lock);
  return b.heard;
}

bool QuickTerminals::wait_heard(std::size_t bus, std::uint64_t count,
                                std::chrono::milliseconds timeout) const {
  const Bus& b = *buses_.at(bus);
  std::unique_lock lock(b.lock);
  return b.heard_more.wait_for(lock, timeout, [&] { return b.heard >= count; });
}

QuickTerminals::Cost QuickTerminals::cost() const {
  timespec used{};
  clock_gettime(cpu_clock_, &used);
  const std::lock_guard lock(cost_lock_);
  return {static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6,
          longest_pass_ms_};
}

// Sleeps until some host has written (or the end is asked for), then takes
// what every ready bus has and answers what is due.
void QuickTerminals::run() {
  std::vector<pollfd> waits;
  for (const auto& bus : buses_) waits.push_back({bus->peer.master_fd(), POLLIN, 0});
  waits.push_back({stop_fd_, POLLIN, 0});
  for (;;) {
    if (poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits.back().revents != 0) return;
    const double woke = monotonic_ms();
    for (std::size_t i = 0; i < buses_.size(); ++i) {
      if ((waits[i].revents & POLLIN) != 0) take_bytes(*buses_[i]);
      // A master that fails (it never does while its slave is held open)
      // is left out rather than polled in a spin.
      if ((waits[i].revents & (POLLERR | POLLNVAL)) != 0) waits[i].fd = -1;
    }
    const double pass = monotonic_ms() - woke;
    const std::lock_guard lock(cost_lock_);
    longest_pass_ms_ = std::max(longest_pass_ms_, pass);
  }
}

void QuickTerminals::take_bytes(Bus& bus) {
  std::uint8_t chunk[256];
  for (;;) {
    const ssize_t n = read(bus.peer.master_fd(), chunk, sizeof chunk);
    if (n <= 0) return;
    const std::lock_guard lock(bus.lock);
    for (ssize_t i = 0; i < n; ++i) {
      ++bus.heard;
      ++bus.since_answer;
      answer_ready_steps(bus);
    }
    bus.heard_more.notify_all();
  }
}

// With the bus's lock held.
void QuickTerminals::answer_ready_steps(Bus& bus) {
  while (!bus.steps.empty() && bus.since_answer >= bus.steps.front().after_bytes) {
    const testing::Bytes& reply = bus.steps.front().reply;
    std::size_t sent = 0;
    // A reply of a few bytes always fits the pseudo-terminal's buffer; a
    // pair that has gone takes nothing more.
    while (sent < reply.size()) {
      const long n = bus.peer.send(reply.data() + sent, reply.size() - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    bus.steps.pop_front();
    bus.since_answer = 0;
  }
}

}  // namespace tarvex::bench
