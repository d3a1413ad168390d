// The backends' monotonic clock, and sleeps on it. Linux: CLOCK_MONOTONIC,
// which the tick is cut from. Windows: QueryPerformanceCounter (GetTickCount,
// the tick, has no finer resolution than 10-16 ms), and the sleeps of
// win32_sleep.*.
#pragma once

#include <cstdint>

#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tarvex::line {

inline std::uint64_t monotonic_ns() {
  LARGE_INTEGER counter{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
  const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
  if (per_second == 0) return 0;
  return ticks / per_second * 1000000000u + ticks % per_second * 1000000000u / per_second;
}

// Sleeps until monotonic_ns() reads `deadline_ns` (win32_sleep.cpp).
void sleep_until_ns(std::uint64_t deadline_ns);

}  // namespace tarvex::line

#else

#include <time.h>

#include <cerrno>

namespace tarvex::line {

inline std::uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

// Sleeps until CLOCK_MONOTONIC reads `deadline_ns`, however often a signal
// interrupts the sleep.
inline void sleep_until_ns(std::uint64_t deadline_ns) {
  const timespec deadline{static_cast<time_t>(deadline_ns / 1000000000u),
                          static_cast<long>(deadline_ns % 1000000000u)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace tarvex::line

#endif  // _WIN32

namespace tarvex::line {

inline std::uint64_t monotonic_us() {
  return monotonic_ns() / 1000u;
}

// The whole milliseconds from now to `deadline_ns`, rounded up, for a wait
// counted in them (poll, select): 0 once it has come.
inline int ms_until(std::uint64_t deadline_ns) {
  const std::uint64_t now = monotonic_ns();
  if (now >= deadline_ns) return 0;
  return static_cast<int>((deadline_ns - now + 999999u) / 1000000u);
}

inline void sleep_us(std::uint64_t us) {
  sleep_until_ns(monotonic_ns() + us * 1000u);
}

}  // namespace tarvex::line
