// `tarvex terminal`: the demo terminals on a pseudo-terminal, for a real
// host to be developed and tested against.
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "tools/command.h"
#include "tools/exit_status.h"

#if !defined(_WIN32)
#include "sim/pty_demo.h"
#endif

namespace tarvex::tool {
namespace {

// A pseudo-terminal is Linux's; on Windows the command is there all the
// same, with its options, and says where it runs.
#if defined(_WIN32)
constexpr const char* kOnlyHere = " (Linux only)";

void serve_demo_terminals(std::ostream&, std::uint32_t, std::uint32_t) {
  throw UsageError(
      "runs on Linux only: it needs a pseudo-terminal. On Windows the other commands "
      "without --port use the simulated bus with the same terminals",
      kSystem);
}
#else
constexpr const char* kOnlyHere = "";

void serve_demo_terminals(std::ostream& out, std::uint32_t seconds, std::uint32_t frames) {
  std::optional<sim::PtyDemo> demo;
  try {
    demo.emplace(out);
  } catch (const std::runtime_error& error) {
    throw UsageError(std::string("no pseudo-terminal to serve on (") + error.what() + ")", kSystem);
  }
  out << demo->port() << std::endl;
  out << "demo terminals at 05, 12 and 31 on " << demo->port() << "; Ctrl-C to stop" << std::endl;
  demo->serve(seconds, frames);
}
#endif

class TerminalCommand final : public Command {
 public:
  explicit TerminalCommand(CLI::App& cli) {
    cli.add_option("--seconds", seconds_text_,
                   "Stop after this many seconds (default 0: run until interrupted)")
        ->type_name("UINT");
    cli.add_option("--frames", frames_text_, "Stop once this many frames have been heard")
        ->type_name("UINT");
    cli.footer(
        "Prints the device path first; give it to the host as its port name (for wine, link\n"
        "a COM port to it under ~/.wine/dosdevices). Then one line per frame heard: the time\n"
        "in ms, the terminal, each byte with the parity it came under (M, S or N, read from\n"
        "the port's setting as it arrives; m: taken for an address byte that came after\n"
        "silence, though the setting read SPACE), and the answer. Ctrl-C stops it.\n\n"
        "A pseudo-terminal carries no parity bit, and a host that switches to SPACE right\n"
        "after its address byte (the exchanges that re-open the port) may switch before the\n"
        "byte is read: such an address byte is recognised only when it follows at least 1 ms\n"
        "of silence.");
  }

  int run(Invocation& invocation) override {
    // 0: no such limit.
    const std::uint32_t seconds =
        seconds_text_ ? parse_count(*seconds_text_, "--seconds", 86400 * 365) : 0;
    const std::uint32_t frames = frames_text_ ? parse_count(*frames_text_, "--frames", 1000000) : 0;
    serve_demo_terminals(invocation.console().out, seconds, frames);
    return 0;
  }

 private:
  std::optional<std::string> seconds_text_;
  std::optional<std::string> frames_text_;
};

}  // namespace

void add_terminal_command(CLI::App& app, CommandSet& commands) {
  add_command<TerminalCommand>(
      app, commands, "terminal",
      std::string("Run the demo terminals on a pseudo-terminal for a real host to talk to") +
          kOnlyHere,
      GlobalUse{.line = false,
                .json = false,
                .without_line = "makes its own port and logs every frame itself"});
}

}  // namespace tarvex::tool
