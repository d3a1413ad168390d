// Small codecs beside the lock codes, sharing nothing with them:
// abcd mixes eight bytes (as a rule eight decimal digit characters) into an
// eight-character upper-case hex code, change mixes six bytes into six, ascc
// copies three bytes and MJExchangeData does nothing.
//
// All arithmetic is on bytes (modulo 256). Each writes exactly its own output
// bytes (8, 6 or 3) and returns kOk. A null buffer is out of contract: nothing
// is written and the result is kFrameNotSent, the code the library gives any
// argument out of contract.
#pragma once

#include <cstdint>

#include "line/result.h"

namespace tarvex::transform {

// Mode 0 and mode 1 have their own mixing; every other mode, negative ones
// included, shares a third.
Result abcd(const std::uint8_t* in, std::uint8_t* out, std::int32_t mode);
Result change(const std::uint8_t* in, std::uint8_t* out);
Result ascc(const std::uint8_t* in, std::uint8_t* out);
Result MJExchangeData();

}  // namespace tarvex::transform
