// The lock-code transforms: the byte operations at their edges, how the plain
// code, key form and card form relate over every three-byte code, and what
// each kind of rejection leaves in the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "transform/lock_code.h"
#include "transform/lock_transforms.h"

namespace tarvex::testing {
namespace {

namespace tf = tarvex::transform;
using tf::Code;
using Entry = Result (*)(std::int32_t, const std::uint8_t*, std::uint8_t*);

// Codes travel through these tests as numbers, byte 0 in bits 16 to 23, so
// the sweeps over all 2^24 of them stay cheap.
using Packed = std::uint32_t;
constexpr Packed kCodeCount = 1u << 24;
constexpr Packed kUntouched = 0xEEEEEE;  // what an output code holds before the call
constexpr Packed kNoCode = 0xFFFFFFFF;   // a rejected code: there is nothing to write

// Optimized builds sweep every code. Unoptimized or sanitized builds run the
// same loops twenty to fifty times slower and take every 101st code instead.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
constexpr Packed kSweepStep = 1;
#else
constexpr Packed kSweepStep = 101;
#endif

Code code_of(Packed v) {
  return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}
Packed pack(const Code& c) {
  return Packed{c[0]} << 16 | Packed{c[1]} << 8 | c[2];
}
Packed pack(const std::optional<Code>& c) {
  return c ? pack(*c) : kNoCode;
}

void put(std::uint8_t* bytes, Packed v) {
  bytes[0] = static_cast<std::uint8_t>(v >> 16);
  bytes[1] = static_cast<std::uint8_t>(v >> 8);
  bytes[2] = static_cast<std::uint8_t>(v);
}
Packed get(const std::uint8_t* bytes) {
  return Packed{bytes[0]} << 16 | Packed{bytes[1]} << 8 | bytes[2];
}

std::string hex(Packed v) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", v);
  return text;
}

// Every three-byte code once, scattered: an odd multiplier permutes the codes
// modulo 2^24, so neighbours in a sweep differ in all their bytes.
Packed nth_code(Packed i) {
  return (i * 0x9E3779u) & 0xFFFFFFu;
}

unsigned lo(unsigned v) {
  return v & 0x0Fu;
}
unsigned hi(unsigned v) {
  return v >> 4;
}

// One call: its result and the two output codes (a one-code entry point must
// leave the second untouched).
struct Call {
  Result result;
  Packed first;
  Packed second;
  bool operator==(const Call&) const = default;
};

Call call(Entry entry, Packed code1, Packed code2 = kUntouched, std::int32_t ignored = 0) {
  std::uint8_t in[6];
  std::uint8_t out[6];
  put(in, code1);
  put(in + 3, code2);
  put(out, kUntouched);
  put(out + 3, kUntouched);
  const Result result = entry(ignored, in, out);
  return {result, get(out), get(out + 3)};
}

std::string describe(const Call& c) {
  return "result " + std::to_string(c.result) + ", " + hex(c.first) + " " + hex(c.second);
}

// What a six-byte call gives for two codes that, on their own, would be
// written as `first` and `second`: code 1 first, a rejected code not written,
// the first rejection ending the call.
Call expected_pair(Packed first, Packed second) {
  if (first == kNoCode) return {kLockRejected, kUntouched, kUntouched};
  if (second == kNoCode) return {kLockRejected, first, kUntouched};
  return {kOk, first, second};
}

// The two forms of a plain code as the byte operations compose them.
Packed key_form(Packed plain) {
  return pack(tf::nibble_shuffle(code_of(plain)));
}
Packed card_form(Packed plain) {
  const Code p = code_of(plain);
  return pack(
      tf::nibble_shuffle({tf::bcd_decode(p[0]), tf::bcd_decode(p[1]), tf::bcd_decode(p[2])}));
}

// Counts the codes a sweep found wrong and keeps the first few for the message.
struct Mismatches {
  std::uint32_t count = 0;
  std::string examples;
  void add(const std::string& what) {
    if (count++ < 5) examples += "\n  " + what;
  }
};

// One code as a six-byte entry point takes it, and what it should write for
// it alone (kNoCode: rejected). No input: the code has no such form.
struct CodeCase {
  Packed input = kNoCode;
  Packed written = kNoCode;
};

// Runs `entry` over every plain code that `case_of` gives an input for, each
// one as code 2 beside the code before it and then as code 1 beside the next.
template <class CaseOf>
Mismatches sweep_in_pairs(Entry entry, CaseOf case_of) {
  Mismatches wrong;
  CodeCase previous;
  for (Packed i = 0; i < kCodeCount; i += kSweepStep) {
    const CodeCase current = case_of(nth_code(i));
    if (current.input == kNoCode) continue;
    if (previous.input != kNoCode) {
      const Call got = call(entry, previous.input, current.input);
      if (got != expected_pair(previous.written, current.written)) {
        wrong.add(hex(previous.input) + " " + hex(current.input) + " gave " + describe(got));
      }
    }
    previous = current;
  }
  return wrong;
}

// ---- The byte operations ------------------------------------------------

TEST(BcdCode, DecodeAndEncodeAtTheirEdges) {
  struct Case {
    std::uint8_t packed;
    std::uint8_t value;
  };
  // Decoding takes hex nibbles at face value.
  for (const Case c :
       {Case{0x00, 0}, Case{0x99, 99}, Case{0x0F, 15}, Case{0xA0, 100}, Case{0xFF, 165}}) {
    EXPECT_EQ(tf::bcd_decode(c.packed), c.value) << int{c.packed};
  }
  // Encoding puts 10 to 15 in the high nibble up to 159, then wraps and adds one.
  for (const Case c : {Case{0x00, 0}, Case{0x99, 99}, Case{0xA0, 100}, Case{0xF9, 159},
                       Case{0x01, 160}, Case{0x0A, 169}, Case{0x96, 255}}) {
    EXPECT_EQ(tf::bcd_encode(c.value), c.packed) << int{c.value};
  }
}

TEST(BcdCode, RoundTripsExactlyWhereExpected) {
  for (unsigned v = 0; v < 256; ++v) {
    const auto byte = static_cast<std::uint8_t>(v);
    EXPECT_EQ(tf::bcd_encode(tf::bcd_decode(byte)) == byte, lo(v) <= 9) << v;
    EXPECT_EQ(tf::bcd_decode(tf::bcd_encode(byte)) == byte, v <= 159) << v;
  }
}

TEST(NibbleShuffle, UnshuffleUndoesEveryAcceptedShuffle) {
  std::uint32_t wrong = 0;
  for (Packed v = 0; v < kCodeCount; v += kSweepStep) {
    const Code u = code_of(v);
    if (const auto k = tf::nibble_shuffle(u)) wrong += tf::nibble_unshuffle(*k) != u;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(NibbleShuffle, UnshuffleWrapsBytesBelowItsOffsets) {
  EXPECT_EQ(pack(tf::nibble_unshuffle({0x00, 0x00, 0x00})), 0xBFFDFCu);
  EXPECT_EQ(pack(tf::nibble_unshuffle({0x03, 0x04, 0x05})), 0x000000u);
}

// ---- One code: keylock and cardLock ---------------------------------------

TEST(LockCode, OneCodeFormsAtTheEdgesOfEachSum) {
  struct Case {
    const char* name;
    Entry entry;
    Packed plain;
    Result result;
    Packed out;
  };
  const Case cases[] = {
      {"keylock", tf::keylock, 0x123456, kOk, 0x572A36},
      {"keylock first sum 0xFF", tf::keylock, 0x000CF0, kOk, 0xFF0405},
      {"keylock first sum over", tf::keylock, 0x000DF0, kLockRejected, kUntouched},
      {"keylock second sum 0xFF", tf::keylock, 0x0F000B, kOk, 0x03FF05},
      {"keylock second sum over", tf::keylock, 0x0F000C, kLockRejected, kUntouched},
      {"keylock third sum 0xFF", tf::keylock, 0xA0F000, kOk, 0x0304FF},
      {"keylock third sum over", tf::keylock, 0xB0F000, kLockRejected, kUntouched},
      {"cardLock", tf::cardLock, 0x123456, kOk, 0x35CC25},
      {"cardLock hex nibbles", tf::cardLock, 0xFFFFFF, kOk, 0xA859AF},
      {"cardLock second sum 0xFF", tf::cardLock, 0x150011, kOk, 0x03FF05},
      {"cardLock decimal code over", tf::cardLock, 0x150012, kLockRejected, kUntouched},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(call(c.entry, c.plain), (Call{c.result, c.out, kUntouched})) << c.name;
  }
}

// Also holds both to key_form and card_form, which the sweeps below rely on.
TEST(LockCode, KeylockAndCardLockRejectExactlyTheStatedCodes) {
  Mismatches wrong;
  for (Packed v = 0; v < kCodeCount; v += kSweepStep) {
    const Code p = code_of(v);
    const bool key_rejects = ((p[2] & 0xF0u) | lo(p[1])) >= 253 ||
                             (lo(p[0]) << 4 | lo(p[2])) >= 252 ||
                             ((p[1] & 0xF0u) | hi(p[0])) >= 251;
    const bool card_rejects = lo(tf::bcd_decode(p[0])) == 15 && lo(tf::bcd_decode(p[2])) >= 12;
    const Packed key = key_form(v);
    const Packed card = card_form(v);
    if ((key == kNoCode) != key_rejects || (card == kNoCode) != card_rejects ||
        call(tf::keylock, v) != expected_pair(key, kUntouched) ||
        call(tf::cardLock, v) != expected_pair(card, kUntouched)) {
      wrong.add(hex(v));
    }
  }
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

// ---- Two codes: the relations between the forms, over every code ----------

TEST(LockCode, Faka4852UndoesKeylockAndRejectsWhatCardLockRejects) {
  const Mismatches wrong = sweep_in_pairs(tf::faka_4852, [](Packed plain) {
    return CodeCase{key_form(plain), card_form(plain) == kNoCode ? kNoCode : plain};
  });
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST(LockCode, Faka485TurnsTheKeyFormIntoTheCardForm) {
  const Mismatches wrong = sweep_in_pairs(tf::faka_485, [](Packed plain) {
    return CodeCase{key_form(plain), card_form(plain)};
  });
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

// Only plain codes whose bytes are decimal in their low nibbles survive the
// decode and re-encode in between. With faka_485 above, fakaUnlock and
// faka_485 undo each other on them.
TEST(LockCode, FakaUnlockTurnsTheCardFormOfADecimalCodeIntoTheKeyForm) {
  const Mismatches wrong = sweep_in_pairs(tf::fakaUnlock, [](Packed plain) {
    const bool decimal = lo(plain >> 16) <= 9 && lo(plain >> 8) <= 9 && lo(plain) <= 9;
    return decimal ? CodeCase{card_form(plain), key_form(plain)} : CodeCase{};
  });
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

// A plain code with a hex letter in a low nibble comes back from its card form
// as the key form of its decimal re-encoding, not as its own key form.
TEST(LockCode, FakaUnlockReencodesHexLetterCodes) {
  struct Case {
    Packed plain;
    Packed key_form_of_reencoded;
  };
  for (const Case c : {Case{0x00000C, 0x130605}, Case{0x00001A, 0x230405}}) {
    const Packed card = card_form(c.plain);
    EXPECT_EQ(call(tf::fakaUnlock, card, card),
              (Call{kOk, c.key_form_of_reencoded, c.key_form_of_reencoded}));
    EXPECT_NE(key_form(c.plain), c.key_form_of_reencoded);
  }
}

// ---- Two codes: rejections over every input, key form or not --------------

// The key and card forms of 12 34 56, which pass everything.
constexpr Packed kKeyForm = 0x572A36;
constexpr Packed kCardForm = 0x35CC25;

// Decoded values never exceed 165, so only the second sum can overflow: when
// the first decoded value ends in nibble 15 and the third in 12 or more.
Mismatches rejections_on_the_second_sum(Entry entry) {
  Mismatches wrong;
  for (Packed k = 0; k < kCodeCount; k += kSweepStep) {
    const Code u = tf::nibble_unshuffle(code_of(k));
    const bool rejects = lo(tf::bcd_decode(u[0])) == 15 && lo(tf::bcd_decode(u[2])) >= 12;
    if (call(entry, k, kKeyForm).result != (rejects ? kLockRejected : kOk)) wrong.add(hex(k));
  }
  return wrong;
}

TEST(LockCode, Faka485RejectsOnTheSecondSumOnly) {
  const Mismatches wrong = rejections_on_the_second_sum(tf::faka_485);
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

TEST(LockCode, Faka4852RejectsOnTheSecondSumOnly) {
  const Mismatches wrong = rejections_on_the_second_sum(tf::faka_4852);
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

// The third sum rejects before anything of the code is written; the digit
// check fails only after code 2 is written too.
TEST(LockCode, FakaUnlockRejectsOnTheThirdSumAndOnTheDigitCheck) {
  Mismatches wrong;
  for (Packed k = 0; k < kCodeCount; k += kSweepStep) {
    const Code u = tf::nibble_unshuffle(code_of(k));
    const bool third_sum = u[1] >= 150 && u[1] <= 159 && u[0] >= 110 && u[0] <= 159;
    bool not_digits = false;
    for (const std::uint8_t b : u) not_digits = not_digits || (b >= 160 && b % 10 == 9);
    const Call got = call(tf::fakaUnlock, k, kCardForm);
    const bool ok =
        third_sum ? got == Call{kLockRejected, kUntouched, kUntouched}
                  : got.result == (not_digits ? kLockRejected : kOk) && got.second == kKeyForm;
    if (!ok) wrong.add(hex(k) + " gave " + describe(got));
  }
  EXPECT_EQ(wrong.count, 0u) << wrong.examples;
}

// ---- Two codes: what the output holds -------------------------------------

TEST(LockCode, OutputAfterEachKindOfRejection) {
  // 13 56 06 is the key form of 15 00 12, which has no card form; 09 84 9C
  // unshuffles to values that overflow fakaUnlock's third sum; A3 0D 05
  // unshuffles to 169, which fails the digit check; 00 00 00 wraps.
  constexpr Packed kNoCardForm = 0x135606;
  constexpr Packed kThirdSumOver = 0x09849C;
  constexpr Packed kDigitCheckFails = 0xA30D05;
  constexpr Packed kWraps = 0x000000;
  struct Case {
    const char* name;
    Entry entry;
    Packed first, second;
    Call expected;
  };
  const Case cases[] = {
      {"faka_485", tf::faka_485, kKeyForm, kKeyForm, {kOk, 0x35CC25, 0x35CC25}},
      {"faka_485 code 1",
       tf::faka_485,
       kNoCardForm,
       kKeyForm,
       {kLockRejected, kUntouched, kUntouched}},
      {"faka_485 code 2",
       tf::faka_485,
       kKeyForm,
       kNoCardForm,
       {kLockRejected, 0x35CC25, kUntouched}},
      {"faka_485 wrap", tf::faka_485, kWraps, kKeyForm, {kOk, 0xA6D6AC, 0x35CC25}},
      {"faka_4852", tf::faka_4852, kKeyForm, kKeyForm, {kOk, 0x123456, 0x123456}},
      {"faka_4852 code 1",
       tf::faka_4852,
       kNoCardForm,
       kKeyForm,
       {kLockRejected, kUntouched, kUntouched}},
      {"faka_4852 code 2",
       tf::faka_4852,
       kKeyForm,
       kNoCardForm,
       {kLockRejected, 0x123456, kUntouched}},
      {"faka_4852 wrap", tf::faka_4852, kWraps, kKeyForm, {kOk, 0xBFFDFC, 0x123456}},
      {"fakaUnlock", tf::fakaUnlock, kCardForm, kCardForm, {kOk, 0x572A36, 0x572A36}},
      {"fakaUnlock code 1",
       tf::fakaUnlock,
       kThirdSumOver,
       kCardForm,
       {kLockRejected, kUntouched, kUntouched}},
      {"fakaUnlock code 2",
       tf::fakaUnlock,
       kCardForm,
       kThirdSumOver,
       {kLockRejected, 0x572A36, kUntouched}},
      {"fakaUnlock digits 1",
       tf::fakaUnlock,
       kDigitCheckFails,
       kCardForm,
       {kLockRejected, 0x030E05, 0x572A36}},
      {"fakaUnlock digits 2",
       tf::fakaUnlock,
       kCardForm,
       kDigitCheckFails,
       {kLockRejected, 0x572A36, 0x030E05}},
      {"fakaUnlock wrap", tf::fakaUnlock, kWraps, kCardForm, {kOk, 0x972798, 0x572A36}},
  };
  for (const Case& c : cases) {
    const Call got = call(c.entry, c.first, c.second);
    EXPECT_EQ(got, c.expected) << c.name << ": " << describe(got);
  }
}

// ---- Calling conventions --------------------------------------------------

struct EntryCase {
  const char* name;
  Entry entry;
  Packed first, second;  // one-code entry points read only the first
};
const EntryCase kEntryCases[] = {
    {"keylock", tf::keylock, 0x123456, 0x999999},
    {"keylock rejected", tf::keylock, 0x000DF0, 0x999999},
    {"cardLock", tf::cardLock, 0x123456, 0x999999},
    {"cardLock rejected", tf::cardLock, 0x150012, 0x999999},
    {"faka_485", tf::faka_485, kKeyForm, 0x000000},
    {"faka_485 code 2 rejected", tf::faka_485, kKeyForm, 0x135606},
    {"faka_4852", tf::faka_4852, kKeyForm, 0x000000},
    {"faka_4852 code 2 rejected", tf::faka_4852, kKeyForm, 0x135606},
    {"fakaUnlock", tf::fakaUnlock, kCardForm, 0x000000},
    {"fakaUnlock code 2 rejected", tf::fakaUnlock, kCardForm, 0x09849C},
    {"fakaUnlock digit check", tf::fakaUnlock, 0xA30D05, kCardForm},
};

// Each code is read whole before it is written, and code 1 only writes
// bytes 0 to 2: one buffer gives what two give when the output starts as a
// copy of the input.
TEST(LockCode, InputAndOutputMayBeTheSameBuffer) {
  for (const EntryCase& c : kEntryCases) {
    std::uint8_t in[6];
    std::uint8_t separate[6];
    std::uint8_t shared[6];
    put(in, c.first);
    put(in + 3, c.second);
    std::copy(in, in + 6, separate);
    std::copy(in, in + 6, shared);
    const Result separate_result = c.entry(0, in, separate);
    EXPECT_EQ(c.entry(0, shared, shared), separate_result) << c.name;
    EXPECT_EQ(hex(get(shared)) + hex(get(shared + 3)), hex(get(separate)) + hex(get(separate + 3)))
        << c.name;
  }
}

TEST(LockCode, FirstArgumentIsIgnored) {
  for (const EntryCase& c : kEntryCases) {
    const Call reference = call(c.entry, c.first, c.second);
    for (const std::int32_t ignored : {1, -1, INT32_MIN, INT32_MAX, 0x12345678}) {
      EXPECT_EQ(call(c.entry, c.first, c.second, ignored), reference)
          << c.name << " with " << ignored;
    }
  }
}

}  // namespace
}  // namespace tarvex::testing
