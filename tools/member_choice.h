// Choosing a member of a family on the command line: an exchange family's
// entry points, a lock conversion, a codec. Each family is a table of rows
// that carry the member's behaviour beside its `name`; the row is chosen by
// a short option value (plain, n, dx, held, handle) or by the library's own
// name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvex::tool {

struct MemberName {
  std::string_view option;   // what --member (or KIND) takes
  std::string_view library;  // the entry point's name, also accepted
  std::string_view summary;  // for --help
};

// A UsageError saying that `text` names no member, and listing the choices.
[[noreturn]] void no_such_member(std::string_view text, const std::vector<MemberName>& names);

// "plain (getdata): ..., n (nGetData): ..." for --help.
std::string member_help(const std::vector<MemberName>& names);

// "n, held or handle" (or "n, held and handle" with conjunction "and").
std::string option_list(const std::vector<MemberName>& names, std::string_view conjunction);

template <class Rows>
std::vector<MemberName> names_of(const Rows& rows) {
  std::vector<MemberName> names;
  for (const auto& row : rows) names.push_back(row.name);
  return names;
}

// The row `text` names; a UsageError that lists the choices when it names
// none.
template <class Rows>
const typename Rows::value_type& choose_member(std::string_view text, const Rows& rows) {
  for (const auto& row : rows) {
    if (text == row.name.option || text == row.name.library) return row;
  }
  no_such_member(text, names_of(rows));
}

template <class Rows>
std::string member_help(const Rows& rows) {
  return member_help(names_of(rows));
}

}  // namespace tarvex::tool
