// C entry points: the hex-text exchanges.
#include "exchange/hex_exchange.h"
#include "exports/entry_point.h"
#include "tarvex.h"

namespace ex = tarvex::exchange;
using tarvex::exports::PortNameArg;
using tarvex::exports::run_on_os;
using tarvex::line::Platform;

extern "C" {

TARVEX_API int32_t TARVEX_CALL getdata_hex(int32_t n, const char* command_text,
                                           int32_t reply_length, char* reply_text,
                                           const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os({"getdata_hex", "n command_text reply_length reply_text port_name", n,
                    command_text, reply_length, reply_text, PortNameArg{port_name}},
                   [&](Platform& os) {
                     return ex::getdata_hex(os, n, command_text, reply_length, reply_text,
                                            port_name);
                   });
}

TARVEX_API int32_t TARVEX_CALL senddata_hex(int32_t n, const char* command_text,
                                            int32_t block_length, const char* block_text,
                                            const char* port_name) TARVEX_NOEXCEPT {
  return run_on_os({"senddata_hex", "n command_text block_length block_text port_name", n,
                    command_text, block_length, block_text, PortNameArg{port_name}},
                   [&](Platform& os) {
                     return ex::senddata_hex(os, n, command_text, block_length, block_text,
                                             port_name);
                   });
}

}  // extern "C"
