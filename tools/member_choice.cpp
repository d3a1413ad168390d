#include "tools/member_choice.h"

#include "tools/exit_status.h"

namespace tarvex::tool {

void no_such_member(std::string_view text, const std::vector<MemberName>& names) {
  std::string choices;
  for (const MemberName& m : names) choices += (choices.empty() ? "" : ", ") + std::string(m.option);
  throw UsageError("--member: '" + std::string(text) + "' is no member of this family; choose " + choices);
}

std::string member_help(const std::vector<MemberName>& names) {
  std::string text;
  for (const MemberName& m : names) {
    text += "\n  " + std::string(m.option) + " (" + std::string(m.library) + "): " + std::string(m.summary);
  }
  return text;
}

std::string option_list(const std::vector<MemberName>& names, std::string_view conjunction) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    // Appended piece by piece: `" " + string` trips gcc 12's -Wrestrict at -O3
    // (a false alarm inside std::string, as the Windows presets build).
    if (i + 1 == names.size() && i != 0) {
      text.append(" ").append(conjunction).append(" ");
    } else if (i != 0) {
      text += ", ";
    }
    text += names[i].option;
  }
  return text;
}

}  // namespace tarvex::tool
