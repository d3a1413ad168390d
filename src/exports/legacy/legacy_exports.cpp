// The legacy build's exports: the rows of the entry point table the legacy
// build has, each bound to the same C++ function as in the current build or
// to the legacy profile's own (getdata and senddata, src/legacy/). Nothing
// else is defined here, so none of the current build's other exchanges is
// linked in.
#include "exchange/blacklist.h"
#include "exchange/hex_exchange.h"
#include "exports/entry_point.h"
#include "exports/entry_point_table.h"
#include "legacy/legacy_exchanges.h"
#include "tarvex.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

#define TARVEX_LEGACY_EXPORT(name, ordinal, legacy, returns, family, function, tool_name, summary, \
                             ...)                                                                 \
  TARVEX_LEGACY_EXPORT_##legacy(name, returns, function, __VA_ARGS__)
#define TARVEX_LEGACY_EXPORT_no(...)
#define TARVEX_LEGACY_EXPORT_same(name, returns, function, ...) \
  TARVEX_EXPORT(name, returns, function, __VA_ARGS__)
#define TARVEX_LEGACY_EXPORT_own(name, returns, function, ...) \
  TARVEX_EXPORT(name, returns, legacy::name, __VA_ARGS__)

extern "C" {
TARVEX_ENTRY_POINTS(TARVEX_LEGACY_EXPORT)
}  // extern "C"
