#if defined(_WIN32)

#include "line/win32_sleep.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "line/monotonic_clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvex::line {
namespace {

// The part of a wait that is spent giving the processor away rather than
// asleep: a sleep may end this much late.
constexpr std::uint64_t kSpinUs = 1000;

}  // namespace

Win32Sleep::~Win32Sleep() {
  if (timer_ != nullptr) CloseHandle(timer_);
}

void Win32Sleep::until_next_tick() { Sleep(1); }

void Win32Sleep::until_us(std::uint64_t deadline_us) {
  for (std::uint64_t now = monotonic_us(); now < deadline_us; now = monotonic_us()) {
    const std::uint64_t left = deadline_us - now;
    if (left <= kSpinUs) {
      SwitchToThread();
      continue;
    }
    if (!timer_tried_) {
      timer_tried_ = true;
      timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS);
    }
    const std::uint64_t sleep_us = left - kSpinUs;
    // A relative due time, in 100 ns units, is negative.
    LARGE_INTEGER due{};
    due.QuadPart = -static_cast<LONGLONG>(sleep_us * 10u);
    if (timer_ != nullptr && SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(timer_, INFINITE);
    } else {
      Sleep(static_cast<DWORD>(sleep_us / 1000u));
    }
  }
}

// A wait of a network port: rare enough that its timer is made for it.
void sleep_until_ns(std::uint64_t deadline_ns) {
  Win32Sleep sleep;
  sleep.until_us((deadline_ns + 999u) / 1000u);
}

}  // namespace tarvex::line

#endif  // _WIN32
