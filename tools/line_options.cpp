#include "tools/line_options.h"

#include "line/held_port.h"
#include "tools/exit_status.h"
#include "tools/text_input.h"

namespace tarvex::tool {
namespace {

constexpr std::uint32_t kMostBaud = 4000000;
constexpr std::uint32_t kMostLimitMs = 600000;

}  // namespace

MemberLine::MemberLine(line::Platform& os, const char* port_name, bool held, std::uint32_t baud,
                       std::uint32_t limit)
    : os_(os), port_name_(port_name), baud_(baud), limit_(limit) {
  if (held) held_ = line::com_init(os_, port_name_, baud_);
}

MemberLine::~MemberLine() {
  if (held_ != line::kInvalidHandle) line::com_exit(os_, held_);
}

Result MemberLine::run(const Member& member, exports::Arguments arguments, bool legacy) const {
  arguments.port_name = port_name_;
  arguments.port = held_;
  arguments.baud = baud_;
  arguments.limit_ms = limit_;
  return member.run(&os_, arguments, legacy);
}

LineOptions::LineOptions(CLI::App& cli, exports::Family family, std::string_view member_help_text,
                         std::string_view limit_help, std::string_view limit_default)
    : members_(members_of(family)) {
  cli.add_option("--member", member_text_, std::string(member_help_text) + member_help(members_))
      ->default_str("plain")
      ->type_name("NAME");
  const std::string baud = option_list(members_, &Member::takes_baud, " and ");
  if (!baud.empty()) {
    cli.add_option("--baud", baud_text_,
                   "Baud rate for " + baud + " (default " + std::to_string(line::kDefaultBaud) + ")")
        ->type_name("UINT");
  }
  const std::string limit = option_list(members_, &Member::takes_limit, " and ");
  if (!limit.empty()) {
    cli.add_option("--limit", limit_text_,
                   std::string(limit_help) + " for " + limit + " " + std::string(limit_default))
        ->type_name("MS");
  }
}

const Member& LineOptions::member() {
  const Member& chosen = choose_member(member_text_, members_);
  const std::string library(chosen.library);
  if (baud_text_ && !chosen.takes_baud()) {
    throw UsageError("--baud: " + library + " runs at " + std::to_string(line::kDefaultBaud) +
                     " baud; choose --member " + option_list(members_, &Member::takes_baud, " or ") +
                     " to set the rate");
  }
  if (limit_text_ && !chosen.takes_limit()) {
    throw UsageError("--limit: " + library + " has limits of its own; choose --member " +
                     option_list(members_, &Member::takes_limit, " or ") + " to set one");
  }
  if (baud_text_) baud_ = parse_count(*baud_text_, "--baud", kMostBaud);
  if (limit_text_) limit_ = parse_count(*limit_text_, "--limit", kMostLimitMs);
  chosen_ = &chosen;
  return chosen;
}

MemberLine LineOptions::open(Invocation& invocation, std::uint32_t limit) const {
  LineSession& session = invocation.line();
  return MemberLine(session.platform(), session.port_name().c_str(), chosen_->held(),
                    baud_.value_or(line::kDefaultBaud), limit);
}

}  // namespace tarvex::tool
