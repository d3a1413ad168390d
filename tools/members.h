// A family's members as the tool offers them: the rows of the entry point
// table (exports/entry_point_catalog.h) of that family that have a tool
// name, in the table's order, chosen by that name (--member, or KIND) or by
// the entry point's own. What a member takes from the command line follows
// from its parameters: a `port` runs it on a held port, which takes --baud
// for com_init; a `baud` takes --baud, a `limit_ms` --limit.
//
// The line options every command that runs an exchange family shares:
// --member, and --baud and --limit where a member of the family takes them,
// parsed and checked once against the chosen member; and the line that
// member's call runs on, its held port included.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exports/entry_point_catalog.h"
#include "line/platform.h"
#include "line/result.h"
#include "tools/invocation.h"

namespace tarvex::tool {

// A member is its row of the table.
using Member = exports::EntryPoint;
using Members = std::vector<std::reference_wrapper<const Member>>;

// What the member takes from the command line, by its parameters.
inline bool held(const Member& m) { return m.takes("port"); }
inline bool takes_baud(const Member& m) { return held(m) || m.takes("baud"); }
inline bool takes_limit(const Member& m) { return m.takes("limit_ms"); }

// The entry point's C++ function, or with `legacy` the legacy build's own,
// with the arguments its parameters name; `os` is null for a member that
// touches no port.
Result run_member(const Member& member, line::Platform* os, const exports::Arguments& arguments,
                  bool legacy = false);

Members members_of(exports::Family family);

// The member `text` names; a UsageError that lists the choices when it names
// none.
const Member& choose_member(std::string_view text, const Members& members);

// "\n  plain (getdata): ..." for --help.
std::string member_help(const Members& members);

// "n, held or handle" (`last_joint` " or "): the options of the members for
// which `takes` holds, of every member when it is null.
std::string option_list(const Members& members, bool (*takes)(const Member&),
                        std::string_view last_joint);

// What a member's call runs on: the platform, the port's name, the baud and
// the limit; for a member on a held port, the port com_init opened when this
// was made, which com_exit closes when it goes, as a host brackets its
// handle-based exchanges.
class MemberLine {
 public:
  MemberLine(line::Platform& os, const char* port_name, bool held, std::uint32_t baud,
             std::uint32_t limit);
  ~MemberLine();
  MemberLine(const MemberLine&) = delete;
  MemberLine& operator=(const MemberLine&) = delete;

  // The member's call with `arguments` and this line's port, baud and limit.
  Result run(const Member& member, exports::Arguments arguments, bool legacy = false) const;

 private:
  line::Platform& os_;
  const char* port_name_;
  line::Handle held_ = line::kInvalidHandle;
  std::uint32_t baud_;
  std::uint32_t limit_;
};

class LineOptions {
 public:
  // `member_help` introduces --member's choices; `limit_help` says what the
  // limit bounds and its default ("Drain and per-byte limit in ms", "(default
  // 2000)"). --baud and --limit are there only when a member takes them.
  LineOptions(CLI::App& cli, exports::Family family, std::string_view member_help,
              std::string_view limit_help = {}, std::string_view limit_default = {});

  // The member --member names, once --baud and --limit are checked against it
  // and parsed; a UsageError otherwise.
  const Member& member();
  const std::string& member_text() const { return member_text_; }
  const Members& members() const { return members_; }

  // What --limit gave, or `otherwise`; valid after member().
  std::uint32_t limit(std::uint32_t otherwise) const { return limit_.value_or(otherwise); }

  // The invocation's line for the chosen member, with `limit`.
  MemberLine open(Invocation& invocation, std::uint32_t limit = 0) const;

 private:
  Members members_;
  const Member* chosen_ = nullptr;
  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
  std::optional<std::string> limit_text_;
  std::optional<std::uint32_t> baud_;
  std::optional<std::uint32_t> limit_;
};

}  // namespace tarvex::tool
