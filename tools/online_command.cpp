// `tarvex online`: is the terminal at an address on line, and its identity
// record.
#include "tools/exit_status.h"
#include "tools/line_options.h"
#include "tools/online_query.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

class OnlineCommand final : public Command {
 public:
  explicit OnlineCommand(CLI::App& cli)
      : line_options_(cli, members_, "Which entry point runs the query:") {
    cli.add_option("ADDRESS", address_text_, "Bus address of the terminal, in hex (e.g. 05)")
        ->required()
        ->type_name("HEX");
    cli.footer(
        "Phase 1 sends command A0 to the address and reads 7 bytes; phase 2 sends B4 to\n"
        "address 00 with two of them and reads 5 bytes that echo the address. The identity\n"
        "record (7 bytes) is filled only when the echo matches. To try every address: scan.");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member(members_);
    const std::uint8_t address = parse_byte(address_text_, "ADDRESS");
    invocation.note_if_no_terminal(address);
    OnlineAnswer answer{kOk, std::nullopt};
    {
      const OpenLine line = line_options_.open(invocation, member.needs);
      answer = query_online(member, line.line(), address);
    }
    Report report{.command = "online"};
    report.add("member", "member", std::string(member.name.library))
        .add("port", "port", invocation.line().port_name())
        .add("address", "address", hex_byte(address));
    if (answer.identity) {
      report.add("identity", "identity", Bytes(answer.identity->begin(), answer.identity->end()));
    } else if (answer.result == kOk) {
      report.add("identity", "identity", std::string("(the echo named another address; not filled)"));
    }
    report.result = answer.result;
    return invocation.finish(report);
  }

 private:
  const std::vector<Member> members_ = members_of(exports::Family::OnlineQuery);
  LineOptions line_options_;
  std::string address_text_;
};

}  // namespace

void add_online_command(CLI::App& app, CommandSet& commands) {
  add_command<OnlineCommand>(app, commands, "online",
                             "Ask whether the terminal at an address is on line and collect its identity record");
}

}  // namespace tarvex::tool
