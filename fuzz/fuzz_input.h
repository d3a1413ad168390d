// Shared by the fuzz targets: a reader that takes the fuzz input front to
// back (every value reads as 0 once the input is used up, so every input is
// a valid one), and the check that stops a run when a promise is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tarvex::fuzz {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ == size_; }
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
  std::vector<std::uint8_t> bytes(std::size_t count) {
    std::vector<std::uint8_t> taken;
    taken.reserve(count);
    for (std::size_t i = 0; i < count; ++i) taken.push_back(u8());
    return taken;
  }
  // The rest of the input.
  std::vector<std::uint8_t> rest() { return bytes(size_ - at_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A broken promise: say which, and crash so the fuzzer keeps the input.
inline void require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\n", promise);
  std::abort();
}

}  // namespace tarvex::fuzz
