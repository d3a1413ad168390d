#include "tools/members.h"

#include "exchange/block_profile.h"
#include "line/held_port.h"
#include "tools/exit_status.h"
#include "tools/text_input.h"

namespace tarvex::tool {
namespace {

constexpr std::uint32_t kMostBaud = 4000000;
constexpr std::uint32_t kMostLimitMs = 600000;

// A summary may name a value of the member's profile instead of stating it.
std::string summary_of(const exports::EntryPoint& e) {
  std::string summary(e.tool_summary);
  const auto at = summary.find("{acknowledgement_limit}");
  if (at != std::string::npos) {
    const auto limit = exchange::member_profile(e.name).value().acknowledgement_limit;
    summary.replace(at, std::string_view("{acknowledgement_limit}").size(), std::to_string(limit));
  }
  return summary;
}

}  // namespace

Result run_member(const Member& member, line::Platform* os, const exports::Arguments& arguments,
                  bool legacy) {
  const exports::CppCall call = legacy ? member.legacy_call : member.call;
  return static_cast<Result>(call(os, exchange::kHeap, arguments));
}

Members members_of(exports::Family family) {
  Members members;
  for (const exports::EntryPoint& e : exports::kEntryPoints) {
    if (e.family == family && !e.tool_name.empty()) members.push_back(e);
  }
  return members;
}

const Member& choose_member(std::string_view text, const Members& members) {
  for (const Member& m : members) {
    if (text == m.tool_name || text == m.name) return m;
  }
  throw UsageError("--member: '" + std::string(text) + "' is no member of this family; choose " +
                   option_list(members, nullptr, ", "));
}

std::string member_help(const Members& members) {
  std::string text;
  for (const Member& m : members) {
    text.append("\n  ").append(m.tool_name).append(" (").append(m.name).append("): ").append(summary_of(m));
  }
  return text;
}

std::string option_list(const Members& members, bool (*takes)(const Member&),
                        std::string_view last_joint) {
  std::vector<std::string_view> options;
  for (const Member& m : members) {
    if (takes == nullptr || takes(m)) options.push_back(m.tool_name);
  }
  std::string text;
  for (std::size_t i = 0; i < options.size(); ++i) {
    // Appended piece by piece: `" " + string` trips gcc 12's -Wrestrict at -O3
    // (a false alarm inside std::string, as the Windows presets build).
    if (i != 0) text.append(i + 1 == options.size() ? last_joint : ", ");
    text.append(options[i]);
  }
  return text;
}

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
  return run_member(member, &os_, arguments, legacy);
}

LineOptions::LineOptions(CLI::App& cli, exports::Family family, std::string_view member_help_text,
                         std::string_view limit_help, std::string_view limit_default)
    : members_(members_of(family)) {
  cli.add_option("--member", member_text_, std::string(member_help_text) + member_help(members_))
      ->default_str("plain")
      ->type_name("NAME");
  const std::string baud = option_list(members_, &takes_baud, " and ");
  if (!baud.empty()) {
    cli.add_option("--baud", baud_text_,
                   "Baud rate for " + baud + " (default " + std::to_string(line::kDefaultBaud) + ")")
        ->type_name("UINT");
  }
  const std::string limit = option_list(members_, &takes_limit, " and ");
  if (!limit.empty()) {
    cli.add_option("--limit", limit_text_,
                   std::string(limit_help) + " for " + limit + " " + std::string(limit_default))
        ->type_name("MS");
  }
}

const Member& LineOptions::member() {
  const Member& chosen = choose_member(member_text_, members_);
  const std::string library(chosen.name);
  if (baud_text_ && !takes_baud(chosen)) {
    throw UsageError("--baud: " + library + " runs at " + std::to_string(line::kDefaultBaud) +
                     " baud; choose --member " + option_list(members_, &takes_baud, " or ") +
                     " to set the rate");
  }
  if (limit_text_ && !takes_limit(chosen)) {
    throw UsageError("--limit: " + library + " has limits of its own; choose --member " +
                     option_list(members_, &takes_limit, " or ") + " to set one");
  }
  if (baud_text_) baud_ = parse_count(*baud_text_, "--baud", kMostBaud);
  if (limit_text_) limit_ = parse_count(*limit_text_, "--limit", kMostLimitMs);
  chosen_ = &chosen;
  return chosen;
}

MemberLine LineOptions::open(Invocation& invocation, std::uint32_t limit) const {
  return MemberLine(invocation.platform(), invocation.port_name().c_str(), held(*chosen_),
                    baud_.value_or(line::kDefaultBaud), limit);
}

}  // namespace tarvex::tool
