// `tarvex send`: a command frame and a data block to one terminal, and its
// acknowledgement, through any member of the data-block family.
#include <array>
#include <optional>

#include "exchange/data_block.h"
#include "legacy/legacy_exchanges.h"
#include "tools/exit_status.h"
#include "tools/held_port_scope.h"
#include "tools/member_choice.h"
#include "tools/tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr std::size_t kMaxBytes = 4096;
constexpr std::uint8_t kFixedBlockCode = 0xC5;
constexpr std::size_t kFixedBlockLength = 10;

enum class Member { Plain, N, Dx, Held, Handle, Uim };

constexpr std::array<MemberName, 6> kMembers{{
    {"plain", "senddata", "address byte under MARK, the rest and the block under SPACE with two stop bits"},
    {"n", "nSendData", "as plain with one stop bit, at --baud, --limit for the drain and the acknowledgement"},
    {"dx", "dxSenddata", "frame and block under MARK, acknowledgement awaited 4550 ms a byte"},
    {"held", "Nsend", "on a held port, no line setting of its own, no acknowledgement awaited"},
    {"handle", "HANDLE_SendData", "on a held port, MARK then SPACE at the port's baud, with --limit"},
    {"uim", "sendDataUIM", "as handle with the address byte under no parity (modules; the demo terminals "
                           "do not wake to it)"},
}};

class SendCommand final : public Command {
 public:
  explicit SendCommand(CLI::App& cli) {
    cli.add_option("FRAME", frame_text_,
                   "Command frame in hex without its checksum: address byte, command code, parameters")
        ->required()
        ->type_name("HEX");
    cli.add_option("BLOCK", block_text_, "Data block in hex without its checksum (\"\" for none)")
        ->required()
        ->type_name("HEX");
    cli.add_option("--member", member_text_, "Which entry point runs the exchange:" + member_help(kMembers))
        ->default_str("plain");
    cli.add_option("--baud", baud_text_, "Baud rate for n, held, handle and uim (default 9600)");
    cli.add_option("--limit", limit_text_,
                   "Drain and acknowledgement limit in ms for n, handle and uim (default 2000)");
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
    const std::size_t chosen = choose_member(member_text_, kMembers);
    const auto member = static_cast<Member>(chosen);
    const std::string library(kMembers[chosen].library);
    Bytes frame = parse_frame(frame_text_, kMaxBytes);
    Bytes block = parse_hex(block_text_, "BLOCK", kMaxBytes);
    const bool held = member == Member::Held || member == Member::Handle || member == Member::Uim;
    const bool takes_limit = member == Member::N || member == Member::Handle || member == Member::Uim;
    if (baud_text_ && !held && member != Member::N) {
      throw UsageError("--baud: " + library + " runs at 9600 baud; choose --member n, held, handle or uim");
    }
    if (limit_text_ && !takes_limit) {
      throw UsageError("--limit: " + library + " has limits of its own; choose --member n, handle or uim");
    }
    if (legacy_ && member != Member::Plain) {
      throw UsageError("--legacy: the legacy build has senddata only; drop --member " + member_text_);
    }
    const std::uint32_t baud = baud_text_ ? parse_count(*baud_text_, "--baud", 4000000) : 9600;
    const std::uint32_t limit = limit_text_ ? parse_count(*limit_text_, "--limit", 600000) : 2000;
    // Every member but Nsend sends exactly 10 block bytes for C5, whatever
    // the length given: the block buffer has to hold them.
    const bool fixed_block = frame.size() > 1 && frame[1] == kFixedBlockCode && member != Member::Held;
    if (fixed_block && block.size() != kFixedBlockLength) {
      throw UsageError("BLOCK: command C5 sends a block of exactly 10 bytes; give 10 (you gave " +
                       std::to_string(block.size()) + ")");
    }
    invocation.require_terminal(frame[0], "FRAME");

    const auto n = static_cast<std::int32_t>(frame.size());
    const auto m = static_cast<std::int32_t>(block.size());
    frame.resize(std::max<std::size_t>(frame.size() + 1, 2));
    block.resize(block.size() + 1);
    LineSession& line = invocation.line();
    line::Platform& os = line.platform();
    const char* port = line.port_name().c_str();
    Result result = kOk;
    switch (member) {
      case Member::Plain:
        result = legacy_ ? legacy::senddata(os, n, frame.data(), m, block.data(), port)
                         : exchange::senddata(os, n, frame.data(), m, block.data(), port);
        break;
      case Member::N:
        result = exchange::nSendData(os, n, frame.data(), m, block.data(), port, baud, limit);
        break;
      case Member::Dx: result = exchange::dxSenddata(os, n, frame.data(), m, block.data(), port); break;
      case Member::Held: {
        const HeldPortScope scope(os, port, baud);
        result = exchange::Nsend(os, n, frame.data(), m, block.data(), scope.handle());
        break;
      }
      case Member::Handle: {
        const HeldPortScope scope(os, port, baud);
        result = exchange::HANDLE_SendData(os, scope.handle(), n, frame.data(), m, block.data(), limit);
        break;
      }
      case Member::Uim: {
        const HeldPortScope scope(os, port, baud);
        result = exchange::sendDataUIM(os, scope.handle(), n, frame.data(), m, block.data(), limit);
        break;
      }
    }
    frame.resize(static_cast<std::size_t>(n) + 1);
    if (m == 0) block.clear();  // no block byte goes out
    Report report{.command = "send"};
    report.add("member", "member", legacy_ ? "senddata (legacy build)" : library)
        .add("port", "port", line.port_name())
        .add("frame", "frame sent", frame)
        .add("block", "block sent", block);
    report.result = result;
    return invocation.finish(report);
  }

 private:
  std::string frame_text_;
  std::string block_text_;
  std::string member_text_ = "plain";
  std::optional<std::string> baud_text_;
  std::optional<std::string> limit_text_;
  bool legacy_ = false;
};

}  // namespace

void add_send_command(CLI::App& app, CommandSet& commands) {
  add_command<SendCommand>(app, commands, "send",
                           "Send a command frame and a data block to a terminal and await its acknowledgement");
}

}  // namespace tarvex::tool
