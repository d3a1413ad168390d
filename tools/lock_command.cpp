// `tarvex lock`: converts three-byte lock codes between their plain, key and
// card forms, touching no port.
#include "tools/exit_status.h"
#include "tools/family_members.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

// keylock and cardLock convert one code (3 bytes), the others two at once.
std::size_t bytes_of(const Member& kind) {
  return kind.name.library == "keylock" || kind.name.library == "cardLock" ? 3 : 6;
}

Result convert(const Member& kind, const Bytes& input, Bytes& output) {
  return kind.run(nullptr, {.ignored = 0, .in = input.data(), .out = output.data()});
}

// "12 34 56 -- -- --": the output bytes the transform wrote. A rejected code
// is not written; running the pure transform over two differently filled
// buffers tells exactly which bytes it wrote.
std::string written(const Member& kind, const Bytes& input) {
  Bytes low(bytes_of(kind), 0x00);
  Bytes high(bytes_of(kind), 0xFF);
  convert(kind, input, low);
  convert(kind, input, high);
  std::string text;
  for (std::size_t i = 0; i < low.size(); ++i) {
    text += (i == 0 ? "" : " ") + (low[i] == high[i] ? hex_byte(low[i]) : std::string("--"));
  }
  return text;
}

class LockCommand final : public Command {
 public:
  explicit LockCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The conversion:" + member_help(kinds_))
        ->required()
        ->type_name("NAME");
    cli.add_option("CODES", codes_text_, "The code(s) in hex: 3 bytes, or 6 for two codes (e.g. 123456)")
        ->required()
        ->type_name("HEX");
    cli.footer(
        "Result 0 when every code was converted, 1 when one was rejected; the output shows\n"
        "-- for bytes left unwritten. Example: tarvex lock keylock 123456");
  }

  int run(Invocation& invocation) override {
    const Member& kind = choose_member(kind_text_, kinds_);
    const Bytes input = parse_hex(codes_text_, "CODES", 64);
    const std::size_t bytes = bytes_of(kind);
    if (input.size() != bytes) {
      throw UsageError("CODES: " + std::string(kind.name.library) + " takes " + std::to_string(bytes) +
                       " bytes (" + (bytes == 3 ? "one code" : "two codes") + "); you gave " +
                       std::to_string(input.size()));
    }
    Bytes output(bytes, 0x00);
    const Result result = convert(kind, input, output);
    Report report{.command = "lock"};
    report.add("kind", "conversion", std::string(kind.name.library))
        .add("input", "input", input)
        .add("output", "output", written(kind, input));
    report.result = result;
    return invocation.finish(report);
  }

 private:
  const std::vector<Member> kinds_ = members_of(exports::Family::LockTransform);
  std::string kind_text_;
  std::string codes_text_;
};

}  // namespace

void add_lock_command(CLI::App& app, CommandSet& commands) {
  add_command<LockCommand>(app, commands, "lock",
                           "Convert lock codes between plain, key and card forms (no port)",
                           GlobalUse{.line = false, .without_line = "touches no port"});
}

}  // namespace tarvex::tool
