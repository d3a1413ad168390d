// `tarvex codec`: the small codecs abcd, change and ascc, touching no port.
#include <optional>

#include "tools/exit_status.h"
#include "tools/family_members.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

// The bytes each codec reads and writes.
std::size_t bytes_of(const Member& codec) {
  return codec.name.library == "abcd" ? 8 : codec.name.library == "change" ? 6 : 3;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class CodecCommand final : public Command {
 public:
  explicit CodecCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The codec:" + member_help(codecs_))
        ->required()
        ->type_name("NAME");
    cli.add_option("INPUT", input_text_,
                   "abcd: eight characters (e.g. 20240517), or 8 bytes in hex with --hex; "
                   "change: 6 bytes in hex; ascc: 3 bytes in hex")
        ->required();
    cli.add_option("--mode", mode_text_, "abcd's mixing: 0, 1, or any other number (default 0)")
        ->type_name("INT");
    cli.add_flag("--hex", hex_input_, "abcd: INPUT is 8 bytes in hex instead of 8 characters");
    cli.footer(
        "Touches no port; the result is always 0. Examples:\n"
        "  tarvex codec abcd 20240517 --mode 1     (eight hex characters out)\n"
        "  tarvex codec change 010203040506");
  }

  int run(Invocation& invocation) override {
    const Member& codec = choose_member(kind_text_, codecs_);
    const bool takes_mode_and_text = codec.entry->takes("mode");  // --mode, and INPUT as characters unless --hex
    if (!takes_mode_and_text && (mode_text_ || hex_input_)) {
      throw UsageError(std::string(mode_text_ ? "--mode" : "--hex") + " belongs to abcd only");
    }
    const bool text_input = takes_mode_and_text && !hex_input_;
    const Bytes input = text_input ? Bytes(input_text_.begin(), input_text_.end())
                                   : parse_hex(input_text_, "INPUT", 64);
    if (input.size() != bytes_of(codec)) {
      throw UsageError("INPUT: " + std::string(codec.name.library) + " takes " + std::to_string(bytes_of(codec)) +
                       (text_input ? " characters" : " bytes") + "; you gave " + std::to_string(input.size()));
    }
    const std::int32_t mode = mode_text_ ? parse_signed(*mode_text_, "--mode") : 0;
    Bytes output(bytes_of(codec), 0x00);
    const Result result = codec.run(nullptr, {.in = input.data(), .out = output.data(), .mode = mode});
    Report report{.command = "codec"};
    report.add("kind", "codec", std::string(codec.name.library));
    if (takes_mode_and_text) {
      report.add("mode", "mode", std::int64_t{mode});
      if (text_input) report.add("input_text", "input text", as_text(input));
      report.add("input", "input", input).add("output_text", "output text", as_text(output));
    } else {
      report.add("input", "input", input);
    }
    report.add("output", "output", output);
    report.result = result;
    return invocation.finish(report);
  }

 private:
  const std::vector<Member> codecs_ = members_of(exports::Family::SmallCodec);
  std::string kind_text_;
  std::string input_text_;
  std::optional<std::string> mode_text_;
  bool hex_input_ = false;
};

}  // namespace

void add_codec_command(CLI::App& app, CommandSet& commands) {
  add_command<CodecCommand>(app, commands, "codec",
                            "Run the small codecs abcd, change and ascc (no port)",
                            GlobalUse{.line = false, .without_line = "touches no port"});
}

}  // namespace tarvex::tool
