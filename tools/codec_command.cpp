// `tarvex codec`: the small codecs abcd, change and ascc, touching no port.
#include <array>
#include <optional>

#include "tools/exit_status.h"
#include "tools/member_choice.h"
#include "tools/tool_commands.h"
#include "transform/small_codecs.h"

namespace tarvex::tool {
namespace {

enum class Codec { Abcd, Change, Ascc };

constexpr std::array<MemberName, 3> kCodecs{{
    {"abcd", "abcd", "8 characters (as a rule decimal digits) to an 8-character hex code, by --mode"},
    {"change", "change", "mixes 6 bytes (hex) into 6"},
    {"ascc", "ascc", "copies 3 bytes (hex)"},
}};

constexpr std::array<std::size_t, 3> kInputBytes{8, 6, 3};

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class CodecCommand final : public Command {
 public:
  explicit CodecCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The codec:" + member_help(kCodecs))->required();
    cli.add_option("INPUT", input_text_,
                   "abcd: eight characters (e.g. 20240517), or 8 bytes in hex with --hex; "
                   "change: 6 bytes in hex; ascc: 3 bytes in hex")
        ->required();
    cli.add_option("--mode", mode_text_, "abcd's mixing: 0, 1, or any other number (default 0)");
    cli.add_flag("--hex", hex_input_, "abcd: INPUT is 8 bytes in hex instead of 8 characters");
    cli.footer(
        "Touches no port; the result is always 0. Examples:\n"
        "  tarvex codec abcd 20240517 --mode 1     (eight hex characters out)\n"
        "  tarvex codec change 010203040506");
  }

  int run(Invocation& invocation) override {
    const std::size_t chosen = choose_member(kind_text_, kCodecs);
    const auto codec = static_cast<Codec>(chosen);
    if (codec != Codec::Abcd && (mode_text_ || hex_input_)) {
      throw UsageError(std::string(mode_text_ ? "--mode" : "--hex") + " belongs to abcd only");
    }
    const bool text_input = codec == Codec::Abcd && !hex_input_;
    const Bytes input = text_input ? Bytes(input_text_.begin(), input_text_.end())
                                   : parse_hex(input_text_, "INPUT", 64);
    const std::size_t size = kInputBytes[chosen];
    if (input.size() != size) {
      throw UsageError("INPUT: " + std::string(kCodecs[chosen].library) + " takes " + std::to_string(size) +
                       (text_input ? " characters" : " bytes") + "; you gave " + std::to_string(input.size()));
    }
    const std::int32_t mode = mode_text_ ? parse_signed(*mode_text_, "--mode") : 0;
    Bytes output(size, 0x00);
    Result result = kOk;
    switch (codec) {
      case Codec::Abcd: result = transform::abcd(input.data(), output.data(), mode); break;
      case Codec::Change: result = transform::change(input.data(), output.data()); break;
      case Codec::Ascc: result = transform::ascc(input.data(), output.data()); break;
    }
    Report report{.command = "codec"};
    report.add("kind", "codec", std::string(kCodecs[chosen].library));
    if (codec == Codec::Abcd) {
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
  add_command<CodecCommand>(app, commands, "codec", "Run the small codecs abcd, change and ascc (no port)");
}

}  // namespace tarvex::tool
