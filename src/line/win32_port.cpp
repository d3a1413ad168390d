// The Win32 backend: a synchronous, exclusively opened COM port. Every call
// is made exactly once and, apart from the byte counts and the output queue
// count, nothing the calls return is consulted: a port that failed to open
// carries the invalid handle, and every later call on it fails quietly.
#if defined(_WIN32)

#include "line/win32_port.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

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

}  // namespace

Handle Win32Port::open(const char* name, TimeoutSet timeouts) {
  // Share mode 0: the port is ours alone until it is closed.
  HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  COMMTIMEOUTS t = timeouts_for(timeouts);
  SetCommTimeouts(handle, &t);
  return from_native(handle);
}

void Win32Port::set_line(Handle port, const LineSetting& setting) {
  // Start from what the port reports: flow control, fBinary and the rest of
  // the DCB keep their values; only the fields of a line setting change.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(to_native(port), &dcb);
  dcb.fParity = 1;
  dcb.ByteSize = 8;
  dcb.Parity = static_cast<BYTE>(setting.parity);
  dcb.StopBits = static_cast<BYTE>(setting.stop_bits);
  if (setting.baud) dcb.BaudRate = *setting.baud;
  SetCommState(to_native(port), &dcb);
}

std::uint32_t Win32Port::write(Handle port, const std::uint8_t* bytes, std::uint32_t count) {
  DWORD written = 0;
  if (!WriteFile(to_native(port), bytes, count, &written, nullptr)) return 0;
  return written;
}

std::uint32_t Win32Port::read_byte(Handle port, std::uint8_t* destination) {
  DWORD read = 0;
  if (!ReadFile(to_native(port), destination, 1, &read, nullptr)) return 0;
  return read == 1 ? 1u : 0u;
}

std::optional<std::uint32_t> Win32Port::output_queue(Handle port) {
  // The error flags ClearCommError reports (and clears) are of no interest;
  // a damaged reply shows as a wrong checksum or a missing byte instead.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(to_native(port), &errors, &status)) return std::nullopt;
  return status.cbOutQue;
}

void Win32Port::purge_input(Handle port) {
  PurgeComm(to_native(port), PURGE_RXCLEAR);
}

void Win32Port::close(Handle port) {
  CloseHandle(to_native(port));
}

std::uint32_t Win32Port::tick() {
  return GetTickCount();
}

}  // namespace tarvex::line

#endif  // _WIN32
