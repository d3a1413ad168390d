// `tarvex get`: a command frame to one terminal and a checked reply of a
// length the host knows, through any member of the request/reply family.
#include "exchange/request_reply.h"
#include "tools/exit_status.h"
#include "tools/line_options.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;

class GetCommand final : public Command {
 public:
  explicit GetCommand(CLI::App& cli)
      : line_options_(cli, exports::Family::RequestReply, "Which entry point runs the exchange:",
                      "Drain and per-byte limit in ms",
                      "(default: the limit getdata chooses for the command code)") {
    cli.add_option("FRAME", frame_text_,
                   "Command frame in hex without its checksum: address byte, command code, "
                   "parameters (e.g. 05C2, or \"05 C1 10 04\")")
        ->required()
        ->type_name("HEX");
    cli.add_option("LENGTH", length_text_, "Reply bytes expected, not counting the checksum (decimal)")
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
    if (legacy_ && member.entry->legacy_call == nullptr) {
      throw UsageError("--legacy: the legacy build has getdata only; drop --member " + line_options_.member_text());
    }
    const std::uint32_t limit = line_options_.limit(exchange::getdata_limit(frame.size() > 1 ? frame[1] : 0));
    invocation.note_if_no_terminal(frame[0]);

    const auto n = static_cast<std::int32_t>(frame.size());
    frame.resize(std::max<std::size_t>(frame.size() + 1, 2));  // room for the checksum
    Bytes reply(static_cast<std::size_t>(length) + 1);
    const Result result = line_options_.open(invocation, limit).run(
        member, {.n = n, .frame = frame.data(), .reply_length = length, .reply = reply.data()}, legacy_);
    frame.resize(static_cast<std::size_t>(n) + 1);
    Report report = invocation.exchange_report(legacy_ ? "getdata (legacy build)" : member.library);
    report.add_sent("frame", frame, invocation.bytes_taken());
    // A reply that came whole is worth showing, its checksum good or not.
    if (length > 0 && (result == kOk || result == kReplyWrong)) report.add("reply", reply);
    return invocation.finish(report, result);
  }

 private:
  LineOptions line_options_;
  std::string frame_text_;
  std::string length_text_;
  bool legacy_ = false;
};

}  // namespace

void add_get_command(CLI::App& app, CommandSet& commands) {
  add_command<GetCommand>(app, commands, "get", "Send a command frame to a terminal and read its checked reply");
}

}  // namespace tarvex::tool
