// The termios backend's device. The port is put into raw binary mode at open
// (the equivalent of a binary COM port); afterwards only parity, stop bits,
// byte size and baud ever change.
#include "line/termios_device.h"

#include <asm/termbits.h>  // termios2 and BOTHER, for rates termios has no constant for
#include <fcntl.h>
#include <linux/serial.h>  // serial_struct: the size of a UART's transmit FIFO
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <optional>

#include "line/monotonic_clock.h"

namespace tarvex::line {
namespace {

std::uint32_t errno_code() {
  return static_cast<std::uint32_t>(errno);
}

// Raw binary mode: no echo, no canonical input, no translation either way,
// no software flow control, reads that never block in the driver.
constexpr tcflag_t kRawInputOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                                  IXON | IXOFF | IXANY | INPCK | IGNPAR;
constexpr tcflag_t kRawLocalOff = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kRawControlOn = CLOCAL | CREAD;

void make_raw(termios2& tio) {
  tio.c_iflag &= ~kRawInputOff;
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~kRawLocalOff;
  tio.c_cflag |= kRawControlOn;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

bool is_raw(const termios2& tio) {
  return (tio.c_iflag & kRawInputOff) == 0 && (tio.c_oflag & OPOST) == 0 &&
         (tio.c_lflag & kRawLocalOff) == 0 && (tio.c_cflag & kRawControlOn) == kRawControlOn &&
         tio.c_cc[VMIN] == 0 && tio.c_cc[VTIME] == 0;
}

// What carries the protocol in a setting the driver reports back. A
// pseudo-terminal reports PARENB cleared whatever was applied, but keeps
// CMSPAR and PARODD: those tell MARK, SPACE and NONE apart on every port,
// and a driver without mark/space parity shows itself by clearing CMSPAR.
constexpr tcflag_t kProtocolFlags = CMSPAR | PARODD | CSTOPB | CSIZE;

bool took(const termios2& asked, const termios2& applied, const LineSetting& setting) {
  return (asked.c_cflag & kProtocolFlags) == (applied.c_cflag & kProtocolFlags) &&
         (!setting.baud || rate_matches(*setting.baud, applied.c_ospeed));
}

// The setting a port reports, as the clock counts it.
LineSetting reported(const termios2& tio) {
  // Only whether there is a parity bit counts for the clock, not which.
  return {(tio.c_cflag & (PARENB | CMSPAR)) != 0 ? Parity::Mark : Parity::None,
          (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One,
          tio.c_ospeed == 0 ? std::nullopt : std::optional<std::uint32_t>(tio.c_ospeed)};
}

// Applies `tio` with `request` (interrupted waits retried) and reads it
// back; false, with the reason kept, when the call failed.
bool apply(int fd, unsigned long request, const termios2& tio, termios2& applied,
           const char* operation, FirstError& error) {
  int result = 0;
  do {
    result = ioctl(fd, request, &tio);
  } while (result != 0 && errno == EINTR);
  if (result != 0 || ioctl(fd, TCGETS2, &applied) != 0) {
    error.keep(operation, errno_code());
    return false;
  }
  return true;
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

bool get(int fd, termios2& tio) {
  return ioctl(fd, TCGETS2, &tio) == 0;
}

// ---- Waiting for the output queue ------------------------------------------
//
// The kernel cannot be asked to wait until a port's output has gone out
// within a time limit, so the queue is looked at again and again. Between two
// looks the backend sleeps rather than spins: bytes leave the kernel's buffer
// no faster than the line sends them, except those the hardware takes ahead
// of the line (a UART's transmit FIFO, whose size TIOCGSERIAL reports: 16 for
// a 16550A, 1 without one; a USB adapter's buffer fills first and then takes
// bytes at the line's pace). So q queued bytes cannot all be gone sooner than
// q - fifo character times from now: the first sleep is that long, and after
// it the queue is looked at every eighth of a character time, so an empty
// queue is seen a small part of a character after it emptied; the character
// time is the one of the setting the driver last reported. Where the FIFO is
// unknown, the looks are half a millisecond apart.
constexpr std::uint64_t kLookAgainUs = 500;
constexpr std::uint64_t kShortestLookUs = 100;

std::optional<int> transmit_fifo(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.xmit_fifo_size < 1) return std::nullopt;
  return serial.xmit_fifo_size;
}

// Sleeps before the next look at a queue of `queued` bytes, at most `at_most_us`.
void pause_for_output(int fd, int queued, std::uint64_t character, std::uint64_t at_most_us) {
  std::uint64_t pause = kLookAgainUs;
  if (const std::optional<int> fifo = transmit_fifo(fd)) {
    pause = std::clamp(character / 8, kShortestLookUs, kLookAgainUs);
    if (queued > *fifo) pause = std::max(pause, static_cast<std::uint64_t>(queued - *fifo) * character);
  }
  sleep_us(std::min(pause, at_most_us));
}

}  // namespace

// Waits, sleeping, until the kernel's output queue is empty, up to `limit_us`
// after `start_us`. False when it did not empty (or cannot be asked).
bool TermiosDevice::wait_for_empty_queue(std::uint64_t start_us, std::uint64_t limit_us) const {
  int queued = 0;
  for (;;) {
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    if (queued <= 0) return true;
    const std::uint64_t spent = monotonic_us() - start_us;
    if (spent >= limit_us) return false;
    pause_for_output(fd_, queued, clock_.character_us(), limit_us - spent);
  }
}

// The same, for at most the line time of what is queued now and
// kStuckQueueUs more.
bool TermiosDevice::wait_for_empty_queue() const {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
  if (queued <= 0) return true;
  const std::uint64_t limit = static_cast<std::uint64_t>(queued) * clock_.character_us() + kStuckQueueUs;
  return wait_for_empty_queue(monotonic_us(), limit);
}

std::optional<TermiosDevice> TermiosDevice::open(const char* name, FirstError& error) {
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error.keep("open", errno_code());
    return std::nullopt;
  }
  // Exclusive, as a COM port is: a second open in this or another process
  // fails while this handle lives. A lock held elsewhere is the port being
  // busy, whatever word flock uses for it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error.keep("open", errno == EWOULDBLOCK ? static_cast<std::uint32_t>(EBUSY) : errno_code());
    ::close(fd);
    return std::nullopt;
  }
  // Only a terminal device can be a serial port: a regular file or
  // /dev/null fails here with ENOTTY.
  termios2 tio{};
  if (ioctl(fd, TIOCEXCL) != 0 || !get(fd, tio)) {
    error.keep("open", errno_code());
    ::close(fd);
    return std::nullopt;
  }
  // A port left in a mode that translates or swallows bytes would corrupt
  // every frame: one that will not be made raw is not opened.
  make_raw(tio);
  termios2 applied{};
  const bool raw = apply(fd, TCSETS2, tio, applied, "open", error);
  if (raw && !is_raw(applied)) error.keep("open", kSettingNotTaken);
  if (!raw || !is_raw(applied)) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    return std::nullopt;
  }
  return TermiosDevice(fd, LineClock(reported(applied)));
}

