// C entry points of the legacy build: getdata and senddata with the legacy
// profile. The legacy build links this unit in place of the current build's
// request/reply and data-block units; its other eight entry points come from
// the same export units as in the current build.
#include "exports/entry_point.h"
#include "legacy/legacy_exchanges.h"
#include "tarvex.h"

using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL senddata(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                        const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"senddata", "n frame m block port_name", n, frame, m, block, PortNameArg{port_name}},
      [&](Platform& os) { return tarvex::legacy::senddata(os, n, frame, m, block, port_name); });
}

TARVEX_API int32_t TARVEX_CALL getdata(int32_t n, uint8_t* frame, int32_t reply_length,
                                       uint8_t* reply, const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os({"getdata", "n frame reply_length reply port_name", n, frame, reply_length,
                    reply, PortNameArg{port_name}},
                   [&](Platform& os) {
                     return tarvex::legacy::getdata(os, n, frame, reply_length, reply, port_name);
                   });
}

}  // extern "C"
