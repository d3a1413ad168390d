// A Windows COM port. Apart from the byte counts and the output queue count,
// what the calls return decides nothing but whether the system's error is
// kept for the host, whether a line setting was taken and whether a port has
// gone (a device removed fails every read and write, or its status).
#if defined(_WIN32)

#include "line/win32_com_port.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "line/device.h"
#include "line/monotonic_clock.h"
#include "line/port_name.h"

namespace tarvex::line {
namespace {

static_assert(Device<Win32ComPort>);

// The line setting carries the DCB's own numbers, so they go in unchanged.
static_assert(static_cast<BYTE>(Parity::Mark) == MARKPARITY);
static_assert(static_cast<BYTE>(Parity::Space) == SPACEPARITY);
static_assert(static_cast<BYTE>(Parity::None) == NOPARITY);
static_assert(static_cast<BYTE>(StopBits::One) == ONESTOPBIT);
static_assert(static_cast<BYTE>(StopBits::Two) == TWOSTOPBITS);
static_assert(kSettingNotTaken == ERROR_NOT_SUPPORTED);

// The host sees a port as 32 bits. A HANDLE is pointer wide on a 64-bit
// build, but Windows keeps handle values within 32 bits (so that 32-bit
// processes can share them); sign extension restores them, the all-ones
// invalid handle included.
HANDLE to_native(Handle port) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(static_cast<std::int32_t>(port)));
}

Handle from_native(HANDLE handle) {
  return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle));
}

std::uint32_t last_error() {
  return static_cast<std::uint32_t>(GetLastError());
}

// Both sets bound a one-byte read to 5 * 1 + 10 ms and a write of k bytes to
// 5 * k + 10 ms (line_clock.h). The standard set's 65535 ms read interval
// never comes into play for one-byte reads; the re-open set switches it off.
COMMTIMEOUTS timeouts_for(TimeoutSet set) {
  static_assert(kReadPollMs == 5 * 1 + 10 && write_limit_us(1) == 1000 * (5 * 1 + 10));
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = set == TimeoutSet::Standard ? 0xFFFFu : 0u;
  t.ReadTotalTimeoutMultiplier = 5;
  t.ReadTotalTimeoutConstant = 10;
  t.WriteTotalTimeoutMultiplier = 5;
  t.WriteTotalTimeoutConstant = 10;
  return t;
}

// The setting a DCB holds, as the clock counts it: only whether there is a
// parity bit counts, and any stop bits but one count as two.
LineSetting clock_setting(const DCB& dcb) {
  return {dcb.Parity == NOPARITY ? Parity::None : Parity::Mark,
          dcb.StopBits == ONESTOPBIT ? StopBits::One : StopBits::Two, dcb.BaudRate};
}

// Whether the port took `asked`, once SetCommState has applied it: what it
// reports back carries the parity, stop bits, byte size and baud asked for.
// A driver without mark/space parity refuses the setting, or shows ODD or
// EVEN (or NONE) instead.
bool took(const DCB& asked, const DCB& applied) {
  return applied.Parity == asked.Parity && applied.StopBits == asked.StopBits &&
         applied.ByteSize == asked.ByteSize && rate_matches(asked.BaudRate, applied.BaudRate);
}

// What a queue of `queued` bytes surely needs before it is empty: the bytes
// beyond what a UART's transmit FIFO takes ahead of the line (16 in a
// 16550A; Windows does not say), at the line's rate.
constexpr std::uint32_t kAssumedFifo = 16;

}  // namespace

Handle Win32ComPort::open(const char* name, TimeoutSet timeouts, FirstError& error) {
  char device[kComDeviceBytes];
  if (port_kind(name) == PortKind::ComPort) {
    com_device_name(name, device);
    name = device;
  }
  // Share mode 0: the port is ours alone until it is closed.
  HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error.keep("open", last_error());
    return kInvalidHandle;
  }
  COMMTIMEOUTS t = timeouts_for(timeouts);
  SetCommTimeouts(handle, &t);
  return from_native(handle);
}

Win32ComPort::Win32ComPort(Handle handle, LineClock& clock, Win32Sleep& sleep)
    : handle_(to_native(handle)), clock_(clock), sleep_(sleep) {}

// The pause a wait for the output queue takes before it looks again: at
// least a millisecond, as long as the queued bytes surely need, at most
// `at_most_us`.
void Win32ComPort::pause_for_queue(std::uint32_t queued, std::uint64_t at_most_us) {
  const std::uint64_t beyond_fifo = queued > kAssumedFifo ? queued - kAssumedFifo : 0;
  const std::uint64_t pause = std::max<std::uint64_t>(1000u, beyond_fifo * clock_.character_us());
  sleep_.until_us(monotonic_us() + std::min(pause, at_most_us));
}

