// The current build's exports: every row of the entry point table. Each
// definition is checked against its declaration in tarvex.h, which is
// included first: a C function defined with a signature other than the one
// declared does not compile.
#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "exports/entry_point.h"
#include "exports/entry_point_table.h"
#include "line/held_port.h"
#include "tarvex.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

#define TARVEX_CURRENT_EXPORT(name, ordinal, legacy, returns, family, function, tool_name, summary, \
                              ...)                                                                 \
  TARVEX_EXPORT(name, returns, function, __VA_ARGS__)

extern "C" {
TARVEX_ENTRY_POINTS(TARVEX_CURRENT_EXPORT)
}  // extern "C"
