// The five lock-code entry points: plain code to key form (keylock) and to
// card form (cardLock) for one code; key form to card form (faka_485), key
// form back to the plain code (faka_4852) and card form to key form
// (fakaUnlock) for two codes at once, in bytes 0 to 2 and 3 to 5.
//
// Result kOk, or kLockRejected when a code does not fit its form. A rejected
// code is not written; a rejection in code 2 leaves code 1's result in place;
// fakaUnlock's final digit check fails only after all six bytes are written.
// Input and output may be the same buffer. The first argument is never read.
// A null buffer is rejected as well, with nothing written.
#pragma once

#include <cstdint>

#include "line/result.h"

namespace tarvex::transform {

Result keylock(std::int32_t ignored, const std::uint8_t* plain_code, std::uint8_t* key_form);
Result cardLock(std::int32_t ignored, const std::uint8_t* plain_code, std::uint8_t* card_form);
Result faka_485(std::int32_t ignored, const std::uint8_t* key_forms, std::uint8_t* card_forms);
Result faka_4852(std::int32_t ignored, const std::uint8_t* key_forms, std::uint8_t* plain_codes);
Result fakaUnlock(std::int32_t ignored, const std::uint8_t* card_forms, std::uint8_t* key_forms);

}  // namespace tarvex::transform
