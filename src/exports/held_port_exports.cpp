// C entry points: held ports.
#include "line/held_port.h"
#include "line/os_platform.h"
#include "tarvex.h"

using tarvex::line::OsPlatform;

extern "C" {

TARVEX_API tarvex_port_t TARVEX_CALL com_init(const char* port_name, uint32_t baud) TARVEX_NOEXCEPT {
  OsPlatform os;
  return tarvex::line::com_init(os, port_name, baud);
}

TARVEX_API int32_t TARVEX_CALL com_exit(tarvex_port_t port) TARVEX_NOEXCEPT {
  OsPlatform os;
  return tarvex::line::com_exit(os, port);
}

}  // extern "C"
