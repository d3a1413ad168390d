// The line options every command that runs an exchange family shares:
// --member, and --baud and --limit where a member of the family takes them.
// Each family's table says, row by row, how its member reaches the line and
// what it takes; the options are parsed and checked here once against the
// chosen row, and the line is opened here, the held port included.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/platform.h"
#include "tools/held_port_scope.h"
#include "tools/invocation.h"
#include "tools/member_choice.h"

namespace tarvex::tool {

enum class PortUse { ByName, Held };

// How a member reaches the line and what it takes from the command line.
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

// A row of a family's member table: its names, what it needs of the line,
// the library call it makes, and the same entry point in the legacy build
// where that build has one. A family that needs more per row derives from it.
template <class Call>
struct Member {
  MemberName name;
  LineNeeds needs;
  Call call;
  Call legacy_call = nullptr;
};

// The chosen member's line, open for as long as this lives.
class OpenLine {
 public:
  OpenLine(LineSession& session, PortUse port, std::uint32_t baud, std::uint32_t limit);

  const MemberLine& line() const { return line_; }

 private:
  std::optional<HeldPortScope> held_;
  MemberLine line_;
};

class LineOptions {
 public:
  // `member_help` introduces --member's choices; `limit_help` says what the
  // limit bounds and its default ("Drain and per-byte limit in ms", "(default
  // 2000)"). --baud and --limit are there only when a row takes them.
  template <class Rows>
  LineOptions(CLI::App& cli, const Rows& rows, std::string_view member_help,
              std::string_view limit_help = {}, std::string_view limit_default = {})
      : LineOptions(cli, names_of(rows), needs_of(rows), member_help, limit_help, limit_default) {}

  // The row --member names, once --baud and --limit are checked against it
  // and parsed; a UsageError otherwise.
  template <class Rows>
  const typename Rows::value_type& member(const Rows& rows) {
    const auto& row = choose_member(member_text_, rows);
    check(row.name, row.needs);
    return row;
  }

  // What was given, or the default; valid after member().
  std::uint32_t baud() const { return baud_.value_or(line::kDefaultBaud); }
  std::uint32_t limit(std::uint32_t otherwise) const { return limit_.value_or(otherwise); }
  const std::string& member_text() const { return member_text_; }

  // The session's line for a member with `needs`, the held port opened when
  // the member runs on one.
  OpenLine open(Invocation& invocation, const LineNeeds& needs, std::uint32_t limit = 0) const;

 private:
  LineOptions(CLI::App& cli, const std::vector<MemberName>& names, const std::vector<LineNeeds>& needs,
              std::string_view member_help, std::string_view limit_help, std::string_view limit_default);

  template <class Rows>
  static std::vector<LineNeeds> needs_of(const Rows& rows) {
    std::vector<LineNeeds> needs;
    for (const auto& row : rows) needs.push_back(row.needs);
    return needs;
  }

  void check(const MemberName& name, const LineNeeds& needs);

  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
  std::optional<std::string> limit_text_;
  std::optional<std::uint32_t> baud_;
  std::optional<std::uint32_t> limit_;
  std::string baud_members_;   // "n, held or handle": who takes --baud
  std::string limit_members_;  // who takes --limit
};

}  // namespace tarvex::tool
