// `tarvex online`: is the terminal at an address on line, and its identity
// record.
#include <optional>

#include "tools/exit_status.h"
#include "tools/held_port_scope.h"
#include "tools/online_query.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

class OnlineCommand final : public Command {
 public:
  explicit OnlineCommand(CLI::App& cli) {
    cli.add_option("ADDRESS", address_text_, "Bus address of the terminal, in hex (e.g. 05)")->required();
    cli.add_option("--member", member_text_, "Which entry point runs the query:" + member_help(kOnlineMembers))
        ->default_str("plain");
    cli.add_option("--baud", baud_text_, "Baud rate of the held port for handle (default 9600)");
    cli.footer(
        "Phase 1 sends command A0 to the address and reads 7 bytes; phase 2 sends B4 to\n"
        "address 00 with two of them and reads 5 bytes that echo the address. The identity\n"
        "record (7 bytes) is filled only when the echo matches. To try every address: scan.");
  }

  int run(Invocation& invocation) override {
    const auto member = static_cast<OnlineMember>(choose_member(member_text_, kOnlineMembers));
    const std::uint8_t address = parse_byte(address_text_, "ADDRESS");
    if (baud_text_ && member != OnlineMember::Handle) {
      throw UsageError("--baud: onNet runs at 9600 baud; choose --member handle to set the rate");
    }
    const std::uint32_t baud = baud_text_ ? parse_count(*baud_text_, "--baud", 4000000) : 9600;
    invocation.require_terminal(address, "ADDRESS");
    LineSession& line = invocation.line();
    line::Platform& os = line.platform();
    OnlineAnswer answer{kOk, std::nullopt};
    if (member == OnlineMember::Handle) {
      const HeldPortScope held(os, line.port_name().c_str(), baud);
      answer = query_online(os, member, line.port_name().c_str(), held.handle(), address);
    } else {
      answer = query_online(os, member, line.port_name().c_str(), line::kInvalidHandle, address);
    }
    Report report{.command = "online"};
    report.add("member", "member", std::string(kOnlineMembers[static_cast<std::size_t>(member)].library))
        .add("port", "port", line.port_name())
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
  std::string address_text_;
  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
};

}  // namespace

void add_online_command(CLI::App& app, CommandSet& commands) {
  add_command<OnlineCommand>(app, commands, "online",
                             "Ask whether the terminal at an address is on line and collect its identity record");
}

}  // namespace tarvex::tool
