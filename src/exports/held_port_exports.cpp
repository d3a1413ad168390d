// C entry points: held ports.
#include "exports/entry_point.h"
#include "line/held_port.h"
#include "tarvex.h"

using tarvex::exports::HeldPortArg;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API tarvex_port_t TARVEX_CALL com_init(const char* port_name,
                                              uint32_t baud) TARVEX_NOEXCEPT {
  return run_on_os({"com_init", "port_name baud", PortNameArg{port_name}, baud},
                   [&](Platform& os) { return tarvex::line::com_init(os, port_name, baud); });
}

TARVEX_API int32_t TARVEX_CALL com_exit(tarvex_port_t port) TARVEX_NOEXCEPT {
  return run_on_os({"com_exit", "port", HeldPortArg{port}},
                   [&](Platform& os) { return tarvex::line::com_exit(os, port); });
}

}  // extern "C"
