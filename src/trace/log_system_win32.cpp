// The exchange log's system services on Windows: KERNEL32 only, as the rest
// of the DLL.
#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "trace/exchange_log.h"
#include "trace/log_system.h"

namespace tarvex::trace::system {
namespace {

// Appending access: every WriteFile goes to the end of the file as one
// piece, whoever else appends. Reading is asked for too, since LockFileEx
// wants a handle with read or write access; deleting is shared, so that the
// file can be rotated while others hold it open.
HANDLE open_log(const char* path) noexcept {
  return CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The lock is one byte far past any real data: it orders the rotations and
// never stands in the way of a write.
OVERLAPPED lock_place() noexcept {
  OVERLAPPED place{};
  place.Offset = 0xFFFFFFFEu;
  place.OffsetHigh = 0x7FFFFFFFu;
  return place;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) noexcept {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the file at `path` is still the one `mine` describes.
bool still_named(const char* path, const BY_HANDLE_FILE_INFORMATION& mine) noexcept {
  const HANDLE named = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool same = GetFileInformationByHandle(named, &info) != 0 && same_file(info, mine);
  CloseHandle(named);
  return same;
}

}  // namespace

std::uint64_t wall_clock_us() noexcept {
  // 100 ns intervals since 1601-01-01.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t intervals =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr std::uint64_t kUnixEpoch = 116444736000000000u;
  return intervals > kUnixEpoch ? (intervals - kUnixEpoch) / 10u : 0u;
}

std::uint64_t process_id() noexcept {
  return GetCurrentProcessId();
}
std::uint64_t thread_id() noexcept {
  return GetCurrentThreadId();
}

bool environment(const char* name, char* buffer, std::size_t size) noexcept {
  const DWORD length = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
  // 0: not set (or empty); size or more: the room it would need.
  return length != 0 && length < size;
}

void append(const char* path, std::uint64_t max_bytes, const char* bytes,
            std::size_t size) noexcept {
  if (size > 0xFFFFFFFFu) return;
  HANDLE file = open_log(path);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED place = lock_place();
  bool locked = false;
  if (max_bytes != 0) {
    // Under the lock of the file that is PATH now: another process may have
    // rotated it between our open and our lock, and then we start again on
    // the new one. So too after our own rotation: others may reach the fresh
    // file and write to it before we hold its lock, so its size is read
    // again under the lock.
    for (int attempt = 0;; ++attempt) {
      BY_HANDLE_FILE_INFORMATION mine{};
      place = lock_place();
      locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place) != 0;
      if (GetFileInformationByHandle(file, &mine) == 0) {
        if (locked) UnlockFileEx(file, 0, 1, 0, &place);
        CloseHandle(file);
        return;
      }
      if (!locked || still_named(path, mine)) {
        const std::uint64_t now =
            (static_cast<std::uint64_t>(mine.nFileSizeHigh) << 32) | mine.nFileSizeLow;
        if (now == 0 || now + size <= max_bytes) break;
        char rotated[kLogPathSize + 2];
        const std::size_t length = std::strlen(path);
        // The cap holds: when the file cannot be rotated, the block is dropped.
        bool moved = length + 3 <= sizeof rotated;
        if (moved) {
          std::memcpy(rotated, path, length);
          std::memcpy(rotated + length, ".1", 3);
          moved = MoveFileExA(path, rotated, MOVEFILE_REPLACE_EXISTING) != 0;
        }
        if (!moved) {
          if (locked) UnlockFileEx(file, 0, 1, 0, &place);
          CloseHandle(file);
          return;
        }
      }
      // Lets those waiting for the old file's lock find the new one.
      if (locked) UnlockFileEx(file, 0, 1, 0, &place);
      CloseHandle(file);
      locked = false;
      if (attempt == 5) return;
      file = open_log(path);
      if (file == INVALID_HANDLE_VALUE) return;
    }
  }
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
  if (locked) UnlockFileEx(file, 0, 1, 0, &place);
  CloseHandle(file);
}

KeptError::KeptError() noexcept : errno_(errno), last_error_(GetLastError()) {}
KeptError::~KeptError() {
  errno = errno_;
  SetLastError(last_error_);
}

}  // namespace tarvex::trace::system

#endif  // _WIN32
