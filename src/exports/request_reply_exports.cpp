// C entry points: the request and reply family.
#include "exchange/request_reply.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::HeldPortArg;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL getdata(int32_t n, uint8_t* frame, int32_t reply_length,
                                       uint8_t* reply, const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"getdata", "n frame reply_length reply port_name", n, frame, reply_length, reply,
       PortNameArg{port_name}},
      [&](Platform& os) { return ex::getdata(os, n, frame, reply_length, reply, port_name); });
}

TARVEX_API int32_t TARVEX_CALL nGetData(int32_t n, uint8_t* frame, int32_t reply_length,
                                        uint8_t* reply, const char* port_name, uint32_t baud,
                                        uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"nGetData", "n frame reply_length reply port_name baud limit_ms", n, frame,
                    reply_length, reply, PortNameArg{port_name}, baud, limit_ms},
                   [&](Platform& os) {
                     return ex::nGetData(os, n, frame, reply_length, reply, port_name, baud,
                                         limit_ms);
                   });
}

TARVEX_API int32_t TARVEX_CALL dxGetdata(int32_t n, uint8_t* frame, int32_t reply_length,
                                         uint8_t* reply, const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"dxGetdata", "n frame reply_length reply port_name", n, frame, reply_length, reply,
       PortNameArg{port_name}},
      [&](Platform& os) { return ex::dxGetdata(os, n, frame, reply_length, reply, port_name); });
}

TARVEX_API int32_t TARVEX_CALL Nget(int32_t n, uint8_t* frame, int32_t reply_length, uint8_t* reply,
                                    tarvex_port_t port) TARVEX_NOEXCEPT {
  return run_on_os(
      {"Nget", "n frame reply_length reply port", n, frame, reply_length, reply, HeldPortArg{port}},
      [&](Platform& os) { return ex::Nget(os, n, frame, reply_length, reply, port); });
}

TARVEX_API int32_t TARVEX_CALL HANDLE_GetData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                              int32_t reply_length, uint8_t* reply,
                                              uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"HANDLE_GetData", "port n frame reply_length reply limit_ms", HeldPortArg{port}, n,
                    frame, reply_length, reply, limit_ms},
                   [&](Platform& os) {
                     return ex::HANDLE_GetData(os, port, n, frame, reply_length, reply, limit_ms);
                   });
}

}  // extern "C"
