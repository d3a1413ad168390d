#include "tools/line_options.h"

#include "tools/exit_status.h"
#include "tools/text_input.h"

namespace tarvex::tool {
namespace {

constexpr std::uint32_t kMostBaud = 4000000;
constexpr std::uint32_t kMostLimitMs = 600000;

// The options of the members for which `takes` holds, joined by `conjunction`.
std::string members_taking(const std::vector<Member>& members, bool LineNeeds::*takes,
                           std::string_view conjunction) {
  std::vector<MemberName> taking;
  for (const Member& member : members) {
    if (member.needs.*takes) taking.push_back(member.name);
  }
  return option_list(taking, conjunction);
}

}  // namespace

OpenLine::OpenLine(LineSession& session, PortUse port, std::uint32_t baud, std::uint32_t limit)
    : line_{session.platform(), session.port_name().c_str(), line::kInvalidHandle, baud, limit} {
  if (port == PortUse::Held) {
    held_.emplace(line_.os, line_.port_name, baud);
    line_.held = held_->handle();
  }
}

LineOptions::LineOptions(CLI::App& cli, const std::vector<Member>& members,
                         std::string_view member_help_text, std::string_view limit_help,
                         std::string_view limit_default)
    : baud_members_(members_taking(members, &LineNeeds::takes_baud, "or")),
      limit_members_(members_taking(members, &LineNeeds::takes_limit, "or")) {
  cli.add_option("--member", member_text_, std::string(member_help_text) + member_help(members))
      ->default_str("plain")
      ->type_name("NAME");
  if (!baud_members_.empty()) {
    cli.add_option("--baud", baud_text_,
                   "Baud rate for " + members_taking(members, &LineNeeds::takes_baud, "and") +
                       " (default 9600)")
        ->type_name("UINT");
  }
  if (!limit_members_.empty()) {
    cli.add_option("--limit", limit_text_,
                   std::string(limit_help) + " for " +
                       members_taking(members, &LineNeeds::takes_limit, "and") + " " +
                       std::string(limit_default))
        ->type_name("MS");
  }
}

const Member& LineOptions::member(const std::vector<Member>& members) {
  const Member& chosen = choose_member(member_text_, members);
  check(chosen.name, chosen.needs);
  return chosen;
}

void LineOptions::check(const MemberName& name, const LineNeeds& needs) {
  const std::string library(name.library);
  if (baud_text_ && !needs.takes_baud) {
    throw UsageError("--baud: " + library + " runs at 9600 baud; choose --member " + baud_members_ +
                     " to set the rate");
  }
  if (limit_text_ && !needs.takes_limit) {
    throw UsageError("--limit: " + library + " has limits of its own; choose --member " + limit_members_ +
                     " to set one");
  }
  if (baud_text_) baud_ = parse_count(*baud_text_, "--baud", kMostBaud);
  if (limit_text_) limit_ = parse_count(*limit_text_, "--limit", kMostLimitMs);
}

OpenLine LineOptions::open(Invocation& invocation, const LineNeeds& needs, std::uint32_t limit) const {
  return OpenLine(invocation.line(), needs.port, baud(), limit);
}

}  // namespace tarvex::tool
