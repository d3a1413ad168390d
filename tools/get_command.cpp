// `tarvex get`: a command frame to one terminal and a checked reply of a
// length the host knows, through any member of the request/reply family.
#include <array>
#include <optional>

#include "exchange/request_reply.h"
#include "legacy/legacy_exchanges.h"
#include "tools/exit_status.h"
#include "tools/held_port_scope.h"
#include "tools/member_choice.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;

enum class Member { Plain, N, Dx, Held, Handle };

constexpr std::array<MemberName, 5> kMembers{{
    {"plain", "getdata", "address byte under MARK, the rest under SPACE, 9600 baud, limit by command code"},
    {"n", "nGetData", "as plain, at --baud and with the --limit you give"},
    {"dx", "dxGetdata", "the whole frame under MARK, reply read under MARK, no acknowledgement"},
    {"held", "Nget", "on a held port (com_init/com_exit around it), no line setting of its own"},
    {"handle", "HANDLE_GetData", "on a held port, MARK then SPACE at the port's baud, with --limit"},
}};

class GetCommand final : public Command {
 public:
  explicit GetCommand(CLI::App& cli) {
    cli.add_option("FRAME", frame_text_,
                   "Command frame in hex without its checksum: address byte, command code, "
                   "parameters (e.g. 05C2, or \"05 C1 10 04\")")
        ->required();
    cli.add_option("LENGTH", length_text_, "Reply bytes expected, not counting the checksum (decimal)")
        ->required();
    cli.add_option("--member", member_text_, "Which entry point runs the exchange:" + member_help(kMembers))
        ->default_str("plain");
    cli.add_option("--baud", baud_text_, "Baud rate for n, held and handle (default 9600)");
    cli.add_option("--limit", limit_text_,
                   "Drain and per-byte limit in ms for n and handle (default: the limit getdata "
                   "chooses for the command code)");
    cli.add_flag("--legacy", legacy_,
                 "Run getdata with the legacy build's profile: re-open instead of busy waits, "
                 "its own limits, every good reply acknowledged");
    cli.footer(
        "The library appends the checksum, sends the frame, waits for the line to drain and\n"
        "reads LENGTH bytes and their checksum. Example: tarvex --trace get 05C2 8");
  }

  int run(Invocation& invocation) override {
    const std::size_t chosen = choose_member(member_text_, kMembers);
    const auto member = static_cast<Member>(chosen);
    const std::string library(kMembers[chosen].library);
    Bytes frame = parse_frame(frame_text_, kMaxBytes);
    const auto length = static_cast<std::int32_t>(parse_count(length_text_, "LENGTH", kMaxBytes));
    const bool takes_baud = member == Member::N || member == Member::Held || member == Member::Handle;
    const bool takes_limit = member == Member::N || member == Member::Handle;
    if (baud_text_ && !takes_baud) {
      throw UsageError("--baud: " + library +
                       " runs at 9600 baud; choose --member n, held or handle to set the rate");
    }
    if (limit_text_ && !takes_limit) {
      throw UsageError("--limit: " + library +
                       " has limits of its own; choose --member n or handle to set one");
    }
    if (legacy_ && member != Member::Plain) {
      throw UsageError("--legacy: the legacy build has getdata only; drop --member " + member_text_);
    }
    const std::uint32_t baud = baud_text_ ? parse_count(*baud_text_, "--baud", 4000000) : 9600;
    const std::uint32_t limit = limit_text_ ? parse_count(*limit_text_, "--limit", 600000)
                                            : exchange::getdata_limit(frame.size() > 1 ? frame[1] : 0);
    invocation.require_terminal(frame[0], "FRAME");

    const auto n = static_cast<std::int32_t>(frame.size());
    frame.resize(std::max<std::size_t>(frame.size() + 1, 2));  // room for the checksum
    Bytes reply(static_cast<std::size_t>(length) + 1);
    LineSession& line = invocation.line();
    line::Platform& os = line.platform();
    const char* port = line.port_name().c_str();
    Result result = kOk;
    switch (member) {
      case Member::Plain:
        result = legacy_ ? legacy::getdata(os, n, frame.data(), length, reply.data(), port)
                         : exchange::getdata(os, n, frame.data(), length, reply.data(), port);
        break;
      case Member::N:
        result = exchange::nGetData(os, n, frame.data(), length, reply.data(), port, baud, limit);
        break;
      case Member::Dx: result = exchange::dxGetdata(os, n, frame.data(), length, reply.data(), port); break;
      case Member::Held: {
        const HeldPortScope held(os, port, baud);
        result = exchange::Nget(os, n, frame.data(), length, reply.data(), held.handle());
        break;
      }
      case Member::Handle: {
        const HeldPortScope held(os, port, baud);
        result = exchange::HANDLE_GetData(os, held.handle(), n, frame.data(), length, reply.data(), limit);
        break;
      }
    }
    frame.resize(static_cast<std::size_t>(n) + 1);
    Report report{.command = "get"};
    report.add("member", "member", legacy_ ? "getdata (legacy build)" : library)
        .add("port", "port", line.port_name())
        .add("frame", "frame sent", frame);
    // A reply that came whole is worth showing, its checksum good or not.
    if (length > 0 && (result == kOk || result == kReplyWrong)) report.add("reply", "reply", reply);
    report.result = result;
    return invocation.finish(report);
  }

 private:
  std::string frame_text_;
  std::string length_text_;
  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
  std::optional<std::string> limit_text_;
  bool legacy_ = false;
};

}  // namespace

void add_get_command(CLI::App& app, CommandSet& commands) {
  add_command<GetCommand>(app, commands, "get",
                          "Send a command frame to a terminal and read its checked reply");
}

}  // namespace tarvex::tool
