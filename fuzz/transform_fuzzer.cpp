// The lock-code transforms and small codecs on any bytes: a call with input
// and output in one buffer gives the same result and the same bytes as the
// call with two, never changes its input, never touches a byte past its own
// (every buffer is a heap block of exactly the size the call is owed), and
// answers with a code from its own set.
//
// Input: u8 entry point | u32 mode (abcd) | the input bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace {

namespace tf = tarvex::transform;
using tarvex::Result;

struct Transform {
  const char* name;
  std::size_t size;  // bytes in and bytes out
  bool lock_code;    // 0 or 1; a codec always 0
  std::function<Result(const std::uint8_t*, std::uint8_t*, std::int32_t mode)> call;
};

const Transform kTransforms[] = {
    {"keylock", 3, true,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) { return tf::keylock(m, i, o); }},
    {"cardLock", 3, true,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) { return tf::cardLock(m, i, o); }},
    {"faka_485", 6, true,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) { return tf::faka_485(m, i, o); }},
    {"faka_4852", 6, true,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) { return tf::faka_4852(m, i, o); }},
    {"fakaUnlock", 6, true,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) {
       return tf::fakaUnlock(m, i, o);
     }},
    {"abcd", 8, false,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t m) { return tf::abcd(i, o, m); }},
    {"change", 6, false,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t) { return tf::change(i, o); }},
    {"ascc", 3, false,
     [](const std::uint8_t* i, std::uint8_t* o, std::int32_t) { return tf::ascc(i, o); }},
};

std::unique_ptr<std::uint8_t[]> exact_copy(const std::vector<std::uint8_t>& bytes) {
  auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return copy;
}

bool equal(const std::uint8_t* a, const std::vector<std::uint8_t>& b) {
  return std::equal(b.begin(), b.end(), a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarvex::fuzz::require;
  tarvex::fuzz::Reader in(data, size);
  const Transform& t = kTransforms[in.u8() % std::size(kTransforms)];
  const auto mode = static_cast<std::int32_t>(in.u32());
  const std::vector<std::uint8_t> input = in.bytes(t.size);

  // Two buffers; the output starts as a copy of the input, so bytes the call
  // leaves alone compare equal with the one-buffer call.
  const auto source = exact_copy(input);
  const auto separate = exact_copy(input);
  const Result apart = t.call(source.get(), separate.get(), mode);
  require(equal(source.get(), input), "the input is never changed");

  const auto shared = exact_copy(input);
  const Result together = t.call(shared.get(), shared.get(), mode);
  require(apart == together, "one buffer or two: the same result");
  require(std::equal(separate.get(), separate.get() + t.size, shared.get()),
          "one buffer or two: the same bytes");

  if (t.lock_code) {
    require(apart == tarvex::kOk || apart == tarvex::kLockRejected,
            "a lock code is taken or rejected");
  } else {
    require(apart == tarvex::kOk, "a codec always succeeds on real buffers");
  }
  const auto again = exact_copy(input);
  require(t.call(source.get(), again.get(), mode) == apart &&
              std::equal(again.get(), again.get() + t.size, separate.get()),
          "nothing is kept between calls");
  return 0;
}
