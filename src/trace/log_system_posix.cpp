// The exchange log's system services on Linux (and other POSIX systems).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "trace/exchange_log.h"
#include "trace/log_system.h"

namespace tarvex::trace::system {
namespace {

int open_log(const char* path) noexcept {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool lock(int fd) noexcept {
  int done;
  do {
    done = ::flock(fd, LOCK_EX);
  } while (done != 0 && errno == EINTR);
  return done == 0;
}

}  // namespace

std::uint64_t wall_clock_us() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}
std::uint64_t process_id() noexcept {
  return static_cast<std::uint64_t>(::getpid());
}
std::uint64_t thread_id() noexcept {
  return static_cast<std::uint64_t>(::gettid());
}

bool environment(const char* name, char* buffer, std::size_t size) noexcept {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return false;
  const std::size_t length = std::strlen(value);
  if (length + 1 > size) return false;
  std::memcpy(buffer, value, length + 1);
  return true;
}

void append(const char* path, std::uint64_t max_bytes, const char* bytes,
            std::size_t size) noexcept {
  int fd = open_log(path);
  if (fd < 0) return;
  if (max_bytes != 0) {
    // Under the lock of the file that is PATH now: another process may have
    // rotated it between our open and our lock, and then we start again on
    // the new one. So too after our own rotation: others may reach the fresh
    // file and write to it before we hold its lock, so its size is read
    // again under the lock.
    for (int attempt = 0;; ++attempt) {
      struct stat mine {};
      struct stat named {};
      const bool locked = lock(fd);
      if (::fstat(fd, &mine) != 0) {
        ::close(fd);
        return;
      }
      if (!locked || (::stat(path, &named) == 0 && named.st_dev == mine.st_dev &&
                      named.st_ino == mine.st_ino)) {
        const auto now = static_cast<std::uint64_t>(mine.st_size);
        if (now == 0 || now + size <= max_bytes) break;
        char rotated[kLogPathSize + 2];
        const std::size_t length = std::strlen(path);
        // The cap holds: when the file cannot be rotated, the block is dropped.
        if (length + 3 > sizeof rotated) {
          ::close(fd);
          return;
        }
        std::memcpy(rotated, path, length);
        std::memcpy(rotated + length, ".1", 3);
        if (::rename(path, rotated) != 0) {
          ::close(fd);
          return;
        }
      }
      ::close(fd);  // lets those waiting for the old file's lock find the new one
      if (attempt == 5) return;
      fd = open_log(path);
      if (fd < 0) return;
    }
  }
  ssize_t written;
  do {
    written = ::write(fd, bytes, size);
  } while (written < 0 && errno == EINTR);
  ::close(fd);
}

KeptError::KeptError() noexcept : errno_(errno), last_error_(0) {}
KeptError::~KeptError() {
  errno = errno_;
}

}  // namespace tarvex::trace::system
