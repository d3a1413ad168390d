// What the exchange log needs of the operating system, one implementation per
// system (log_system_posix.cpp, log_system_win32.cpp): clocks, who is
// calling, the environment, and the append to the log file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::trace::system {

// Microseconds since 1970-01-01 00:00 UTC.
std::uint64_t wall_clock_us() noexcept;

std::uint64_t process_id() noexcept;
std::uint64_t thread_id() noexcept;

// Copies the variable's value into `buffer` (NUL-terminated); false when it
// is not set, empty, or longer than `size` - 1.
bool environment(const char* name, char* buffer, std::size_t size) noexcept;

// Appends `size` bytes to the file at `path` (created when missing) in one
// write, so that blocks from several threads and processes never interleave.
// With `max_bytes` (0: no cap), a write that would take a non-empty file past
// the cap first renames the file to PATH.1 (replacing the one there), under a
// lock on the file, so two processes never both rotate it. Nothing is
// reported: a log that cannot be written is skipped.
void append(const char* path, std::uint64_t max_bytes, const char* bytes,
            std::size_t size) noexcept;

// Keeps the error the host would see (errno; GetLastError and errno on
// Windows) across the log's own system calls, and puts it back.
class KeptError {
 public:
  KeptError() noexcept;
  ~KeptError();
  KeptError(const KeptError&) = delete;
  KeptError& operator=(const KeptError&) = delete;

 private:
  int errno_;
  [[maybe_unused]] std::uint32_t last_error_;  // Windows only
};

}  // namespace tarvex::trace::system
