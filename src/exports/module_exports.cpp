// C entry points: the combined and raw module exchanges.
#include "exchange/module.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::HeldPortArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL HANDLE_ComData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                              int32_t m, uint8_t* block, int32_t reply_length,
                                              uint8_t* reply, uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"HANDLE_ComData", "port n frame m block reply_length reply limit_ms",
                    HeldPortArg{port}, n, frame, m, block, reply_length, reply, limit_ms},
                   [&](Platform& os) {
                     return ex::HANDLE_ComData(os, port, n, frame, m, block, reply_length, reply,
                                               limit_ms);
                   });
}

TARVEX_API int32_t TARVEX_CALL getDataUIM(tarvex_port_t port, int32_t n, const uint8_t* frame,
                                          int32_t reply_length, uint8_t* reply,
                                          uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"getDataUIM", "port n frame reply_length reply limit_ms", HeldPortArg{port}, n,
                    frame, reply_length, reply, limit_ms},
                   [&](Platform& os) {
                     return ex::getDataUIM(os, port, n, frame, reply_length, reply, limit_ms);
                   });
}

TARVEX_API int32_t TARVEX_CALL sam_GetData(tarvex_port_t port, int32_t n, const uint8_t* frame,
                                           int32_t reply_length, uint8_t* reply,
                                           uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"sam_GetData", "port n frame reply_length reply limit_ms", HeldPortArg{port}, n,
                    frame, reply_length, reply, limit_ms},
                   [&](Platform& os) {
                     return ex::sam_GetData(os, port, n, frame, reply_length, reply, limit_ms);
                   });
}

}  // extern "C"
