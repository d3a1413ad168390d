// `tarvex codec`: the small codecs abcd, change and ascc, touching no port.
#include <array>
#include <optional>

#include "tools/exit_status.h"
#include "tools/member_choice.h"
#include "tools/tool_commands.h"
#include "transform/small_codecs.h"

namespace tarvex::tool {
namespace {

// The input and output buffers; abcd's mode besides.
using CodecCall = Result (*)(const std::uint8_t*, std::uint8_t*, std::int32_t mode);

struct Codec {
  MemberName name;
  CodecCall call;
  std::size_t bytes;          // in and out
  bool takes_mode_and_text;   // --mode, and INPUT as characters unless --hex
};

constexpr std::array<Codec, 3> kCodecs{{
    {{"abcd", "abcd", "8 characters (as a rule decimal digits) to an 8-character hex code, by --mode"},
     [](const std::uint8_t* in, std::uint8_t* out, std::int32_t mode) { return transform::abcd(in, out, mode); },
     8,
     true},
    {{"change", "change", "mixes 6 bytes (hex) into 6"},
     [](const std::uint8_t* in, std::uint8_t* out, std::int32_t) { return transform::change(in, out); },
     6,
     false},
    {{"ascc", "ascc", "copies 3 bytes (hex)"},
     [](const std::uint8_t* in, std::uint8_t* out, std::int32_t) { return transform::ascc(in, out); },
     3,
     false},
}};

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class CodecCommand final : public Command {
 public:
  explicit CodecCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The codec:" + member_help(kCodecs))
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
    const Codec& codec = choose_member(kind_text_, kCodecs);
    if (!codec.takes_mode_and_text && (mode_text_ || hex_input_)) {
      throw UsageError(std::string(mode_text_ ? "--mode" : "--hex") + " belongs to abcd only");
    }
    const bool text_input = codec.takes_mode_and_text && !hex_input_;
    const Bytes input = text_input ? Bytes(input_text_.begin(), input_text_.end())
                                   : parse_hex(input_text_, "INPUT", 64);
    if (input.size() != codec.bytes) {
      throw UsageError("INPUT: " + std::string(codec.name.library) + " takes " + std::to_string(codec.bytes) +
                       (text_input ? " characters" : " bytes") + "; you gave " + std::to_string(input.size()));
    }
    const std::int32_t mode = mode_text_ ? parse_signed(*mode_text_, "--mode") : 0;
    Bytes output(codec.bytes, 0x00);
    const Result result = codec.call(input.data(), output.data(), mode);
    Report report{.command = "codec"};
    report.add("kind", "codec", std::string(codec.name.library));
    if (codec.takes_mode_and_text) {
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
