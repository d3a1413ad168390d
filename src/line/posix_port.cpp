// The termios backend. The port is put into raw binary mode at open (the
// equivalent of a binary COM port); afterwards only parity, stop bits, byte
// size and baud ever change. MARK and SPACE parity come from CMSPAR.
#include "line/posix_port.h"

#include <asm/termbits.h>  // termios2 and BOTHER, for rates termios has no constant for
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace tarvex::line {
namespace {

// The two timeout sets bound a one-byte read to 5 * 1 + 10 ms and a write
// of k bytes to 5 * k + 10 ms; poll() gives the same bounds here.
constexpr int kReadPollMs = 15;
constexpr int kWritePerByteMs = 5;
constexpr int kWriteConstantMs = 10;

int fd_of(Handle port) { return static_cast<int>(port); }

std::uint64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

// Raw binary mode: no echo, no canonical input, no translation either way,
// no software flow control, reads that never block in the driver.
void make_raw(termios2& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IUCLC | IXON | IXOFF | IXANY | INPCK | IGNPAR);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= static_cast<tcflag_t>(CLOCAL | CREAD);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

// The rates termios names with a constant. Every driver understands these;
// BOTHER, which takes any rate, is kept for the others. 0 is not among them:
// as a constant it would hang up the line.
struct NamedRate {
  std::uint32_t baud;
  tcflag_t code;
};
constexpr NamedRate kNamedRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

tcflag_t rate_code(std::uint32_t baud) {
  for (const NamedRate& named : kNamedRates) {
    if (named.baud == baud) return named.code;
  }
  return BOTHER;
}

bool get(int fd, termios2& tio) { return ioctl(fd, TCGETS2, &tio) == 0; }
void put(int fd, const termios2& tio) { ioctl(fd, TCSETS2, &tio); }

}  // namespace

Handle PosixPort::open(const char* name, TimeoutSet) {
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  // Exclusive, as a COM port is: a second open in this or another process
  // fails while this handle lives.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return kInvalidHandle;
  }
  termios2 tio{};
  if (get(fd, tio)) {
    make_raw(tio);
    put(fd, tio);
  }
  return static_cast<Handle>(fd);
}

void PosixPort::set_line(Handle port, const LineSetting& setting) {
  const int fd = fd_of(port);
  termios2 tio{};
  if (!get(fd, tio)) return;
  // Rebuilt from the flags every time, never patched: no stale CMSPAR or
  // PARODD survives a switch.
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB | CSIZE);
  tio.c_cflag |= CS8;
  switch (setting.parity) {
    case Parity::Mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case Parity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    case Parity::None: break;
  }
  if (setting.stop_bits == StopBits::Two) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);  // parity errors are not reported
  if (setting.baud) {
    // Input and output at the same rate. The speed fields count only with
    // BOTHER; the kernel fills them in for a named rate.
    const tcflag_t code = rate_code(*setting.baud);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = *setting.baud;
    tio.c_ospeed = *setting.baud;
  }
  put(fd, tio);
}

std::uint32_t PosixPort::write(Handle port, const std::uint8_t* bytes, std::uint32_t count) {
  const int fd = fd_of(port);
  const std::uint64_t start = monotonic_ms();
  const std::uint64_t limit = std::uint64_t{kWritePerByteMs} * count + kWriteConstantMs;
  std::uint32_t taken = 0;
  while (taken < count) {
    const ssize_t n = ::write(fd, bytes + taken, count - taken);
    if (n > 0) {
      taken += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    const std::uint64_t spent = monotonic_ms() - start;
    if (spent >= limit) break;
    // The limit of a huge write would not fit poll's int, and a negative
    // timeout would mean waiting for ever.
    pollfd pfd{fd, POLLOUT, 0};
    poll(&pfd, 1, static_cast<int>(std::min<std::uint64_t>(limit - spent, INT_MAX)));
  }
  // A serial write with write timeouts returns once its bytes have gone out,
  // not when they sit in a buffer: the limits that follow a write (an
  // acknowledgement after a large block) count from there. The kernel's
  // buffer is given the rest of the write's own time limit to empty.
  int queued = 0;
  while (taken > 0 && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 &&
         monotonic_ms() - start < limit) {
    poll(nullptr, 0, 1);
  }
  return taken;
}

std::uint32_t PosixPort::read_byte(Handle port, std::uint8_t* destination) {
  const int fd = fd_of(port);
  pollfd pfd{fd, POLLIN, 0};
  if (poll(&pfd, 1, kReadPollMs) <= 0 || (pfd.revents & POLLIN) == 0) {
    // A port that cannot poll (closed, hung up) still takes its poll time,
    // as a read with its timeout set would.
    if (pfd.revents != 0) {
      timespec pause{0, kReadPollMs * 1000000L};
      nanosleep(&pause, nullptr);
    }
    return 0;
  }
  return ::read(fd, destination, 1) == 1 ? 1u : 0u;
}

std::optional<std::uint32_t> PosixPort::output_queue(Handle port) {
  int queued = 0;
  if (ioctl(fd_of(port), TIOCOUTQ, &queued) != 0) return std::nullopt;
  return static_cast<std::uint32_t>(queued < 0 ? 0 : queued);
}

void PosixPort::purge_input(Handle port) {
  ioctl(fd_of(port), TCFLSH, TCIFLUSH);
}

void PosixPort::close(Handle port) {
  const int fd = fd_of(port);
  // TIOCEXCL belongs to the device, not to this descriptor: lift it so it
  // does not outlive the handle while another process keeps the device open.
  if (ioctl(fd, TIOCNXCL) != 0 && errno == EBADF) return;
  ::close(fd);
}

std::uint32_t PosixPort::tick() { return static_cast<std::uint32_t>(monotonic_ms()); }

}  // namespace tarvex::line
