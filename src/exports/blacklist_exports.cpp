// C entry points: the blacklist download.
#include "exchange/blacklist.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL sendBlack(int32_t address, int32_t count, const uint8_t* entries,
                                         const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"sendBlack", "address count entries port_name", address, count, entries,
       PortNameArg{port_name}},
      [&](Platform& os) { return ex::sendBlack(os, address, count, entries, port_name); });
}

TARVEX_API int32_t TARVEX_CALL sendBlack_hex(int32_t address, int32_t count, const char* text,
                                             const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os(
      {"sendBlack_hex", "address count text port_name", address, count, text, PortNameArg{port_name}},
      [&](Platform& os) { return ex::sendBlack_hex(os, address, count, text, port_name); });
}

TARVEX_API int32_t TARVEX_CALL sSendBlack(int32_t address_word, int32_t command_code, int32_t count,
                                          const uint8_t* entries,
                                          const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os({"sSendBlack", "address_word command_code count entries port_name", address_word,
                    command_code, count, entries, PortNameArg{port_name}},
                   [&](Platform& os) {
                     return ex::sSendBlack(os, address_word, command_code, count, entries,
                                           port_name);
                   });
}

}  // extern "C"
