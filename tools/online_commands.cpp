// `tarvex online`: is the terminal at an address on line, and its identity
// record; `tarvex scan`: the same query over a range of addresses, and a
// table of the terminals that answered.
#include <array>
#include <optional>

#include "exchange/online_query.h"
#include "tools/exit_status.h"
#include "tools/members.h"
#include "tools/command.h"

namespace tarvex::tool {
namespace {

using IdentityRecord = std::array<std::uint8_t, exchange::kIdentityRecordSize>;

struct OnlineAnswer {
  Result result;
  std::optional<IdentityRecord> identity;  // filled only when the echo matched
};

OnlineAnswer query_online(const Member& member, const MemberLine& line, std::uint8_t address) {
  // The record's first byte is the echoed address once it is filled; start
  // it with anything else to tell a filled record from an untouched one.
  IdentityRecord record{};
  record[0] = static_cast<std::uint8_t>(~address);
  const Result result = line.run(member, {.address = address, .record = record.data()});
  if (result == kOk && record[0] == address) return {result, record};
  return {result, std::nullopt};
}

Value identity_value(const OnlineAnswer& answer, std::string_view otherwise) {
  if (!answer.identity) return std::string(otherwise);
  return Bytes(answer.identity->begin(), answer.identity->end());
}

class OnlineCommand final : public Command {
 public:
  explicit OnlineCommand(CLI::App& cli)
      : line_options_(cli, exports::Family::OnlineQuery, "Which entry point runs the query:") {
    cli.add_option("ADDRESS", address_text_, "Bus address of the terminal, in hex (e.g. 05)")
        ->required()
        ->type_name("HEX");
    cli.footer(
        "Phase 1 sends command A0 to the address and reads 7 bytes; phase 2 sends B4 to\n"
        "address 00 with two of them and reads 5 bytes that echo the address. The identity\n"
        "record (7 bytes) is filled only when the echo matches. To try every address: scan.");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member();
    const std::uint8_t address = parse_byte(address_text_, "ADDRESS");
    invocation.note_if_no_terminal(address);
    const OnlineAnswer answer = query_online(member, line_options_.open(invocation), address);
    Report report = invocation.exchange_report(member.name);
    report.add("address", hex_byte(address));
    if (answer.identity || answer.result == kOk) {
      report.add("identity", identity_value(answer, "(the echo named another address; not filled)"));
    }
    return invocation.finish(report, answer.result);
  }

 private:
  LineOptions line_options_;
  std::string address_text_;
};

class ScanCommand final : public Command {
 public:
  explicit ScanCommand(CLI::App& cli)
      : line_options_(cli, exports::Family::OnlineQuery, "Which entry point runs each query:") {
    cli.add_option("FROM", from_text_, "First address, in hex (default 01)")->type_name("HEX");
    cli.add_option("TO", to_text_, "Last address, in hex (default FF)")->type_name("HEX");
    cli.footer(
        "Lists every address where something answered, with the result of its query and\n"
        "the identity record. Exit status 0 when a terminal answered in full; otherwise the\n"
        "result of the first address that answered at all, or 3 when none did; 2 at once\n"
        "when nothing can go out (the port does not open, say). A progress line is drawn\n"
        "on standard error when it is a terminal.");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member();
    const std::uint8_t from = parse_byte(from_text_, "FROM");
    const std::uint8_t to = parse_byte(to_text_, "TO");
    if (from > to) throw UsageError("FROM " + hex_byte(from) + " is above TO " + hex_byte(to) + "; swap them");
    Table table{"terminals", {"address", "result", "meaning", "identity"}, {"address", "result", "", "identity"}};
    std::optional<Result> first_answer;
    Console& console = invocation.console();
    {
      // One held port, when the member runs on one, for the whole scan.
      const MemberLine line = line_options_.open(invocation);
      for (unsigned a = from; a <= to; ++a) {
        const auto address = static_cast<std::uint8_t>(a);
        if (console.err_is_terminal) {
          console.err << "\rscan: " << hex_byte(address) << " of " << hex_byte(from) << "-" << hex_byte(to)
                      << ", " << table.rows.size() << " answered" << std::flush;
        }
        const OnlineAnswer answer = query_online(member, line, address);
        if (answer.result == kReplyIncomplete) continue;  // nobody there
        // Nothing went out, or the port did not open: no address can answer
        // on such a line, and the scan says why at once.
        if (answer.result == kFrameNotSent) {
          first_answer = kFrameNotSent;
          break;
        }
        table.rows.push_back({hex_byte(address), std::int64_t{answer.result}, result_meaning(answer.result),
                              identity_value(answer, "-")});
        if (answer.identity || !first_answer) first_answer = answer.result;
      }
    }
    if (console.err_is_terminal) console.err << "\r\033[K" << std::flush;

    Report report = invocation.exchange_report(member.name);
    report.add("range", "addresses", hex_byte(from) + "-" + hex_byte(to))
        .add("answered", std::int64_t(table.rows.size()));
    if (!table.rows.empty()) report.table = std::move(table);
    return invocation.finish(report, first_answer.value_or(kReplyIncomplete));
  }

 private:
  LineOptions line_options_;
  std::string from_text_ = "01";
  std::string to_text_ = "FF";
};

}  // namespace

void add_online_commands(CLI::App& app, CommandSet& commands) {
  add_command<OnlineCommand>(app, commands, "online",
                             "Ask whether the terminal at an address is on line and collect its identity record");
  add_command<ScanCommand>(app, commands, "scan",
                           "Run the on-line query over a range of addresses and list who answered");
}

}  // namespace tarvex::tool
