#include "sim/pty_peer.h"

// termios2 through the kernel's own header: the speed as a number, and no
// clash with the C library's termios.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarvex::sim {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(errno));
}

// Raw, as a serial port that passes bytes unchanged. On a pty the termios
// set through the master are the slave's: this is the mode the host finds
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

PtyPeer::PtyPeer(Options options) {
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
}

PtyPeer::~PtyPeer() {
  if (slave_fd_ >= 0) ::close(slave_fd_);
  if (master_fd_ >= 0) ::close(master_fd_);
}

LineSample PtyPeer::line_now() const {
  termios2 tio{};
  ioctl(master_fd_, TCGETS2, &tio);
  return decode(tio);
}

PtyPeer::Batch PtyPeer::receive(int timeout_ms) {
  using std::chrono::steady_clock;
  Batch batch;
  const auto sample = [&] {
    const LineSample now = line_now();
    if (now.parity == LineParity::Mark && last_parity_ != LineParity::Mark) batch.mark_entered = true;
    last_parity_ = now.parity;
    return now;
  };
  batch.before = sample();
  const auto deadline = steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - steady_clock::now());
    const long slice_ns = std::clamp<long>(static_cast<long>(left.count()), 0, 250000);
    pollfd pfd{master_fd_, POLLIN, 0};
    const timespec slice{0, slice_ns};
    if (ppoll(&pfd, 1, &slice, nullptr) != 0 || slice_ns < 250000) break;
    sample();
  }
  for (;;) {
    std::uint8_t chunk[256];
    const ssize_t n = ::read(master_fd_, chunk, sizeof chunk);
    if (n <= 0) break;
    batch.bytes.insert(batch.bytes.end(), chunk, chunk + n);
  }
  batch.after = sample();
  batch.at = steady_clock::now();
  return batch;
}

long PtyPeer::send(const std::uint8_t* bytes, std::size_t count) const {
  const ssize_t n = ::write(master_fd_, bytes, count);
  if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
  return static_cast<long>(n);
}

}  // namespace tarvex::sim
