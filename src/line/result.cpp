#include "line/result.h"

namespace tarvex {

const char* result_meaning(Result code) {
  switch (code) {
    case kOk: return "success";
    case kLockRejected: return "a lock code was rejected";
    case kFrameNotSent: return "the frame was not taken whole, the port did not open, or the output did not drain";
    case kReplyIncomplete: return "a reply, acknowledgement or data block did not go through in full";
    case kReplyWrong: return "a reply checksum or the acknowledgement bytes are wrong";
    case kSecondFrameNotSent: return "the second frame of the on-line query was not written";
    case kEmptyCardList:  // also kSecondFrameNotDrained
      return "the card list is empty, or the second query frame did not drain";
    case kSecondReplyIncomplete: return "the second reply of the on-line query did not arrive in full";
    case kSecondReplyWrong: return "the second reply of the on-line query has a wrong checksum";
    default: return "unknown result code";
  }
}

}  // namespace tarvex
