// `tarvex get`: a command frame to one terminal and a checked reply of a
// length the host knows, through any member of the request/reply family;
// `tarvex send`: a command frame and a data block to one terminal, and its
// acknowledgement, through any member of the data-block family.
#include "exchange/block_profile.h"
#include "exchange/data_block.h"
#include "exchange/request_reply.h"
#include "tools/command.h"
#include "tools/exit_status.h"
#include "tools/members.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;

// What both share: a member of the family, the frame, and --legacy, which
// runs the legacy build's own function of the one member that has one.
class FrameCommand : public Command {
 protected:
  FrameCommand(CLI::App& cli, exports::Family family, std::string_view limit_help,
               std::string_view limit_default, const std::string& frame_help)
      : line_options_(cli, family, "Which entry point runs the exchange:", limit_help,
                      limit_default) {
    cli.add_option("FRAME", frame_text_, frame_help)->required()->type_name("HEX");
  }

  void check_legacy(const Member& member) const {
    if (!legacy_ || member.legacy_call != nullptr) return;
    std::string legacy;
    for (const Member& m : line_options_.members()) {
      if (m.legacy_call != nullptr) legacy = m.name;
    }
    throw UsageError("--legacy: the legacy build has " + legacy + " only; drop --member " +
                     line_options_.member_text());
  }

  std::string member_name(const Member& member) const {
    return std::string(member.name) + (legacy_ ? " (legacy build)" : "");
  }

  LineOptions line_options_;
  std::string frame_text_;
  bool legacy_ = false;
};

// Room after the frame for the checksum the library appends; two bytes at
// least, for it reads a command code after the address byte even in a
// one-byte frame.
std::int32_t with_room(Bytes& frame) {
  const auto n = static_cast<std::int32_t>(frame.size());
  frame.resize(std::max<std::size_t>(frame.size() + 1, 2));
  return n;
}

class GetCommand final : public FrameCommand {
 public:
  explicit GetCommand(CLI::App& cli)
      : FrameCommand(cli, exports::Family::RequestReply, "Drain and per-byte limit in ms",
                     "(default: the limit getdata chooses for the command code)",
                     "Command frame in hex without its checksum: address byte, command code, "
                     "parameters (e.g. 05C2, or \"05 C1 10 04\")") {
    cli.add_option("LENGTH", length_text_,
                   "Reply bytes expected, not counting the checksum (decimal)")
        ->required()
        ->type_name("UINT");
    cli.add_flag("--legacy", legacy_,
                 "Run getdata with the legacy build's profile: re-open instead of busy waits, "
                 "its own limits, every good reply acknowledged");
    cli.footer(
        "The library appends the checksum, sends the frame, waits for the line to drain and\n"
        "reads LENGTH bytes and their checksum. Example: tarvex --trace get 05C2 8");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member();
    Bytes frame = parse_frame(frame_text_, kMaxBytes);
    const auto length = static_cast<std::int32_t>(parse_count(length_text_, "LENGTH", kMaxBytes));
    check_legacy(member);
    const std::uint32_t limit =
        line_options_.limit(exchange::getdata_limit(frame.size() > 1 ? frame[1] : 0));
    invocation.note_if_no_terminal(frame[0]);

    const std::int32_t n = with_room(frame);
    Bytes reply(static_cast<std::size_t>(length) + 1);
    const Result result =
        line_options_.open(invocation, limit)
            .run(member,
                 {.n = n, .frame = frame.data(), .reply_length = length, .reply = reply.data()},
                 legacy_);
    frame.resize(static_cast<std::size_t>(n) + 1);
    Report report = invocation.exchange_report(member_name(member));
    report.add_sent("frame", frame, invocation.bytes_taken());
    // A reply that came whole is worth showing, its checksum good or not.
    if (length > 0 && (result == kOk || result == kReplyWrong)) report.add("reply", reply);
    return invocation.finish(report, result);
  }

 private:
  std::string length_text_;
};

class SendCommand final : public FrameCommand {
 public:
  explicit SendCommand(CLI::App& cli)
      : FrameCommand(
            cli, exports::Family::DataBlock, "Drain and acknowledgement limit in ms",
            "(default 2000)",
            "Command frame in hex without its checksum: address byte, command code, parameters") {
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
    check_legacy(member);
    const auto m = static_cast<std::int32_t>(block.size());
    // Where the member's profile fixes the block length by command code, the
    // block buffer has to hold exactly that many bytes.
    if (frame.size() > 1 && exchange::member_profile(member.name).value().fixed_block_for_c5) {
      const std::int32_t sent = exchange::fixed_block_length(frame[1], m);
      if (sent != m) {
        throw UsageError("BLOCK: command " + hex_byte(frame[1]) + " sends a block of exactly " +
                         std::to_string(sent) + " bytes; give " + std::to_string(sent) +
                         " (you gave " + std::to_string(m) + ")");
      }
    }
    invocation.note_if_no_terminal(frame[0]);

    const std::int32_t n = with_room(frame);
    block.resize(block.size() + 1);
    const Result result =
        line_options_.open(invocation, line_options_.limit(2000))
            .run(member, {.n = n, .frame = frame.data(), .m = m, .block = block.data()}, legacy_);
    frame.resize(static_cast<std::size_t>(n) + 1);
    if (m == 0) block.clear();  // no block byte goes out
    // The frame's bytes go out first, then the block's.
    const std::size_t taken = invocation.bytes_taken();
    const std::size_t frame_taken = std::min(taken, frame.size());
    Report report = invocation.exchange_report(member_name(member));
    report.add_sent("frame", frame, frame_taken).add_sent("block", block, taken - frame_taken);
    return invocation.finish(report, result);
  }

 private:
  std::string block_text_;
};

}  // namespace

void add_get_command(CLI::App& app, CommandSet& commands) {
  add_command<GetCommand>(app, commands, "get",
                          "Send a command frame to a terminal and read its checked reply");
}

void add_send_command(CLI::App& app, CommandSet& commands) {
  add_command<SendCommand>(
      app, commands, "send",
      "Send a command frame and a data block to a terminal and await its acknowledgement");
}

}  // namespace tarvex::tool
