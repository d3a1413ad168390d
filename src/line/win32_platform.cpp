// The Win32 backend: a synchronous, exclusively opened COM port. Apart from
// the byte counts and the output queue count, what the calls return decides
// nothing but whether the system's error is kept for the host and whether a
// port has gone (a device removed fails every read and write).
#if defined(_WIN32)

#include "line/win32_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "line/monotonic_clock.h"

namespace tarvex::line {
namespace {

// The line setting carries the DCB's own numbers, so they go in unchanged.
static_assert(static_cast<BYTE>(Parity::Mark) == MARKPARITY);
static_assert(static_cast<BYTE>(Parity::Space) == SPACEPARITY);
static_assert(static_cast<BYTE>(Parity::None) == NOPARITY);
static_assert(static_cast<BYTE>(StopBits::One) == ONESTOPBIT);
static_assert(static_cast<BYTE>(StopBits::Two) == TWOSTOPBITS);

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
// 5 * k + 10 ms. The standard set's 65535 ms read interval never comes into
// play for one-byte reads; the re-open set switches it off.
COMMTIMEOUTS timeouts_for(TimeoutSet set) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = set == TimeoutSet::Standard ? 0xFFFFu : 0u;
  t.ReadTotalTimeoutMultiplier = 5;
  t.ReadTotalTimeoutConstant = 10;
  t.WriteTotalTimeoutMultiplier = 5;
  t.WriteTotalTimeoutConstant = 10;
  return t;
}

// COM1 to COM9 open by their plain names, but above them only the device
// namespace form works (\\.\COM12), and USB adapters usually land there. A
// name of the form COMn, in any case, is opened that way; every other name
// goes to CreateFileA as it is.
constexpr std::size_t kLongestComDigits = 10;

bool is_com_name(const char* name) {
  if (name == nullptr) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return false;  // either case; stops at a NUL
  }
  const std::size_t digits = std::strlen(name + 3);
  if (digits == 0 || digits > kLongestComDigits) return false;
  return std::all_of(name + 3, name + 3 + digits, [](char c) { return c >= '0' && c <= '9'; });
}

// The DCB numbers parity as Parity does; any stop bits but one count as two.
std::uint64_t character_us(const DCB& dcb) {
  const std::uint64_t bits = character_bits(
      static_cast<Parity>(dcb.Parity), dcb.StopBits == ONESTOPBIT ? StopBits::One : StopBits::Two);
  return dcb.BaudRate == 0 ? 0 : (bits * 1000000u + dcb.BaudRate - 1) / dcb.BaudRate;
}

}  // namespace

Handle Win32Platform::open(const char* name, TimeoutSet timeouts) {
  char device[4 + 3 + kLongestComDigits + 1] = "\\\\.\\";
  if (is_com_name(name)) {
    std::strcat(device, name);
    name = device;
  }
  // Share mode 0: the port is ours alone until it is closed.
  HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error_.keep("open", last_error());
    return kInvalidHandle;
  }
  COMMTIMEOUTS t = timeouts_for(timeouts);
  SetCommTimeouts(handle, &t);
  return from_native(handle);
}

Win32Platform::LineTime& Win32Platform::line_time(Handle port) {
  for (LineTime& line : lines_) {
    if (line.port == port) return line;
  }
  // A port this call has not written to or set yet: its character time is
  // what the port has now.
  LineTime& line = lines_[next_line_++ % lines_.size()];
  line = LineTime{.port = port};
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(to_native(port), &dcb)) line.character_us = character_us(dcb);
  return line;
}

// The output queue count says only that the driver has handed its bytes on;
// the UART may still be sending the last of them. So the wait is for the
// queue to empty and then for the line time of the bytes this call wrote
// last, counted from their write.
void Win32Platform::wait_for_line_free(Handle port) {
  const HANDLE native = to_native(port);
  LineTime& line = line_time(port);
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(native, &errors, &status)) return;
  const std::uint64_t start = monotonic_us();
  const std::uint64_t limit = status.cbOutQue * line.character_us + kStuckQueueUs;
  while (status.cbOutQue != 0 && monotonic_us() - start < limit) {
    SwitchToThread();
    if (!ClearCommError(native, &errors, &status)) return;
  }
  while (monotonic_us() < line.free_us) SwitchToThread();
}

void Win32Platform::set_line(Handle port, const LineSetting& setting) {
  wait_for_line_free(port);
  // Start from what the port reports: flow control, fBinary and the rest of
  // the DCB keep their values; only the fields of a line setting change.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  // A DCB that could not be read is not applied: its zeroed fields (a baud
  // of 0 among them) would replace the port's own.
  if (!GetCommState(to_native(port), &dcb)) return;
  dcb.fParity = 1;
  dcb.ByteSize = 8;
  dcb.Parity = static_cast<BYTE>(setting.parity);
  dcb.StopBits = static_cast<BYTE>(setting.stop_bits);
  if (setting.baud) dcb.BaudRate = *setting.baud;
  SetCommState(to_native(port), &dcb);
  line_time(port).character_us = character_us(dcb);
}

std::uint32_t Win32Platform::write(Handle port, const std::uint8_t* bytes, std::uint32_t count) {
  LineTime& line = line_time(port);
  const std::uint64_t start = std::max(monotonic_us(), line.free_us);
  DWORD written = 0;
  if (!WriteFile(to_native(port), bytes, count, &written, nullptr)) {
    error_.keep("write", last_error());
    return 0;
  }
  line.free_us = start + written * line.character_us;
  return written;
}

ReadResult Win32Platform::read_byte(Handle port, std::uint8_t* destination) {
  DWORD read = 0;
  if (!ReadFile(to_native(port), destination, 1, &read, nullptr)) {
    // The device is gone (removed, its driver failing every request): no
    // byte will come, and waiting out the limit would only spin.
    error_.keep("read", last_error());
    return ReadResult::HungUp;
  }
  return read == 1 ? ReadResult::Byte : ReadResult::Nothing;
}

// The error flags ClearCommError reports (and clears) are of no interest; a
// damaged reply shows as a wrong checksum or a missing byte instead. The
// caller waits for the queue to empty, so a queue that is not empty is
// answered after the processor has been given away once.
std::optional<std::uint32_t> Win32Platform::output_queue(Handle port) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(to_native(port), &errors, &status)) {
    error_.keep("output queue", last_error());
    return std::nullopt;
  }
  if (status.cbOutQue != 0) {
    SwitchToThread();
    if (!ClearCommError(to_native(port), &errors, &status)) {
      error_.keep("output queue", last_error());
      return std::nullopt;
    }
  }
  return status.cbOutQue;
}

void Win32Platform::purge_input(Handle port) {
  PurgeComm(to_native(port), PURGE_RXCLEAR);
}

void Win32Platform::close(Handle port) {
  wait_for_line_free(port);
  CloseHandle(to_native(port));
  line_time(port) = LineTime{};
}

std::uint32_t Win32Platform::tick() {
  return GetTickCount();
}

// GetTickCount has no finer clock to sleep on, so the busy wait keeps
// spinning on it, but gives the rest of its time slice to any thread that
// is ready (other buses among them) at each turn.
void Win32Platform::pause_until_tick(std::uint32_t) {
  SwitchToThread();
}

void Win32Platform::hand_error_to_host() const {
  if (const std::optional<OsError> kept = error_.get()) SetLastError(kept->code);
}

}  // namespace tarvex::line

#endif  // _WIN32
