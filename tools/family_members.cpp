#include "tools/family_members.h"

namespace tarvex::tool {

Result Member::run(line::Platform* os, const exports::Arguments& arguments, bool legacy) const {
  const exports::CppCall call = legacy ? entry->legacy_call : entry->call;
  return static_cast<Result>(call(os, exchange::kHeap, arguments));
}

Result Member::run(const MemberLine& line, exports::Arguments arguments, bool legacy) const {
  arguments.port_name = line.port_name;
  arguments.port = line.held;
  arguments.baud = line.baud;
  arguments.limit_ms = line.limit;
  return run(&line.os, arguments, legacy);
}

std::vector<Member> members_of(exports::Family family) {
  std::vector<Member> members;
  for (const exports::EntryPoint& e : exports::kEntryPoints) {
    if (e.family != family || e.tool_name.empty()) continue;
    const bool held = e.takes("port");
    members.push_back({{e.tool_name, e.name, e.tool_summary},
                       {.port = held ? PortUse::Held : PortUse::ByName,
                        .takes_baud = held || e.takes("baud"),
                        .takes_limit = e.takes("limit_ms")},
                       &e});
  }
  return members;
}

}  // namespace tarvex::tool
