// `tarvex scan`: the on-line query over a range of addresses, and a table of
// the terminals that answered.
#include <optional>

#include "tools/exit_status.h"
#include "tools/held_port_scope.h"
#include "tools/online_query.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

class ScanCommand final : public Command {
 public:
  explicit ScanCommand(CLI::App& cli) {
    cli.add_option("FROM", from_text_, "First address, in hex (default 01)");
    cli.add_option("TO", to_text_, "Last address, in hex (default FF)");
    cli.add_option("--member", member_text_, "Which entry point runs each query:" + member_help(kOnlineMembers))
        ->default_str("plain");
    cli.add_option("--baud", baud_text_, "Baud rate of the held port for handle (default 9600)");
    cli.footer(
        "Lists every address where something answered, with the result of its query and\n"
        "the identity record. Exit status 0 when a terminal answered in full; otherwise the\n"
        "result of the first address that answered at all, or 3 when none did. A progress\n"
        "line is drawn on standard error when it is a terminal.");
  }

  int run(Invocation& invocation) override {
    const auto member = static_cast<OnlineMember>(choose_member(member_text_, kOnlineMembers));
    const std::uint8_t from = parse_byte(from_text_, "FROM");
    const std::uint8_t to = parse_byte(to_text_, "TO");
    if (from > to) throw UsageError("FROM " + hex_byte(from) + " is above TO " + hex_byte(to) + "; swap them");
    if (baud_text_ && member != OnlineMember::Handle) {
      throw UsageError("--baud: onNet runs at 9600 baud; choose --member handle to set the rate");
    }
    const std::uint32_t baud = baud_text_ ? parse_count(*baud_text_, "--baud", 4000000) : 9600;
    LineSession& line = invocation.line();
    line::Platform& os = line.platform();
    const char* port = line.port_name().c_str();
    std::optional<HeldPortScope> held;
    if (member == OnlineMember::Handle) held.emplace(os, port, baud);

    Table table{.key = "terminals", .keys = {"address", "result", "identity"},
                .labels = {"address", "result", "identity"}};
    std::optional<Result> first_answer;
    Console& console = invocation.console();
    for (unsigned a = from; a <= to; ++a) {
      const auto address = static_cast<std::uint8_t>(a);
      if (console.err_is_terminal) {
        console.err << "\rscan: " << hex_byte(address) << " of " << hex_byte(from) << "-" << hex_byte(to) << ", "
                    << table.rows.size() << " answered" << std::flush;
      }
      const OnlineAnswer answer =
          query_online(os, member, port, held ? held->handle() : line::kInvalidHandle, address);
      if (answer.result == kReplyIncomplete) continue;  // nobody there
      table.rows.push_back({hex_byte(address), std::int64_t{answer.result},
                            answer.identity ? Value(Bytes(answer.identity->begin(), answer.identity->end()))
                                            : Value(std::string("-"))});
      if (answer.identity || !first_answer) first_answer = answer.result;
    }
    if (console.err_is_terminal) console.err << "\r\033[K" << std::flush;
    held.reset();

    Report report{.command = "scan"};
    report.add("member", "member", std::string(kOnlineMembers[static_cast<std::size_t>(member)].library))
        .add("port", "port", line.port_name())
        .add("range", "addresses", hex_byte(from) + "-" + hex_byte(to))
        .add("answered", "answered", std::int64_t(table.rows.size()));
    if (!table.rows.empty()) report.table = std::move(table);
    report.result = first_answer.value_or(kReplyIncomplete);
    return invocation.finish(report);
  }

 private:
  std::string from_text_ = "01";
  std::string to_text_ = "FF";
  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
};

}  // namespace

void add_scan_command(CLI::App& app, CommandSet& commands) {
  add_command<ScanCommand>(app, commands, "scan",
                           "Run the on-line query over a range of addresses and list who answered");
}

}  // namespace tarvex::tool
