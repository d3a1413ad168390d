// The heap scratch area a hex-text exchange works in. It is taken before the
// port is opened and given back on every path out of the call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

namespace tarvex::exchange {

// Where a call takes its scratch area from. The heap is the only source the
// library uses; tests hand in one that fails or counts. `context` is passed
// back to both functions untouched.
struct ScratchSource {
  void* context = nullptr;
  std::uint8_t* (*take)(void* context, std::size_t bytes) noexcept = nullptr;
  void (*give_back)(void* context, std::uint8_t* area) noexcept = nullptr;
};

namespace detail {
inline std::uint8_t* take_from_heap(void*, std::size_t bytes) noexcept {
  return new (std::nothrow) std::uint8_t[bytes];
}
inline void give_back_to_heap(void*, std::uint8_t* area) noexcept {
  delete[] area;
}
}  // namespace detail

inline constexpr ScratchSource kHeap{nullptr, &detail::take_from_heap, &detail::give_back_to_heap};

// One scratch area for the length of one call, zero-filled, so a byte the
// call does not fill in goes out as 0x00 and never as stale heap memory.
// Empty when nothing could be taken.
class ScratchArea {
 public:
  ScratchArea(std::size_t bytes, const ScratchSource& source)
      : source_(source), area_(source.take(source.context, bytes)) {
    if (area_ != nullptr) std::fill_n(area_, bytes, std::uint8_t{0});
  }
  ~ScratchArea() {
    if (area_ != nullptr) source_.give_back(source_.context, area_);
  }
  ScratchArea(const ScratchArea&) = delete;
  ScratchArea& operator=(const ScratchArea&) = delete;

  bool taken() const { return area_ != nullptr; }
  std::uint8_t* data() const { return area_; }

 private:
  ScratchSource source_;
  std::uint8_t* area_;
};

}  // namespace tarvex::exchange
