// Clocks and the median, as the timing benches use them.
#pragma once

#include <time.h>

#include <algorithm>
#include <vector>

namespace tarvex::bench {

// The calling thread's processor time: the library runs on the caller's
// thread alone.
inline double thread_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace tarvex::bench
