#include "tools/members.h"

#include "exchange/block_profile.h"
#include "tools/exit_status.h"

namespace tarvex::tool {
namespace {

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

Result Member::run(line::Platform* os, const exports::Arguments& arguments, bool legacy) const {
  const exports::CppCall call = legacy ? entry->legacy_call : entry->call;
  return static_cast<Result>(call(os, exchange::kHeap, arguments));
}

Members members_of(exports::Family family) {
  Members members;
  for (const exports::EntryPoint& e : exports::kEntryPoints) {
    if (e.family == family && !e.tool_name.empty()) members.push_back({e.tool_name, e.name, summary_of(e), &e});
  }
  return members;
}

const Member& choose_member(std::string_view text, const Members& members) {
  for (const Member& m : members) {
    if (text == m.option || text == m.library) return m;
  }
  throw UsageError("--member: '" + std::string(text) + "' is no member of this family; choose " +
                   option_list(members, nullptr, ", "));
}

std::string member_help(const Members& members) {
  std::string text;
  for (const Member& m : members) {
    text.append("\n  ").append(m.option).append(" (").append(m.library).append("): ").append(m.summary);
  }
  return text;
}

std::string option_list(const Members& members, bool (Member::*takes)() const,
                        std::string_view last_joint) {
  std::vector<std::string_view> options;
  for (const Member& m : members) {
    if (takes == nullptr || (m.*takes)()) options.push_back(m.option);
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

}  // namespace tarvex::tool
