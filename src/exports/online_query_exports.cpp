// C entry points: the on-line query.
#include "exchange/online_query.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::HeldPortArg;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL onNet(int32_t address, uint8_t* record,
                                     const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os({"onNet", "address record port_name", address, record, PortNameArg{port_name}},
                   [&](Platform& os) { return ex::onNet(os, address, record, port_name); });
}

TARVEX_API int32_t TARVEX_CALL HANDLE_OnNet(tarvex_port_t port, int32_t address,
                                            uint8_t* record) TARVEX_NOEXCEPT {
  return run_on_os({"HANDLE_OnNet", "port address record", HeldPortArg{port}, address, record},
                   [&](Platform& os) { return ex::HANDLE_OnNet(os, port, address, record); });
}

}  // extern "C"