bool TermiosDevice::set_line(const LineSetting& setting, FirstError& error) {
  termios2 tio{};
  if (!get(fd_, tio)) {
    error.keep("line setting", errno_code());
    return false;
  }
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
  // The bytes already written must leave under the setting they were written
  // under: an address byte still in the UART would otherwise go out with the
  // data phase's parity. TCSETSW2 lets the transmitter empty first (USB
  // adapters included), but with no time limit, so it is used once the
  // kernel's queue has emptied; bytes that flow control holds for good are
  // not waited for.
  termios2 applied{};
  if (!apply(fd_, wait_for_empty_queue() ? TCSETSW2 : TCSETS2, tio, applied, "line setting", error)) {
    return false;
  }
  clock_.apply(reported(applied));
  if (!took(tio, applied, setting)) {
    error.keep("line setting", kSettingNotTaken);
    return false;
  }
  return true;
}

std::uint32_t TermiosDevice::write(const std::uint8_t* bytes, std::uint32_t count,
                                 FirstError& error) {
  const std::uint64_t start = monotonic_us();
  const std::uint64_t limit = write_limit_us(count);
  std::uint32_t taken = 0;
  while (taken < count && !hung_up_) {
    const ssize_t n = ::write(fd_, bytes + taken, count - taken);
    if (n > 0) {
      taken += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      // EIO: the device has gone (an adapter unplugged, the far end hung up).
      error.keep("write", errno_code());
      hung_up_ = errno == EIO;
      break;
    }
    const std::uint64_t spent = monotonic_us() - start;
    if (spent >= limit) break;
    // The limit of a huge write would not fit poll's int, and a negative
    // timeout would mean waiting for ever.
    pollfd pfd{fd_, POLLOUT, 0};
    poll(&pfd, 1, static_cast<int>(std::min<std::uint64_t>((limit - spent + 999) / 1000, INT_MAX)));
  }
  // A serial write with write timeouts returns once its bytes have gone out,
  // not when they sit in a buffer: the limits that follow a write (an
  // acknowledgement after a large block) count from there. The kernel's
  // buffer is given the rest of the write's own time limit to empty.
  if (taken > 0) wait_for_empty_queue(start, limit);
  return taken;
}

