#include "tools/time_scale.h"

#include <algorithm>
#include <cmath>

namespace tarvex::tool {

TimeScale::TimeScale(std::vector<std::uint64_t> times, std::uint64_t unit_us, double left, double unit_px)
    : times_(std::move(times)), unit_us_(std::max<std::uint64_t>(unit_us, 1)), left_(left), unit_px_(unit_px) {
  std::sort(times_.begin(), times_.end());
  times_.erase(std::unique(times_.begin(), times_.end()), times_.end());
  double at = left_;
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (i > 0) at += width(times_[i] - times_[i - 1]);
    xs_.push_back(at);
  }
}

double TimeScale::width(std::uint64_t us) const {
  const double units = static_cast<double>(us) / static_cast<double>(unit_us_);
  if (units <= 2) return unit_px_ * units;
  return 2 * unit_px_ + 1.35 * unit_px_ * std::log2(units / 2);
}

double TimeScale::x(std::uint64_t t) const {
  if (times_.empty()) return left_;
  const auto it = std::lower_bound(times_.begin(), times_.end(), t);
  if (it == times_.end()) return xs_.back() + width(t - times_.back());
  const auto i = static_cast<std::size_t>(it - times_.begin());
  if (*it == t || i == 0) return xs_[i] - (*it == t ? 0 : width(*it - t));
  // Between two neighbouring times: in proportion.
  const double fraction = static_cast<double>(t - times_[i - 1]) / static_cast<double>(times_[i] - times_[i - 1]);
  return xs_[i - 1] + fraction * (xs_[i] - xs_[i - 1]);
}

}  // namespace tarvex::tool
