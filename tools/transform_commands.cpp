// `tarvex lock` (three-byte lock codes between their plain, key and card
// forms) and `tarvex codec` (the small codecs abcd, change and ascc): the
// transforms, which touch no port.
#include <optional>

#include "tools/exit_status.h"
#include "tools/members.h"
#include "tools/command.h"

namespace tarvex::tool {
namespace {

// The bytes each transform reads and writes, as its C signature has them.
std::size_t bytes_of(const Member& kind) {
  static constexpr std::pair<std::string_view, std::size_t> kBytes[] = {
      {"keylock", 3}, {"cardLock", 3}, {"faka_485", 6}, {"faka_4852", 6}, {"fakaUnlock", 6},
      {"abcd", 8},    {"change", 6},   {"ascc", 3}};
  for (const auto& [name, bytes] : kBytes) {
    if (kind.name == name) return bytes;
  }
  return 0;
}

Result convert(const Member& kind, const Bytes& input, Bytes& output, std::int32_t mode = 0) {
  return run_member(kind, nullptr, {.ignored = 0, .in = input.data(), .out = output.data(), .mode = mode});
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
    cli.add_option("KIND", kind_text_, "The conversion:" + member_help(kinds_))->required()->type_name("NAME");
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
      throw UsageError("CODES: " + std::string(kind.name) + " takes " + std::to_string(bytes) + " bytes (" +
                       (bytes == 3 ? "one code" : "two codes") + "); you gave " + std::to_string(input.size()));
    }
    Bytes output(bytes, 0x00);
    const Result result = convert(kind, input, output);
    Report report = invocation.report();
    report.add("kind", "conversion", std::string(kind.name)).add("input", input).add("output", written(kind, input));
    return invocation.finish(report, result);
  }

 private:
  const Members kinds_ = members_of(exports::Family::LockTransform);
  std::string kind_text_;
  std::string codes_text_;
};

class CodecCommand final : public Command {
 public:
  explicit CodecCommand(CLI::App& cli) {
    cli.add_option("KIND", kind_text_, "The codec:" + member_help(codecs_))->required()->type_name("NAME");
    cli.add_option("INPUT", input_text_,
                   "abcd: eight characters (e.g. 20240517), or 8 bytes in hex with --hex; "
                   "change: 6 bytes in hex; ascc: 3 bytes in hex")
        ->required();
    cli.add_option("--mode", mode_text_, "abcd's mixing: 0, 1, or any other number (default 0)")->type_name("INT");
    cli.add_flag("--hex", hex_input_, "abcd: INPUT is 8 bytes in hex instead of 8 characters");
    cli.footer(
        "Touches no port; the result is always 0. Examples:\n"
        "  tarvex codec abcd 20240517 --mode 1     (eight hex characters out)\n"
        "  tarvex codec change 010203040506");
  }

  int run(Invocation& invocation) override {
    const Member& codec = choose_member(kind_text_, codecs_);
    const bool takes_mode_and_text = codec.takes("mode");  // --mode, and INPUT as characters unless --hex
    if (!takes_mode_and_text && (mode_text_ || hex_input_)) {
      throw UsageError(std::string(mode_text_ ? "--mode" : "--hex") + " belongs to abcd only");
    }
    const bool text_input = takes_mode_and_text && !hex_input_;
    const Bytes input = text_input ? Bytes(input_text_.begin(), input_text_.end()) : parse_hex(input_text_, "INPUT", 64);
    if (input.size() != bytes_of(codec)) {
      throw UsageError("INPUT: " + std::string(codec.name) + " takes " + std::to_string(bytes_of(codec)) +
                       (text_input ? " characters" : " bytes") + "; you gave " + std::to_string(input.size()));
    }
    const std::int32_t mode = mode_text_ ? parse_signed(*mode_text_, "--mode") : 0;
    Bytes output(bytes_of(codec), 0x00);
    const Result result = convert(codec, input, output, mode);
    Report report = invocation.report();
    report.add("kind", "codec", std::string(codec.name));
    if (takes_mode_and_text) {
      report.add("mode", std::int64_t{mode});
      if (text_input) report.add("input_text", std::string(input.begin(), input.end()));
      report.add("input", input).add("output_text", std::string(output.begin(), output.end()));
    } else {
      report.add("input", input);
    }
    report.add("output", output);
    return invocation.finish(report, result);
  }

 private:
  const Members codecs_ = members_of(exports::Family::SmallCodec);
  std::string kind_text_;
  std::string input_text_;
  std::optional<std::string> mode_text_;
  bool hex_input_ = false;
};

}  // namespace

void add_transform_commands(CLI::App& app, CommandSet& commands) {
  constexpr GlobalUse kNoPort{.line = false, .without_line = "touches no port"};
  add_command<LockCommand>(app, commands, "lock", "Convert lock codes between plain, key and card forms (no port)",
                           kNoPort);
  add_command<CodecCommand>(app, commands, "codec", "Run the small codecs abcd, change and ascc (no port)", kNoPort);
}

}  // namespace tarvex::tool
