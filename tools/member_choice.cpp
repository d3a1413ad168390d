#include "tools/member_choice.h"

#include "tools/exit_status.h"

namespace tarvex::tool {

std::size_t choose_member(std::string_view text, std::span<const MemberName> members) {
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (text == members[i].option || text == members[i].library) return i;
  }
  std::string choices;
  for (const MemberName& m : members) {
    choices += (choices.empty() ? "" : ", ") + std::string(m.option);
  }
  throw UsageError("--member: '" + std::string(text) + "' is no member of this family; choose " + choices);
}

std::string member_help(std::span<const MemberName> members) {
  std::string text;
  for (const MemberName& m : members) {
    text += "\n  " + std::string(m.option) + " (" + std::string(m.library) + "): " + std::string(m.summary);
  }
  return text;
}

}  // namespace tarvex::tool
