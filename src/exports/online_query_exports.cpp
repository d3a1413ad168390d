// C entry points: the on-line query.
#include "exchange/online_query.h"
#include "line/os_platform.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::line::OsPlatform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL onNet(int32_t address, uint8_t* record,
                                     const char* port_name) TARVEX_NOEXCEPT {
  OsPlatform os;
  return ex::onNet(os, address, record, port_name);
}

TARVEX_API int32_t TARVEX_CALL HANDLE_OnNet(tarvex_port_t port, int32_t address,
                                            uint8_t* record) TARVEX_NOEXCEPT {
  OsPlatform os;
  return ex::HANDLE_OnNet(os, port, address, record);
}

}  // extern "C"
