// `tarvex get-hex` and `tarvex send-hex`: the hex-text exchanges, which take
// the frame (and block, and give the reply) as text of hex digits.
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/hex_text.h"
#include "tools/exit_status.h"
#include "tools/command.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;  // of the reply or the block

// The text handed to the library: separators dropped. Characters that are no
// hex digit are refused unless --lenient passes them on, for the library
// gives every character a digit value (1G is 0x20).
std::string library_text(const std::string& given, std::string_view what, bool lenient, std::size_t max_bytes) {
  std::string text;
  for (const char c : given) {
    if (c != ' ' && c != ':' && c != '-') text += c;
  }
  if (!lenient) parse_hex(text, what, max_bytes);
  if (text.size() % 2 != 0) {
    throw UsageError(std::string(what) + ": an odd number of characters; every byte takes two");
  }
  if (text.size() / 2 > max_bytes) {
    throw UsageError(std::string(what) + ": " + std::to_string(text.size() / 2) + " bytes is too long; at most " +
                     std::to_string(max_bytes) + " fit here");
  }
  return text;
}

// Byte `i` of the text as the library reads it.
std::uint8_t byte_of(const std::string& text, std::size_t i) {
  return exchange::byte_from_pair(text[2 * i], text[2 * i + 1], exchange::HexText::Command);
}

// What both share: the frame as text, at most `max_frame` bytes, and
// --lenient.
class HexCommand : public Command {
 public:
  HexCommand(CLI::App& cli, std::int32_t max_frame) : max_frame_(static_cast<std::size_t>(max_frame)) {
    cli.add_option("FRAME", frame_text_,
                   "Command frame as hex text, without its checksum (at most " + std::to_string(max_frame) + " bytes)")
        ->required()
        ->type_name("HEX");
    cli.add_flag("--lenient", lenient_, "Pass characters that are no hex digit on to the library (1G is 0x20)");
  }

 protected:
  std::string frame() const {
    std::string frame = library_text(frame_text_, "FRAME", lenient_, max_frame_);
    if (frame.empty()) throw UsageError("FRAME: empty; give at least the address byte and the command code");
    return frame;
  }

  std::size_t max_frame_;
  std::string frame_text_;
  bool lenient_ = false;
};

class GetHexCommand final : public HexCommand {
 public:
  explicit GetHexCommand(CLI::App& cli) : HexCommand(cli, exchange::kGetdataHexMaxCommand) {
    cli.add_option("LENGTH", length_text_, "Reply bytes expected, not counting the checksum (decimal)")
        ->required()
        ->type_name("UINT");
    cli.footer(
        "getdata_hex: the address byte under MARK, then the port is re-opened and the rest\n"
        "goes under SPACE; the reply comes back as text and is always acknowledged.");
  }

  int run(Invocation& invocation) override {
    const std::string frame = this->frame();
    const auto length = static_cast<std::int32_t>(parse_count(length_text_, "LENGTH", kMaxBytes));
    invocation.note_if_no_terminal(byte_of(frame, 0));
    std::string reply(2 * (static_cast<std::size_t>(length) + 1), '.');
    const Result result = exchange::getdata_hex(invocation.platform(), static_cast<std::int32_t>(frame.size() / 2),
                                                frame.c_str(), length, reply.data(), invocation.port_name().c_str());
    Report report = invocation.exchange_report("getdata_hex");
    report.add("frame_text", frame);
    // Characters are written as each byte is counted: what is there arrived.
    const std::string arrived = reply.substr(0, reply.find('.'));
    if (length > 0 && !arrived.empty()) report.add("reply_text", arrived);
    return invocation.finish(report, result);
  }

 private:
  std::string length_text_;
};

class SendHexCommand final : public HexCommand {
 public:
  explicit SendHexCommand(CLI::App& cli) : HexCommand(cli, exchange::kSenddataHexMaxCommand) {
    cli.add_option("BLOCK", block_text_, "Data block as hex text, without its checksum")->required()->type_name("HEX");
    cli.footer(
        "senddata_hex: the address byte under MARK, the port re-opened, the rest and the\n"
        "block under SPACE, then the acknowledgement 02 4F for every command code.");
  }

  int run(Invocation& invocation) override {
    const std::string frame = this->frame();
    const std::string block = library_text(block_text_, "BLOCK", lenient_, kMaxBytes);
    // Where the library fixes the block length by command code, it sends
    // that many block bytes; fewer are not there to send.
    const auto m = static_cast<std::int32_t>(block.size() / 2);
    const std::int32_t sent = frame.size() >= 4 ? exchange::fixed_block_length(byte_of(frame, 1), m) : m;
    if (sent > m) {
      throw UsageError("BLOCK: command " + hex_byte(byte_of(frame, 1)) + " sends a block of " + std::to_string(sent) +
                       " bytes; give at least " + std::to_string(sent) + " (you gave " + std::to_string(m) + ")");
    }
    invocation.note_if_no_terminal(byte_of(frame, 0));
    const Result result = exchange::senddata_hex(invocation.platform(), static_cast<std::int32_t>(frame.size() / 2),
                                                 frame.c_str(), m, block.c_str(), invocation.port_name().c_str());
    Report report = invocation.exchange_report("senddata_hex");
    report.add("frame_text", frame).add("block_text", block);
    return invocation.finish(report, result);
  }

 private:
  std::string block_text_;
};

}  // namespace

void add_hex_commands(CLI::App& app, CommandSet& commands) {
  add_command<GetHexCommand>(app, commands, "get-hex", "As get, with the frame and the reply as hex text (getdata_hex)");
  add_command<SendHexCommand>(app, commands, "send-hex",
                              "As send, with the frame and the block as hex text (senddata_hex)");
}

}  // namespace tarvex::tool
