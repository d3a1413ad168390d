// `tarvex send`: a command frame and a data block to one terminal, and its
// acknowledgement, through any member of the data-block family.
#include "exchange/block_profile.h"
#include "exchange/data_block.h"
#include "tools/exit_status.h"
#include "tools/line_options.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;
constexpr std::uint32_t kDefaultLimitMs = 2000;

class SendCommand final : public Command {
 public:
  explicit SendCommand(CLI::App& cli)
      : line_options_(cli, exports::Family::DataBlock, "Which entry point runs the exchange:",
                      "Drain and acknowledgement limit in ms", "(default 2000)") {
    cli.add_option("FRAME", frame_text_,
                   "Command frame in hex without its checksum: address byte, command code, parameters")
        ->required()
        ->type_name("HEX");
    cli.add_option("BLOCK", block_text_, "Data block in hex without its checksum (\"\" for none)")
        ->required()
        ->type_name("HEX");
    cli.add_flag("--legacy", legacy_,
                 "Run senddata with the legacy build's profile: re-open instead of busy waits, "
                 "longer limits, the acknowledgement awaited for every command code");
    cli.footer(
        "The library appends a checksum to the frame and one to the block, sends both and\n"
        "awaits the acknowledgement 02 4F (not for every command code and member).\n"
        "Command C5 always sends a 10-byte block. On the demo terminals, B1 writes memory:\n"
        "  tarvex --trace send \"05 B1 10 02\" \"AA BB\"   then   tarvex get \"05 C1 10 02\" 2");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member();
    Bytes frame = parse_frame(frame_text_, kMaxBytes);
    Bytes block = parse_hex(block_text_, "BLOCK", kMaxBytes);
    if (legacy_ && member.entry->legacy_call == nullptr) {
      throw UsageError("--legacy: the legacy build has senddata only; drop --member " + line_options_.member_text());
    }
    const auto n = static_cast<std::int32_t>(frame.size());
    const auto m = static_cast<std::int32_t>(block.size());
    // Where the member's profile fixes the block length by command code, the
    // block buffer has to hold exactly that many bytes.
    if (n > 1 && exchange::member_profile(member.library).value().fixed_block_for_c5) {
      const std::int32_t sent = exchange::fixed_block_length(frame[1], m);
      if (sent != m) {
        throw UsageError("BLOCK: command " + hex_byte(frame[1]) + " sends a block of exactly " + std::to_string(sent) +
                         " bytes; give " + std::to_string(sent) + " (you gave " + std::to_string(m) + ")");
      }
    }
    invocation.note_if_no_terminal(frame[0]);

    frame.resize(std::max<std::size_t>(frame.size() + 1, 2));
    block.resize(block.size() + 1);
    const Result result = line_options_.open(invocation, line_options_.limit(kDefaultLimitMs))
                              .run(member, {.n = n, .frame = frame.data(), .m = m, .block = block.data()}, legacy_);
    frame.resize(static_cast<std::size_t>(n) + 1);
    if (m == 0) block.clear();  // no block byte goes out
    // The frame's bytes go out first, then the block's.
    const std::size_t taken = invocation.bytes_taken();
    const std::size_t frame_taken = std::min(taken, frame.size());
    Report report = invocation.exchange_report(legacy_ ? "senddata (legacy build)" : member.library);
    report.add_sent("frame", frame, frame_taken).add_sent("block", block, taken - frame_taken);
    return invocation.finish(report, result);
  }

 private:
  LineOptions line_options_;
  std::string frame_text_;
  std::string block_text_;
  bool legacy_ = false;
};

}  // namespace

void add_send_command(CLI::App& app, CommandSet& commands) {
  add_command<SendCommand>(app, commands, "send",
                           "Send a command frame and a data block to a terminal and await its acknowledgement");
}

}  // namespace tarvex::tool
