// The result codes every exchange returns, named for the C++ side. The values
// are the public header's.
#pragma once

#include <cstdint>

#include "tarvex.h"

namespace tarvex {

using Result = std::int32_t;

inline constexpr Result kOk = TARVEX_OK;
inline constexpr Result kLockRejected = TARVEX_LOCK_REJECTED;
inline constexpr Result kFrameNotSent = TARVEX_FRAME_NOT_SENT;
inline constexpr Result kReplyIncomplete = TARVEX_REPLY_INCOMPLETE;
inline constexpr Result kReplyWrong = TARVEX_REPLY_WRONG;
inline constexpr Result kSecondFrameNotSent = TARVEX_SECOND_FRAME_NOT_SENT;
// Code 6 means one thing in each of two families, under two names here: a
// blacklist download with no card to send, and an on-line query whose second
// frame did not drain in time.
inline constexpr Result kEmptyCardList = TARVEX_EMPTY_OR_NOT_DRAINED;
inline constexpr Result kSecondFrameNotDrained = TARVEX_EMPTY_OR_NOT_DRAINED;
inline constexpr Result kSecondReplyIncomplete = TARVEX_SECOND_REPLY_INCOMPLETE;
inline constexpr Result kSecondReplyWrong = TARVEX_SECOND_REPLY_WRONG;

// A short text for a result code, for tools and traces.
const char* result_meaning(Result code);

}  // namespace tarvex
