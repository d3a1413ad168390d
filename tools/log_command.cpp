// `tarvex log FILE`: the calls an exchange log holds (written by the library
// itself with TARVEX_LOG=FILE in the host's environment), one row each; with
// --call N, that call's block (its trace as the library wrote it) and, with
// --diagram, its timing diagram, drawn as for a call the tool made.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/exit_status.h"
#include "tools/text_input.h"
#include "tools/timing_diagram.h"
#include "tools/command.h"
#include "trace/log_reader.h"

namespace tarvex::tool {
namespace {

// The words the log gives a call's result: "success" of "0 (success)", "a
// held port" of "#1 (a held port)".
std::string meaning_of(const trace::LoggedCall& c) {
  const auto open = c.result.find(" (");
  return open == std::string::npos ? "" : c.result.substr(open + 2, c.result.size() - open - 3);
}

class LogCommand final : public Command {
 public:
  explicit LogCommand(CLI::App& cli) {
    cli.add_option("FILE", file_,
                   "An exchange log: the file TARVEX_LOG named (or its older half, FILE.1)")
        ->required();
    cli.add_option("--call", call_text_,
                   "Show call N of the listing (from 1) with its trace; "
                   "--diagram FILE draws it")
        ->type_name("N");
    cli.footer(
        "Reads the log the library writes when a host runs with TARVEX_LOG=FILE (see\n"
        "docs/FIELD.md); touches no port. Examples:\n"
        "  tarvex log host.log                          (time, entry point, port, result)\n"
        "  tarvex log host.log --call 3 --diagram c3.svg\n"
        "The exit status is 0 when the log could be read, whatever the calls returned.");
  }

  int run(Invocation& invocation) override {
    std::ifstream in(file_, std::ios::binary);
    if (!in) throw UsageError("FILE: cannot read " + file_ + "; check the path", kNoInput);
    std::ostringstream text;
    text << in.rdbuf();
    const trace::LogReading log = trace::read_log(text.str());
    if (log.calls.empty() && !log.problems.empty()) {
      throw UsageError("FILE: " + file_ + " holds no whole block of an exchange log (" +
                       log.problems.front() + ")");
    }
    for (const std::string& problem : log.problems) {
      invocation.console().err << "tarvex log: " << file_ << " " << problem << " (skipped)\n";
    }
    if (!call_text_) return list(invocation, log);
    const std::uint32_t n = parse_count(*call_text_, "--call", 0xFFFFFFFFu);
    if (n == 0 || n > log.calls.size()) {
      throw UsageError("--call " + std::to_string(n) + ": the log has " +
                       std::to_string(log.calls.size()) + " call(s); choose 1 to " +
                       std::to_string(log.calls.size()));
    }
    return show(invocation, log.calls[n - 1], n, log.calls.size());
  }

 private:
  int list(Invocation& invocation, const trace::LogReading& log) {
    Report report = invocation.report();
    // The count in text only: in JSON the list under "calls" gives it. The
    // result is a number and its meaning in JSON, as every command's is.
    report.add("file", "log", file_).add("", "calls", static_cast<std::int64_t>(log.calls.size()));
    Table table{"calls",
                {"call", "time", "process", "thread", "entry_point", "port", "", "result", "meaning"},
                {"call", "time (UTC)", "process", "thread", "entry point", "port", "result", "", ""}};
    for (std::size_t i = 0; i < log.calls.size(); ++i) {
      const trace::LoggedCall& c = log.calls[i];
      table.rows.push_back({static_cast<std::int64_t>(i + 1), c.time,
                            static_cast<std::int64_t>(c.process),
                            static_cast<std::int64_t>(c.thread), c.entry_point,
                            c.port.empty() ? std::string("-") : c.port, c.result, c.outcome.value,
                            meaning_of(c)});
    }
    report.table = std::move(table);
    show_report(invocation.console().out, report, invocation.options().json, nullptr);
    return 0;
  }

  int show(Invocation& invocation, const trace::LoggedCall& c, std::size_t n, std::size_t of) {
    Report report = invocation.report();
    report.add("call", static_cast<std::int64_t>(n))
        .add("calls", "", static_cast<std::int64_t>(of))
        .add("time", "time (UTC)", c.time)
        .add("process", static_cast<std::int64_t>(c.process))
        .add("thread", static_cast<std::int64_t>(c.thread))
        .add("library", c.library)
        .add("entry_point", c.entry_point)
        .add("arguments", c.call);
    if (!c.port.empty()) report.add("port", c.port);
    if (c.outcome.kind == trace::Outcome::Kind::Code) {
      report.result = static_cast<Result>(c.outcome.value);
    } else {
      report.add("", "held port", c.result).add("result", "", c.outcome.value).add("meaning", "", meaning_of(c));
    }
    if (!c.complete)
      report.add("complete", "note",
                 std::string("the trace stopped early: the host ran out of memory"));
    show_report(invocation.console().out, report, invocation.options().json, &c.lines);
    const std::string& path = invocation.options().diagram;
    if (!path.empty()) {
      std::optional<Result> result;
      if (c.outcome.kind == trace::Outcome::Kind::Code)
        result = static_cast<Result>(c.outcome.value);
      const std::string title = "tarvex log: call " + std::to_string(n) + ", " + c.entry_point +
                                (c.port.empty() ? "" : " on " + c.port) + ", " + c.time;
      if (!write_diagram_file(path, c.events, result, title)) {
        invocation.console().err << "tarvex: cannot write the diagram to " << path
                                 << "; check that its directory exists and is writable\n";
        return kCannotCreate;
      }
    }
    return 0;
  }

  std::string file_;
  std::optional<std::string> call_text_;
};

}  // namespace

void add_log_command(CLI::App& app, CommandSet& commands) {
  add_command<LogCommand>(app, commands, "log",
                          "List the calls of an exchange log the library wrote (TARVEX_LOG), "
                          "show or draw one",
                          GlobalUse{.line = false,
                                    .diagram_without_line = true,
                                    .without_line = "reads its calls from FILE, not a line"});
}

}  // namespace tarvex::tool
