#include "transform/lock_transforms.h"

#include "transform/lock_code.h"

namespace tarvex::transform {
namespace {

enum class Prepare { AsIs, BcdDecode, BcdEncode };
enum class Written { Shuffled, Unshuffled };

// How one entry point turns each of its codes: the input is unshuffled or
// taken as it is, each value is prepared for the shuffle, the shuffle checks
// (and makes) the output, and either the shuffled bytes or the unshuffled
// values are written.
struct LockProfile {
  int codes = 1;
  bool unshuffle_input = false;
  Prepare prepare = Prepare::AsIs;
  Written written = Written::Shuffled;
  bool digit_check = false;  // after both codes: every prepared byte a decimal digit
};

// The members side by side.
constexpr LockProfile kKeylock{.codes = 1, .prepare = Prepare::AsIs};
constexpr LockProfile kCardLock{.codes = 1, .prepare = Prepare::BcdDecode};
constexpr LockProfile kFaka485{.codes = 2, .unshuffle_input = true, .prepare = Prepare::BcdDecode};
// The card-form sums are only checked: the plain code is what gets written.
constexpr LockProfile kFaka4852{.codes = 2,
                                .unshuffle_input = true,
                                .prepare = Prepare::BcdDecode,
                                .written = Written::Unshuffled};
constexpr LockProfile kFakaUnlock{
    .codes = 2, .unshuffle_input = true, .prepare = Prepare::BcdEncode, .digit_check = true};

constexpr Code prepared_for_shuffle(Prepare prepare, const Code& values) {
  switch (prepare) {
    case Prepare::AsIs: return values;
    case Prepare::BcdDecode:
      return {bcd_decode(values[0]), bcd_decode(values[1]), bcd_decode(values[2])};
    case Prepare::BcdEncode:
      return {bcd_encode(values[0]), bcd_encode(values[1]), bcd_encode(values[2])};
  }
  return values;
}

bool all_low_nibbles_decimal(const Code& prepared) {
  for (const std::uint8_t byte : prepared) {
    if (low_nibble(byte) >= 10) return false;
  }
  return true;
}

// The shared sequence. Each code's three bytes are read before any of its
// output is written, and code 1 is written before code 2 is read, so the
// same buffer may serve as input and output. The profile is a template
// argument so each entry point compiles to straight-line code.
template <LockProfile profile>
Result convert(const std::uint8_t* in, std::uint8_t* out) {
  if (in == nullptr || out == nullptr) return kLockRejected;
  bool digits_only = true;
  for (int code = 0; code < profile.codes; ++code) {
    const std::uint8_t* source = in + 3 * code;
    std::uint8_t* destination = out + 3 * code;
    const Code read{source[0], source[1], source[2]};
    const Code values = profile.unshuffle_input ? nibble_unshuffle(read) : read;
    const Code prepared = prepared_for_shuffle(profile.prepare, values);
    const std::optional<Code> shuffled = nibble_shuffle(prepared);
    if (!shuffled) return kLockRejected;
    const Code& result = profile.written == Written::Shuffled ? *shuffled : values;
    destination[0] = result[0];
    destination[1] = result[1];
    destination[2] = result[2];
    digits_only = digits_only && all_low_nibbles_decimal(prepared);
  }
  if (profile.digit_check && !digits_only) return kLockRejected;
  return kOk;
}

}  // namespace

Result keylock(std::int32_t, const std::uint8_t* plain_code, std::uint8_t* key_form) {
  return convert<kKeylock>(plain_code, key_form);
}

Result cardLock(std::int32_t, const std::uint8_t* plain_code, std::uint8_t* card_form) {
  return convert<kCardLock>(plain_code, card_form);
}

Result faka_485(std::int32_t, const std::uint8_t* key_forms, std::uint8_t* card_forms) {
  return convert<kFaka485>(key_forms, card_forms);
}

Result faka_4852(std::int32_t, const std::uint8_t* key_forms, std::uint8_t* plain_codes) {
  return convert<kFaka4852>(key_forms, plain_codes);
}

Result fakaUnlock(std::int32_t, const std::uint8_t* card_forms, std::uint8_t* key_forms) {
  return convert<kFakaUnlock>(card_forms, key_forms);
}

}  // namespace tarvex::transform
