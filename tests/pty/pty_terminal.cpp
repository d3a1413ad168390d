#include "pty_terminal.h"

#include <sys/ioctl.h>

#include <cstdio>

namespace tarvex::testing {
std::string hex(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    char item[4];
    std::snprintf(item, sizeof item, "%02X", b);
    if (!text.empty()) text += ' ';
    text += item;
  }
  return text;
}

PtyTerminal::PtyTerminal(Options options) : peer_(sim::PtyPeer::Options{options.start_cooked}) {
  thread_ = std::thread([this] { run(); });
}

PtyTerminal::~PtyTerminal() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

PtyTerminal& PtyTerminal::then(Step step) {
  std::lock_guard lock(mutex_);
  steps_.push_back(std::move(step));
  return *this;
}

PtyTerminal& PtyTerminal::then(std::size_t after_bytes, Bytes reply, milliseconds delay) {
  return then(Step{after_bytes, std::move(reply), delay, milliseconds{0}});
}

bool PtyTerminal::wait_heard(std::size_t count, milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return heard_.size() >= count; });
}

bool PtyTerminal::wait_answered(milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return steps_.empty() && outgoing_.empty(); });
}

bool PtyTerminal::wait_unread(std::size_t count, milliseconds timeout) const {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    int unread = 0;
    if (ioctl(peer_.slave_fd(), TIOCINQ, &unread) == 0 && unread >= 0 &&
        static_cast<std::size_t>(unread) >= count) {
      return true;
    }
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds{1});
  }
}

std::vector<HeardByte> PtyTerminal::heard() const {
  std::lock_guard lock(mutex_);
  return heard_;
}

Bytes PtyTerminal::heard_values() const {
  std::lock_guard lock(mutex_);
  Bytes values;
  for (const HeardByte& b : heard_) values.push_back(b.value);
  return values;
}

std::vector<Answer> PtyTerminal::answers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

std::size_t PtyTerminal::steps_left() const {
  std::lock_guard lock(mutex_);
  return steps_.size() + outgoing_.size();
}

LineSample PtyTerminal::line_now() const { return peer_.line_now(); }

// One pass: wait up to a millisecond for bytes (or until an answer is due),
// take everything there is with the setting sampled right after, answer what
// is due.
void PtyTerminal::run() {
  while (!stop_) {
    const sim::PtyPeer::Batch batch = peer_.receive(poll_timeout_ms(Clock::now()));
    take_bytes(batch.bytes.data(), batch.bytes.size(), batch.after, batch.at);
    send_due(Clock::now());
  }
}

void PtyTerminal::take_bytes(const std::uint8_t* bytes, std::size_t count, const LineSample& line,
                             Clock::time_point at) {
  std::lock_guard lock(mutex_);
  const auto fire_ready_steps = [&] {
    while (!steps_.empty() && since_answer_ >= steps_.front().after_bytes) {
      Step step = std::move(steps_.front());
      steps_.pop_front();
      since_answer_ = 0;
      outgoing_.push_back({std::move(step.reply), step.gap, at + step.delay});
    }
  };
  fire_ready_steps();  // steps that wait for no byte go at once
  for (std::size_t i = 0; i < count; ++i) {
    heard_.push_back({bytes[i], line, at});
    ++since_answer_;
    fire_ready_steps();
  }
  changed_.notify_all();
}

void PtyTerminal::send_due(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  while (!outgoing_.empty() && outgoing_.front().due <= now) {
    Outgoing& out = outgoing_.front();
    const std::size_t wanted = out.gap.count() == 0 ? out.bytes.size() - out.sent : 1;
    // Taken before the write: the library cannot have these bytes sooner.
    const Clock::time_point writing_at = Clock::now();
    const long n = peer_.send(out.bytes.data() + out.sent, wanted);
    const bool broken = n < 0;
    if (n <= 0 && !broken) break;  // the pty is full: again on the next pass
    if (n > 0) {
      if (out.sent == 0) out.first_at = writing_at;
      out.last_at = writing_at;
      out.sent += static_cast<std::size_t>(n);
    }
    if (!broken && out.sent < out.bytes.size()) {
      out.due = out.last_at + out.gap;
      continue;
    }
    // Done, or the pair is gone: the answer is recorded as far as it went.
    out.bytes.resize(out.sent);
    answers_.push_back({std::move(out.bytes), out.first_at, out.last_at});
    outgoing_.pop_front();
    changed_.notify_all();
  }
}

int PtyTerminal::poll_timeout_ms(Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  if (!outgoing_.empty() && outgoing_.front().due <= now) return 0;
  return 1;
}

}  // namespace tarvex::testing
