// The line options every command that runs an exchange family shares:
// --member, and --baud and --limit where a member of the family takes them.
// Each member says how it reaches the line and what it takes
// (family_members.h); the options are parsed and checked here once against
// the chosen member, and the line is opened here, the held port included.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/platform.h"
#include "tools/family_members.h"
#include "tools/held_port_scope.h"
#include "tools/invocation.h"
#include "tools/member_choice.h"

namespace tarvex::tool {

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
  // 2000)"). --baud and --limit are there only when a member takes them.
  LineOptions(CLI::App& cli, const std::vector<Member>& members, std::string_view member_help,
              std::string_view limit_help = {}, std::string_view limit_default = {});

  // The member --member names, once --baud and --limit are checked against it
  // and parsed; a UsageError otherwise.
  const Member& member(const std::vector<Member>& members);

  // What was given, or the default; valid after member().
  std::uint32_t baud() const { return baud_.value_or(line::kDefaultBaud); }
  std::uint32_t limit(std::uint32_t otherwise) const { return limit_.value_or(otherwise); }
  const std::string& member_text() const { return member_text_; }

  // The session's line for a member with `needs`, the held port opened when
  // the member runs on one.
  OpenLine open(Invocation& invocation, const LineNeeds& needs, std::uint32_t limit = 0) const;

 private:
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
