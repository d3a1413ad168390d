// The pure parts: the blacklist block builder, hex-text decoding and the
// transforms, per call. None of them touches a port; each should cost next
// to nothing beside the exchange it serves.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "exchange/blacklist_block.h"
#include "exchange/hex_text.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace tarvex::bench {
namespace {

using exchange::BlacklistBuffer;

std::vector<std::uint8_t> card_list(std::uint32_t count) {
  // One card: the highest the bitmap holds. 1000 cards: spread evenly over
  // the whole range, so the bitmap is full length. 130000: every card from 1,
  // the densest list there is.
  std::vector<std::uint8_t> entries;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t card = count == 1 ? 130000u : count == 1000 ? 130u * (k + 1) : k + 1;
    entries.push_back(static_cast<std::uint8_t>(card >> 16));
    entries.push_back(static_cast<std::uint8_t>(card >> 8));
    entries.push_back(static_cast<std::uint8_t>(card));
  }
  return entries;
}

void BlacklistBlock(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> entries = card_list(count);
  BlacklistBuffer block;
  for (auto _ : state) {
    const std::size_t length = exchange::build_blacklist_block(
        entries.data(), static_cast<std::int32_t>(count), block);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BlacklistBlock)->Arg(1)->Arg(1000)->Arg(130000)->Unit(benchmark::kMicrosecond);

// The longest command text getdata_hex takes: 99 bytes, 198 characters.
void HexDecode99(benchmark::State& state) {
  std::array<char, 198> text{};
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = "0123456789abcdefABCDEF"[i % 22];
  std::array<std::uint8_t, 99> bytes{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.data());
    exchange::decode_hex(text.data(), bytes.size(), bytes.data(), exchange::HexText::Command);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 99);
}
BENCHMARK(HexDecode99);

// Codes each transform accepts, so every call runs its whole path.
constexpr std::array<std::uint8_t, 6> kPlain{0x12, 0x34, 0x56, 0x65, 0x43, 0x21};

using LockEntry = Result (*)(std::int32_t, const std::uint8_t*, std::uint8_t*);

std::array<std::uint8_t, 6> two_codes(LockEntry one) {
  std::array<std::uint8_t, 6> out{};
  one(0, kPlain.data(), out.data());
  one(0, kPlain.data() + 3, out.data() + 3);
  return out;
}

void LockTransform(benchmark::State& state, LockEntry transform, std::array<std::uint8_t, 6> in) {
  std::array<std::uint8_t, 6> out{};
  if (transform(0, in.data(), out.data()) != kOk) state.SkipWithError("input rejected");
  for (auto _ : state) {
    benchmark::DoNotOptimize(in.data());
    benchmark::DoNotOptimize(transform(0, in.data(), out.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(LockTransform, keylock, transform::keylock, kPlain);
BENCHMARK_CAPTURE(LockTransform, cardLock, transform::cardLock, kPlain);
BENCHMARK_CAPTURE(LockTransform, faka_485, transform::faka_485, two_codes(transform::keylock));
BENCHMARK_CAPTURE(LockTransform, faka_4852, transform::faka_4852, two_codes(transform::keylock));
BENCHMARK_CAPTURE(LockTransform, fakaUnlock, transform::fakaUnlock,
                  two_codes(transform::cardLock));

void Abcd(benchmark::State& state) {
  std::array<std::uint8_t, 8> in{'1', '2', '3', '4', '5', '6', '7', '8'};
  std::array<std::uint8_t, 8> out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(in.data());
    benchmark::DoNotOptimize(transform::abcd(in.data(), out.data(), 1));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Abcd);

void Change(benchmark::State& state) {
  std::array<std::uint8_t, 6> in{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  std::array<std::uint8_t, 6> out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(in.data());
    benchmark::DoNotOptimize(transform::change(in.data(), out.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Change);

}  // namespace
}  // namespace tarvex::bench
