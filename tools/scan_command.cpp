// `tarvex scan`: the on-line query over a range of addresses, and a table of
// the terminals that answered.
#include <optional>

#include "tools/exit_status.h"
#include "tools/line_options.h"
#include "tools/online_query.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

class ScanCommand final : public Command {
 public:
  explicit ScanCommand(CLI::App& cli)
      : line_options_(cli, members_, "Which entry point runs each query:") {
    cli.add_option("FROM", from_text_, "First address, in hex (default 01)")->type_name("HEX");
    cli.add_option("TO", to_text_, "Last address, in hex (default FF)")->type_name("HEX");
    cli.footer(
        "Lists every address where something answered, with the result of its query and\n"
        "the identity record. Exit status 0 when a terminal answered in full; otherwise the\n"
        "result of the first address that answered at all, or 3 when none did. A progress\n"
        "line is drawn on standard error when it is a terminal.");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member(members_);
    const std::uint8_t from = parse_byte(from_text_, "FROM");
    const std::uint8_t to = parse_byte(to_text_, "TO");
    if (from > to) throw UsageError("FROM " + hex_byte(from) + " is above TO " + hex_byte(to) + "; swap them");
    Table table{.key = "terminals", .keys = {"address", "result", "identity"},
                .labels = {"address", "result", "identity"}};
    std::optional<Result> first_answer;
    Console& console = invocation.console();
    {
      // One held port, when the member runs on one, for the whole scan.
      const OpenLine line = line_options_.open(invocation, member.needs);
      for (unsigned a = from; a <= to; ++a) {
        const auto address = static_cast<std::uint8_t>(a);
        if (console.err_is_terminal) {
          console.err << "\rscan: " << hex_byte(address) << " of " << hex_byte(from) << "-" << hex_byte(to)
                      << ", " << table.rows.size() << " answered" << std::flush;
        }
        const OnlineAnswer answer = query_online(member, line.line(), address);
        if (answer.result == kReplyIncomplete) continue;  // nobody there
        table.rows.push_back({hex_byte(address), std::int64_t{answer.result},
                              answer.identity ? Value(Bytes(answer.identity->begin(), answer.identity->end()))
                                              : Value(std::string("-"))});
        if (answer.identity || !first_answer) first_answer = answer.result;
      }
    }
    if (console.err_is_terminal) console.err << "\r\033[K" << std::flush;

    Report report{.command = "scan"};
    report.add("member", "member", std::string(member.name.library))
        .add("port", "port", invocation.line().port_name())
        .add("range", "addresses", hex_byte(from) + "-" + hex_byte(to))
        .add("answered", "answered", std::int64_t(table.rows.size()));
    if (!table.rows.empty()) report.table = std::move(table);
    report.result = first_answer.value_or(kReplyIncomplete);
    return invocation.finish(report);
  }

 private:
  const std::vector<Member> members_ = members_of(exports::Family::OnlineQuery);
  LineOptions line_options_;
  std::string from_text_ = "01";
  std::string to_text_ = "FF";
};

}  // namespace

void add_scan_command(CLI::App& app, CommandSet& commands) {
  add_command<ScanCommand>(app, commands, "scan",
                           "Run the on-line query over a range of addresses and list who answered");
}

}  // namespace tarvex::tool
