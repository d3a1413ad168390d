// `tarvex blacklist`: downloads a list of barred cards, read from a file,
// to one terminal, through any member of the blacklist family.
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "exchange/blacklist_block.h"
#include "exchange/hex_text.h"
#include "line/line_clock.h"
#include "tools/card_list.h"
#include "tools/exit_status.h"
#include "tools/members.h"
#include "tools/command.h"

namespace tarvex::tool {
namespace {

// Above this many bytes on the line a download is confirmed first.
constexpr std::size_t kConfirmAbove = 1024;

std::string block_text(const exchange::BlacklistBuffer& block, std::size_t size) {
  Bytes shown(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 24)));
  std::string text = hex_text(shown);
  if (size > 24) text += " ... " + hex_byte(block[size - 1]);
  return text;
}

// The block goes out under the data phase's setting: SPACE, one stop bit.
std::string line_time(std::size_t bytes, std::uint32_t baud) {
  const double bits = line::character_bits(line::Parity::Space, line::StopBits::One);
  char text[48];
  std::snprintf(text, sizeof text, "%.1f ms at %u baud", static_cast<double>(bytes) * bits * 1000.0 / baud, baud);
  return text;
}

class BlacklistCommand final : public Command {
 public:
  explicit BlacklistCommand(CLI::App& cli)
      : line_options_(cli, exports::Family::Blacklist, "Which entry point downloads it:") {
    cli.add_option("ADDRESS", address_text_, "Bus address of the terminal, in hex (e.g. 05)")
        ->required()
        ->type_name("HEX");
    cli.add_option("FILE", file_,
                   "The card list: one card number or range a-b per line, # comments; - for stdin")
        ->required()
        ->type_name("FILE");
    cli.add_option("--command", command_text_, "s: the command code, in hex (default A5)")
        ->type_name("HEX");
    cli.add_option("--high", high_text_,
                   "s: bits 8 to 15 of the address word, sent as frame byte 2 (default 00)")
        ->type_name("HEX");
    cli.add_flag("--dry-run", dry_run_, "Show the block without sending it");
    cli.footer(
        "The list is sorted and duplicates dropped; one card goes as a 7-byte single-card\n"
        "block, more as a bitmap with one bit per card number from 1. A block of more than\n"
        "1024 bytes is confirmed first unless --yes is given.");
  }

  int run(Invocation& invocation) override {
    const Member& member = line_options_.member();
    const std::uint8_t address = parse_byte(address_text_, "ADDRESS");
    if ((command_text_ || high_text_) && !member.takes("command_code")) {
      throw UsageError(std::string(command_text_ ? "--command" : "--high") + " belongs to --member s (sSendBlack)");
    }
    const std::uint8_t command = command_text_ ? parse_byte(*command_text_, "--command") : 0xA5;
    const std::uint8_t high = high_text_ ? parse_byte(*high_text_, "--high") : 0x00;
    const CardList list = read_list(invocation);
    const Bytes entries = card_entries(list.cards);
    const auto count = static_cast<std::int32_t>(list.cards.size());
    exchange::BlacklistBuffer block{};
    const std::size_t size = exchange::build_blacklist_block(entries.data(), count, block);

    Report report = invocation.report();
    report.add("member", std::string(member.name)).add("address", hex_byte(address)).add("cards", std::int64_t{count});
    if (list.duplicates > 0 || list.reordered) {
      report.add("note", std::string(list.reordered ? "sorted" : "") +
                                     (list.reordered && list.duplicates > 0 ? ", " : "") +
                                     (list.duplicates > 0 ? std::to_string(list.duplicates) + " duplicates dropped" : ""));
    }
    const exchange::BlacklistBlockView view = exchange::view_blacklist_block(block);
    if (count == 1) {
      report.add("form", "single card " + std::to_string(list.cards[0]) + ": page " + hex_byte(view.page) +
                             ", offset " + hex_byte(view.offset) + ", mask " + hex_byte(view.data[0]));
    } else {
      report.add("form", "bitmap of " + std::to_string(view.data.size()) + " bytes, cards 1 to " +
                             std::to_string(view.data.size() * 8));
    }
    report.add("block_bytes", "block size", std::int64_t(size))
        .add("line_time", line_time(size, line::kDefaultBaud))
        .add("block", block_text(block, size));
    if (dry_run_) return invocation.finish(report);

    invocation.note_if_no_terminal(address);
    if (size > kConfirmAbove && !invocation.options().yes) confirm(invocation, size, address);
    // The list as each member takes it: entries, or hex text six characters
    // a card.
    std::string text(entries.size() * 2, '0');
    for (std::size_t i = 0; i < entries.size(); ++i) exchange::encode_hex(entries[i], &text[2 * i]);
    const Result result = line_options_.open(invocation).run(
        member, {.address = address, .address_word = high << 8 | address, .command_code = command,
                 .count = count, .entries = entries.data(), .text = text.c_str()});
    report.fields.insert(report.fields.begin() + 1, Field{"port", "port", invocation.port_name()});
    const sim::DemoBus* demo = invocation.demo();
    if (demo != nullptr && demo->terminal(address) != nullptr && result == kOk) {
      std::int64_t barred = 0;
      for (const std::uint8_t b : demo->terminal(address)->blacklist_bitmap()) barred += std::popcount(b);
      report.add("barred", "terminal bars", barred);
    }
    return invocation.finish(report, result);
  }

 private:
  CardList read_list(Invocation& invocation) const {
    if (file_ == "-") return read_card_list(invocation.console().in, "standard input");
    // A directory opens as a file on some systems and then fails to read.
    std::error_code ignored;
    if (std::filesystem::is_directory(file_, ignored)) {
      throw UsageError("FILE: " + file_ + " is a directory; give the file of card numbers",
                       kNoInput);
    }
    std::ifstream in(file_);
    if (!in) throw UsageError("FILE: cannot read " + file_ + "; check the path", kNoInput);
    return read_card_list(in, file_);
  }

  static void confirm(Invocation& invocation, std::size_t size, std::uint8_t address) {
    Console& console = invocation.console();
    const std::string what = "the block is " + std::to_string(size) + " bytes";
    if (!console.in_is_terminal) throw UsageError(what + "; pass --yes to send it without asking");
    console.err << "Send a " << size << "-byte blacklist block to terminal " << hex_byte(address)
                << "? It replaces the terminal's list. [y/N] " << std::flush;
    std::string answer;
    std::getline(console.in, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") throw UsageError("not confirmed; nothing was sent");
  }

  LineOptions line_options_;
  std::string address_text_;
  std::string file_;
  std::optional<std::string> command_text_;
  std::optional<std::string> high_text_;
  bool dry_run_ = false;
};

}  // namespace

void add_blacklist_command(CLI::App& app, CommandSet& commands) {
  add_command<BlacklistCommand>(app, commands, "blacklist",
                                "Download a list of barred cards from a file to a terminal",
                                GlobalUse{.yes = true});
}

}  // namespace tarvex::tool