ReadResult TermiosDevice::read_byte(std::uint8_t* destination, FirstError& error) {
  if (hung_up_) return ReadResult::HungUp;
  pollfd pfd{fd_, POLLIN, 0};
  const int ready = poll(&pfd, 1, static_cast<int>(kReadPollMs));
  if (ready < 0) {
    // A signal: the caller looks at its limit again. Any other failure
    // (the kernel short of memory) would come back at once on every attempt,
    // so the attempt still takes its poll's time instead of spinning.
    if (errno != EINTR) sleep_us(kReadPollUs);
    return ReadResult::Nothing;
  }
  if ((pfd.revents & POLLIN) != 0) {
    const ssize_t n = ::read(fd_, destination, 1);
    if (n == 1) return ReadResult::Byte;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::Nothing;
    // End of file on a terminal device, or EIO: the far end hung up.
    error.keep("read", n < 0 ? errno_code() : static_cast<std::uint32_t>(EIO));
    hung_up_ = true;
    return ReadResult::HungUp;
  }
  if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    error.keep("read", static_cast<std::uint32_t>(EIO));
    hung_up_ = true;
    return ReadResult::HungUp;
  }
  return ReadResult::Nothing;
}

// Whoever asks waits for the queue to empty (the drain wait), so a queue that
// is not empty is answered after a pause, with the count as it is then: the
// caller looks at its limit right after, as it would after a spin. The pause
// is never longer than a read's poll, so a drain limit is given up within one
// poll of running out.
std::optional<std::uint32_t> TermiosDevice::output_queue(FirstError& error) {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0) {
    error.keep("output queue", errno_code());
    return std::nullopt;
  }
  if (queued > 0) {
    pause_for_output(fd_, queued, clock_.character_us(), kReadPollUs);
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) {
      error.keep("output queue", errno_code());
      return std::nullopt;
    }
  }
  return static_cast<std::uint32_t>(queued < 0 ? 0 : queued);
}

void TermiosDevice::purge_input() {
  ioctl(fd_, TCFLSH, TCIFLUSH);
}

void TermiosDevice::close() {
  // The last bytes written leave before the port goes: a re-open that
  // follows sets the next parity on the same device. TCSBRK with 1 is
  // tcdrain, unbounded, so it waits only once the kernel's queue is empty.
  if (!hung_up_ && wait_for_empty_queue()) ioctl(fd_, TCSBRK, 1);
  // TIOCEXCL belongs to the device, not to this descriptor: lift it so it
  // does not outlive the handle while another process keeps the device open.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

}  // namespace tarvex::line
