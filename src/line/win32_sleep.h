// Waits on Windows that sleep instead of spinning. GetTickCount advances
// only at the system timer's interrupt, and Sleep(1) wakes at the next one,
// so a busy wait that sleeps between two readings of the tick ends on the
// same tick as one that spins. The line's own waits (a character time, an
// output queue) are finer than that timer: they sleep on a high-resolution
// waitable timer where the system has one (Windows 10 1803 and later), on
// Sleep where it has not, and give the processor away only through the last
// millisecond.
#pragma once

#if defined(_WIN32)

#include <cstdint>

namespace tarvex::line {

class Win32Sleep {
 public:
  Win32Sleep() = default;
  Win32Sleep(const Win32Sleep&) = delete;
  Win32Sleep& operator=(const Win32Sleep&) = delete;
  ~Win32Sleep();

  // Returns once monotonic_us() reads `deadline_us` or later.
  void until_us(std::uint64_t deadline_us);

  // Until the next interrupt of the system timer, which is when the tick
  // can next change.
  static void until_next_tick();

 private:
  void* timer_ = nullptr;  // made at the first wait that needs it
  bool timer_tried_ = false;
};

}  // namespace tarvex::line

#endif  // _WIN32
