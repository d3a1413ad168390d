// C entry points: the data-block family.
#include "exchange/data_block.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::HeldPortArg;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL senddata(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                        const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"senddata", "n frame m block port_name", n, frame, m, block, PortNameArg{port_name}},
      [&](Platform& os) { return ex::senddata(os, n, frame, m, block, port_name); });
}

TARVEX_API int32_t TARVEX_CALL nSendData(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                         const char* port_name, uint32_t baud,
                                         uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os({"nSendData", "n frame m block port_name baud limit_ms", n, frame, m, block,
                    PortNameArg{port_name}, baud, limit_ms},
                   [&](Platform& os) {
                     return ex::nSendData(os, n, frame, m, block, port_name, baud, limit_ms);
                   });
}

TARVEX_API int32_t TARVEX_CALL dxSenddata(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                          const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"dxSenddata", "n frame m block port_name", n, frame, m, block, PortNameArg{port_name}},
      [&](Platform& os) { return ex::dxSenddata(os, n, frame, m, block, port_name); });
}

TARVEX_API int32_t TARVEX_CALL Nsend(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                     tarvex_port_t port) TARVEX_NOEXCEPT {
  return run_on_os({"Nsend", "n frame m block port", n, frame, m, block, HeldPortArg{port}},
                   [&](Platform& os) { return ex::Nsend(os, n, frame, m, block, port); });
}

TARVEX_API int32_t TARVEX_CALL HANDLE_SendData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                               int32_t m, uint8_t* block,
                                               uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os(
      {"HANDLE_SendData", "port n frame m block limit_ms", HeldPortArg{port}, n, frame, m, block,
       limit_ms},
      [&](Platform& os) { return ex::HANDLE_SendData(os, port, n, frame, m, block, limit_ms); });
}

TARVEX_API int32_t TARVEX_CALL sendDataUIM(tarvex_port_t port, int32_t n, uint8_t* frame, int32_t m,
                                           uint8_t* block, uint32_t limit_ms) TARVEX_NOEXCEPT {
  return run_on_os(
      {"sendDataUIM", "port n frame m block limit_ms", HeldPortArg{port}, n, frame, m, block,
       limit_ms},
      [&](Platform& os) { return ex::sendDataUIM(os, port, n, frame, m, block, limit_ms); });
}

}  // extern "C"