// The output queue count says only that the driver has handed its bytes on;
// the UART may still be sending the last of them. So the wait is for the
// queue to empty and then for the line time of the bytes this call wrote
// last, counted from their write.
void Win32ComPort::wait_for_line_free() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &errors, &status)) return;
  const std::uint64_t start = monotonic_us();
  const std::uint64_t limit = status.cbOutQue * clock_.character_us() + kStuckQueueUs;
  while (status.cbOutQue != 0) {
    const std::uint64_t spent = monotonic_us() - start;
    if (spent >= limit) break;
    pause_for_queue(status.cbOutQue, limit - spent);
    if (!ClearCommError(handle_, &errors, &status)) return;
  }
  sleep_.until_us(clock_.free_us());
}

bool Win32ComPort::set_line(const LineSetting& setting, FirstError& error) {
  wait_for_line_free();
  // Start from what the port reports: flow control, fBinary and the rest of
  // the DCB keep their values; only the fields of a line setting change.
  // A DCB that could not be read is not applied: its zeroed fields (a baud
  // of 0 among them) would replace the port's own.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  DCB applied{};
  applied.DCBlength = sizeof applied;
  if (!GetCommState(handle_, &dcb)) {
    error.keep("line setting", last_error());
    return false;
  }
  dcb.fParity = 1;
  dcb.ByteSize = 8;
  dcb.Parity = static_cast<BYTE>(setting.parity);
  dcb.StopBits = static_cast<BYTE>(setting.stop_bits);
  if (setting.baud) dcb.BaudRate = *setting.baud;
  // A driver that refuses any part of the setting fails the call, whatever
  // it applied of the rest: no byte may go out under it.
  if (!SetCommState(handle_, &dcb) || !GetCommState(handle_, &applied)) {
    error.keep("line setting", last_error());
    return false;
  }
  clock_.apply(clock_setting(applied));
  if (!took(dcb, applied)) {
    error.keep("line setting", kSettingNotTaken);
    return false;
  }
  return true;
}

std::uint32_t Win32ComPort::write(const std::uint8_t* bytes, std::uint32_t count,
                                  FirstError& error) {
  const std::uint64_t start = monotonic_us();
  DWORD written = 0;
  if (!WriteFile(handle_, bytes, count, &written, nullptr)) {
    error.keep("write", last_error());
    return 0;
  }
  clock_.place(start, written);
  return written;
}

ReadResult Win32ComPort::read_byte(std::uint8_t* destination, FirstError& error) {
  DWORD read = 0;
  if (!ReadFile(handle_, destination, 1, &read, nullptr)) {
    // The device is gone (removed, its driver failing every request): no
    // byte will come, and waiting out the limit would only spin.
    error.keep("read", last_error());
    return ReadResult::HungUp;
  }
  if (read == 1) return ReadResult::Byte;
  // A read that brings nothing may be a port whose far end has gone while
  // the driver still answers reads as timed out: its status then fails too.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &errors, &status)) {
    error.keep("read", last_error());
    return ReadResult::HungUp;
  }
  return ReadResult::Nothing;
}

// The error flags ClearCommError reports (and clears) are of no interest; a
// damaged reply shows as a wrong checksum or a missing byte instead. The
// caller waits for the queue to empty, so a queue that is not empty is
// answered after a sleep for as long as its bytes surely need (at most a
// read's poll).
std::optional<std::uint32_t> Win32ComPort::output_queue(FirstError& error) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &errors, &status)) {
    error.keep("output queue", last_error());
    return std::nullopt;
  }
  if (status.cbOutQue != 0) {
    pause_for_queue(status.cbOutQue, kReadPollUs);
    if (!ClearCommError(handle_, &errors, &status)) {
      error.keep("output queue", last_error());
      return std::nullopt;
    }
  }
  return status.cbOutQue;
}

void Win32ComPort::purge_input() {
  PurgeComm(handle_, PURGE_RXCLEAR);
}

// A port whose device has gone fails its status (a read that brings nothing
// asks the same).
bool Win32ComPort::hung_up() {
  DWORD errors = 0;
  COMSTAT status{};
  return !ClearCommError(handle_, &errors, &status);
}

void Win32ComPort::close() {
  wait_for_line_free();
  CloseHandle(handle_);
}

// A port this call has not written to or set yet: its character time is
// what the port has now.
Win32ComPort ComPortLines::port(Handle handle) {
  for (Line& known : lines_) {
    if (known.port == handle) return Win32ComPort(handle, known.clock, sleep_);
  }
  Line& fresh = lines_[next_++ % lines_.size()];
  fresh = Line{.port = handle, .clock = LineClock()};
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(to_native(handle), &dcb)) fresh.clock.apply(clock_setting(dcb));
  return Win32ComPort(handle, fresh.clock, sleep_);
}

void ComPortLines::forget(Handle handle) {
  for (Line& known : lines_) {
    if (known.port == handle) known = Line{};
  }
}

}  // namespace tarvex::line

#endif  // _WIN32
