// Every entry point as data, made from the entry point table
// (exports/entry_point_table.h), for the tool and the tests: its names,
// family and parameters, and calls that take their arguments by name from
// one struct. The library itself does not use it.
#pragma once

#include <cstdint>
#include <string_view>

#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "exchange/scratch_area.h"
#include "exports/entry_point_table.h"
#include "exports/forward_call.h"
#include "exports/parameter_lists.h"
#include "legacy/legacy_exchanges.h"
#include "line/held_port.h"
#include "tarvex.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace tarvex::exports {

enum class Family {
  HeldPort, RequestReply, DataBlock, HexText, Blacklist, Module, OnlineQuery, LockTransform,
  SmallCodec
};

// An argument for every parameter name of the table: a call picks the ones
// its parameters name.
struct Arguments {
  const char* port_name = nullptr;
  tarvex_port_t port = TARVEX_INVALID_PORT;
  std::uint32_t baud = 0;
  std::uint32_t limit_ms = 0;
  std::int32_t n = 0;
  std::uint8_t* frame = nullptr;
  std::int32_t m = 0;
  std::uint8_t* block = nullptr;
  std::int32_t reply_length = 0;
  std::uint8_t* reply = nullptr;
  const char* command_text = nullptr;
  std::int32_t block_length = 0;
  const char* block_text = nullptr;
  char* reply_text = nullptr;
  std::int32_t address = 0;
  std::int32_t address_word = 0;
  std::int32_t command_code = 0;
  std::int32_t count = 0;
  const std::uint8_t* entries = nullptr;
  const char* text = nullptr;
  std::uint8_t* record = nullptr;
  std::int32_t ignored = 0;
  const std::uint8_t* in = nullptr;
  std::uint8_t* out = nullptr;
  std::int32_t mode = 0;
};

// A C++ function with its arguments: `os` may be null where it touches no
// port; the scratch source goes to the hex-text members.
using CppCall = std::int64_t (*)(line::Platform* os, const exchange::ScratchSource& scratch,
                                 const Arguments& arguments);
// An exported function, as a host that looked it up (dlsym, GetProcAddress)
// calls it.
using ExportedCall = std::int64_t (*)(void* exported, const Arguments& arguments);

struct EntryPoint {
  std::string_view name;
  Family family;
  std::string_view tool_name;  // empty: the tool offers no member for it
  std::string_view tool_summary;
  std::string_view parameters;  // their names, each followed by a space
  CppCall call;
  CppCall legacy_call;  // the legacy build's own function; null where it binds none
  ExportedCall call_exported;

  constexpr bool takes(std::string_view parameter) const {
    for (std::string_view rest = parameters; !rest.empty();) {
      const std::size_t space = rest.find(' ');
      if (rest.substr(0, space) == parameter) return true;
      rest.remove_prefix(space + 1);
    }
    return false;
  }
};

#define TARVEX_CPP_CALL(function, ...)                                                             \
  [](line::Platform* os, const exchange::ScratchSource& scratch,                                  \
     [[maybe_unused]] const Arguments& arguments) -> std::int64_t {                               \
    return forward_call<&tarvex::function>(os, scratch TARVEX_PICKED(__VA_ARGS__));              \
  }
#define TARVEX_LEGACY_CALL_no(name, ...) nullptr
#define TARVEX_LEGACY_CALL_same(name, ...) nullptr
#define TARVEX_LEGACY_CALL_own(name, ...) TARVEX_CPP_CALL(legacy::name, __VA_ARGS__)
#define TARVEX_CATALOG_ROW(name, ordinal, legacy, returns, family, function, tool_name, summary,   \
                           ...)                                                                    \
  EntryPoint{#name, Family::family, tool_name, summary, TARVEX_PARAMETER_NAMES(__VA_ARGS__),       \
             TARVEX_CPP_CALL(function, __VA_ARGS__),                                              \
             TARVEX_LEGACY_CALL_##legacy(name, __VA_ARGS__),                                      \
             [](void* exported, [[maybe_unused]] const Arguments& arguments) -> std::int64_t {     \
               return reinterpret_cast<decltype(&::name)>(exported)(                               \
                   TARVEX_DROP_FIRST(TARVEX_PICKED(__VA_ARGS__)));                                 \
             }},

inline constexpr EntryPoint kEntryPoints[] = {TARVEX_ENTRY_POINTS(TARVEX_CATALOG_ROW)};

#undef TARVEX_CATALOG_ROW
#undef TARVEX_LEGACY_CALL_own
#undef TARVEX_LEGACY_CALL_same
#undef TARVEX_LEGACY_CALL_no
#undef TARVEX_CPP_CALL

// The row of that name; a name the table lacks does not compile.
consteval const EntryPoint& entry_point(std::string_view name) {
  for (const EntryPoint& entry : kEntryPoints) {
    if (entry.name == name) return entry;
  }
  throw "no entry point of that name";
}

}  // namespace tarvex::exports
