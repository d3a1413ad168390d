// A network port's round trip as its answers measure it, smoothed as TCP
// smooths its own (RFC 6298): the mean, and the mean deviation from it. The
// allowance a reply gets beyond its line's limit is the mean and four
// deviations, so a link whose delay varies is given the room it has shown
// it needs, and a steady one little more than its round trip.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tarvex::line {

class RoundTrip {
 public:
  // One measured round trip: from a request to the server's answer.
  void sample(std::uint64_t us) {
    if (!measured_) {
      mean_us_ = us;
      deviation_us_ = us / 2;
      measured_ = true;
      return;
    }
    const std::uint64_t off = mean_us_ > us ? mean_us_ - us : us - mean_us_;
    deviation_us_ = (3 * deviation_us_ + off) / 4;
    mean_us_ = (7 * mean_us_ + us) / 8;
  }

  // What a reply may take beyond its line's limit, in whole milliseconds
  // rounded up: nothing before the first answer, and at least the tick's
  // own millisecond once there is one.
  std::uint32_t allowance_ms() const {
    if (!measured_) return 0;
    const std::uint64_t us = mean_us_ + std::max<std::uint64_t>(1000, 4 * deviation_us_);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>((us + 999) / 1000, kMostMs));
  }

  std::uint64_t mean_us() const { return mean_us_; }

 private:
  // A round trip of a minute is a link that is not there any more; the
  // allowance stops growing there.
  static constexpr std::uint64_t kMostMs = 60000;

  bool measured_ = false;
  std::uint64_t mean_us_ = 0;
  std::uint64_t deviation_us_ = 0;
};

}  // namespace tarvex::line
