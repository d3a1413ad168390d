// A family's members as the tool offers them: the rows of the entry point
// table (exports/entry_point_catalog.h) of that family that have a tool
// name, in the table's order, chosen by that name (--member, or KIND) or by
// the entry point's own. What a member takes from the command line follows
// from its parameters: a `port` runs it on a held port, which takes --baud
// for com_init; a `baud` takes --baud, a `limit_ms` --limit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "exports/entry_point_catalog.h"
#include "line/platform.h"
#include "line/result.h"

namespace tarvex::tool {

struct Member {
  std::string_view option;   // what --member (or KIND) takes
  std::string_view library;  // the entry point's name
  std::string summary;       // for --help
  const exports::EntryPoint* entry;

  bool held() const { return entry->takes("port"); }
  bool takes_baud() const { return held() || entry->takes("baud"); }
  bool takes_limit() const { return entry->takes("limit_ms"); }

  // The entry point's C++ function, or with `legacy` the legacy build's own,
  // with the arguments its parameters name; `os` is null for a member that
  // touches no port.
  Result run(line::Platform* os, const exports::Arguments& arguments, bool legacy = false) const;
};

using Members = std::vector<Member>;

Members members_of(exports::Family family);

// The member `text` names; a UsageError that lists the choices when it names
// none.
const Member& choose_member(std::string_view text, const Members& members);

// "\n  plain (getdata): ..." for --help.
std::string member_help(const Members& members);

// "n, held or handle" (`last_joint` " or "): the options of the members for
// which `takes` holds, of every member when it is null.
std::string option_list(const Members& members, bool (Member::*takes)() const,
                        std::string_view last_joint);

}  // namespace tarvex::tool
