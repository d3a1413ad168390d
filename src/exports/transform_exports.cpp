// C entry points: the lock-code transforms and the small codecs. They touch
// no port, so no platform object is built.
#include "tarvex.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace tf = tarvex::transform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL keylock(int32_t ignored, const uint8_t* plain_code,
                                       uint8_t* key_form) TARVEX_NOEXCEPT {
  return tf::keylock(ignored, plain_code, key_form);
}

TARVEX_API int32_t TARVEX_CALL cardLock(int32_t ignored, const uint8_t* plain_code,
                                        uint8_t* card_form) TARVEX_NOEXCEPT {
  return tf::cardLock(ignored, plain_code, card_form);
}

TARVEX_API int32_t TARVEX_CALL faka_485(int32_t ignored, const uint8_t* key_forms,
                                        uint8_t* card_forms) TARVEX_NOEXCEPT {
  return tf::faka_485(ignored, key_forms, card_forms);
}

TARVEX_API int32_t TARVEX_CALL faka_4852(int32_t ignored, const uint8_t* key_forms,
                                         uint8_t* plain_codes) TARVEX_NOEXCEPT {
  return tf::faka_4852(ignored, key_forms, plain_codes);
}

TARVEX_API int32_t TARVEX_CALL fakaUnlock(int32_t ignored, const uint8_t* card_forms,
                                          uint8_t* key_forms) TARVEX_NOEXCEPT {
  return tf::fakaUnlock(ignored, card_forms, key_forms);
}

TARVEX_API int32_t TARVEX_CALL abcd(const uint8_t* digits, uint8_t* hex_code,
                                    int32_t mode) TARVEX_NOEXCEPT {
  return tf::abcd(digits, hex_code, mode);
}

TARVEX_API int32_t TARVEX_CALL change(const uint8_t* in, uint8_t* out) TARVEX_NOEXCEPT {
  return tf::change(in, out);
}

TARVEX_API int32_t TARVEX_CALL ascc(const uint8_t* in, uint8_t* out) TARVEX_NOEXCEPT {
  return tf::ascc(in, out);
}

TARVEX_API int32_t TARVEX_CALL MJExchangeData(void) TARVEX_NOEXCEPT {
  return tf::MJExchangeData();
}

}  // extern "C"
