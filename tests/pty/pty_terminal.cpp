#include "pty_terminal.h"

// termios2 through the kernel's own header: the speed as a number, and no
// clash with the C library's termios.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tarvex::testing {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("pty terminal: " + what + ": " + std::strerror(errno));
}

// Raw, as a serial port that passes bytes unchanged. On a pty the termios
// set through the master are the slave's: this is the mode the library finds
// when it opens the port.
void make_raw(termios2& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

LineSample decode(const termios2& tio) {
  LineSample sample;
  const tcflag_t c = tio.c_cflag;
  if ((c & CMSPAR) != 0) {
    sample.parity = (c & PARODD) != 0 ? LineParity::Mark : LineParity::Space;
  }
  sample.two_stop_bits = (c & CSTOPB) != 0;
  sample.baud = tio.c_ospeed;
  sample.cflag = c;
  return sample;
}

}  // namespace

const char* name_of(LineParity parity) {
  switch (parity) {
    case LineParity::Mark: return "MARK";
    case LineParity::Space: return "SPACE";
    case LineParity::None: return "NONE";
  }
  return "?";
}

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

PtyTerminal::PtyTerminal(Options options) {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_fd_ < 0) fail("posix_openpt");
  if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0) fail("grantpt/unlockpt");
  char path[64];
  if (ptsname_r(master_fd_, path, sizeof path) != 0) fail("ptsname_r");
  slave_path_ = path;
  slave_fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_fd_ < 0) fail("open " + slave_path_);
  if (!options.start_cooked) {
    termios2 tio{};
    if (ioctl(master_fd_, TCGETS2, &tio) != 0) fail("TCGETS2");
    make_raw(tio);
    if (ioctl(master_fd_, TCSETS2, &tio) != 0) fail("TCSETS2");
  }
  thread_ = std::thread([this] { run(); });
}

PtyTerminal::~PtyTerminal() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slave_fd_ >= 0) ::close(slave_fd_);
  if (master_fd_ >= 0) ::close(master_fd_);
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
    if (ioctl(slave_fd_, TIOCINQ, &unread) == 0 && unread >= 0 &&
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

LineSample PtyTerminal::line_now() const {
  termios2 tio{};
  ioctl(master_fd_, TCGETS2, &tio);
  return decode(tio);
}

// One pass: wait up to a millisecond for bytes (or until an answer is due),
// take everything there is, sample the setting, answer what is due.
void PtyTerminal::run() {
  Bytes incoming;
  while (!stop_) {
    pollfd pfd{master_fd_, POLLIN, 0};
    poll(&pfd, 1, poll_timeout_ms(Clock::now()));
    incoming.clear();
    for (;;) {
      std::uint8_t chunk[256];
      const ssize_t n = ::read(master_fd_, chunk, sizeof chunk);
      if (n <= 0) break;
      incoming.insert(incoming.end(), chunk, chunk + n);
    }
    const LineSample line = line_now();
    take_bytes(incoming.data(), incoming.size(), line, Clock::now());
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
    const ssize_t n = ::write(master_fd_, out.bytes.data() + out.sent, wanted);
    const bool broken = n < 0 && errno != EAGAIN && errno != EINTR;
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
