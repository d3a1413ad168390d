// Choosing a member of an exchange family on the command line: by a short
// option value (plain, n, dx, held, handle) or by the library's own name.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::tool {

struct MemberName {
  std::string_view option;   // what --member takes
  std::string_view library;  // the entry point's name, also accepted
  std::string_view summary;  // for --help
};

// The index of the member `text` names; a UsageError that lists the choices
// when it names none.
std::size_t choose_member(std::string_view text, std::span<const MemberName> members);

// "plain (getdata): ..., n (nGetData): ..." for --help.
std::string member_help(std::span<const MemberName> members);

}  // namespace tarvex::tool
