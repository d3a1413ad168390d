// A family's members as the tool offers them, made from the entry point
// table (exports/entry_point_catalog.h): the rows of the family that have a
// tool name, in the table's order. What a member needs of the line follows
// from its parameters.
#pragma once

#include <cstdint>
#include <vector>

#include "exports/entry_point_catalog.h"
#include "line/platform.h"
#include "line/result.h"
#include "tools/member_choice.h"

namespace tarvex::tool {

enum class PortUse { ByName, Held };

// How a member reaches the line and what it takes from the command line:
// a `port` parameter runs it on a held port, which takes --baud for com_init;
// a `baud` parameter takes --baud, a `limit_ms` parameter --limit.
struct LineNeeds {
  PortUse port = PortUse::ByName;  // Held: com_init before the call, com_exit after
  bool takes_baud = false;         // its own line settings', or the held port's
  bool takes_limit = false;
};

// What a member's call gets: the platform, the port's name, the held port
// (kInvalidHandle for a member that opens the port by name), the baud and
// the limit.
struct MemberLine {
  line::Platform& os;
  const char* port_name;
  line::Handle held;
  std::uint32_t baud;
  std::uint32_t limit;
};

struct Member {
  MemberName name;
  LineNeeds needs;
  const exports::EntryPoint* entry;

  // The entry point's C++ function, or with `legacy` the legacy build's own,
  // with the arguments its parameters name; `os` is null for a member that
  // touches no port.
  Result run(line::Platform* os, const exports::Arguments& arguments, bool legacy = false) const;
  // The same on `line`, whose port, held port, baud and limit it takes.
  Result run(const MemberLine& line, exports::Arguments arguments, bool legacy = false) const;
};

std::vector<Member> members_of(exports::Family family);

}  // namespace tarvex::tool
