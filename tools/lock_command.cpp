// `tarvex lock`: converts three-byte lock codes between their plain, key and
// card forms, touching no port.
#include <array>

#include "tools/exit_status.h"
#include "tools/member_choice.h"
#include "tools/tool_commands.h"
#include "transform/lock_transforms.h"

namespace tarvex::tool {
namespace {

using Transform = Result (*)(std::int32_t, const std::uint8_t*, std::uint8_t*);

struct LockKind {
  MemberName name;
  Transform transform;
  std::size_t bytes;  // 3: one code; 6: two codes
};

constexpr std::array<LockKind, 5> kKinds{{
    {{"keylock", "keylock", "plain code to key form, one code (3 bytes)"}, transform::keylock, 3},
    {{"cardlock", "cardLock", "plain code to card form, one code (3 bytes)"}, transform::cardLock, 3},
    {{"faka-485", "faka_485", "key form to card form, two codes (6 bytes)"}, transform::faka_485, 6},
    {{"faka-4852", "faka_4852", "key form back to the plain code, two codes (6 bytes)"}, transform::faka_4852, 6},
    {{"faka-unlock", "fakaUnlock", "card form to key form, two codes (6 bytes)"}, transform::fakaUnlock, 6},
}};

// "12 34 56 -- -- --": the output bytes the transform wrote. A rejected code
// is not written; running the pure transform over two differently filled
// buffers tells exactly which bytes it wrote.
std::string written(const LockKind& kind, const Bytes& input) {
  Bytes low(kind.bytes, 0x00);
  Bytes high(kind.bytes, 0xFF);
  kind.transform(0, input.data(), low.data());
  kind.transform(0, input.data(), high.data());
  std::string text;
  for (std::size_t i = 0; i < kind.bytes; ++i) {
    text += (i == 0 ? "" : " ") + (low[i] == high[i] ? hex_byte(low[i]) : std::string("--"));
  }
  return text;
}

class LockCommand final : public Command {
 public:
  explicit LockCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The conversion:" + member_help(kKinds))
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
    const LockKind& kind = choose_member(kind_text_, kKinds);
    const Bytes input = parse_hex(codes_text_, "CODES", 64);
    if (input.size() != kind.bytes) {
      throw UsageError("CODES: " + std::string(kind.name.library) + " takes " +
                       std::to_string(kind.bytes) + " bytes (" + (kind.bytes == 3 ? "one code" : "two codes") +
                       "); you gave " + std::to_string(input.size()));
    }
    Bytes output(kind.bytes, 0x00);
    const Result result = kind.transform(0, input.data(), output.data());
    Report report{.command = "lock"};
    report.add("kind", "conversion", std::string(kind.name.library))
        .add("input", "input", input)
        .add("output", "output", written(kind, input));
    report.result = result;
    return invocation.finish(report);
  }

 private:
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
