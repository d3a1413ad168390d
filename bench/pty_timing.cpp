// Real time and processor time of exchanges through the shared object's
// exported functions (build/linux/current/libtarvex.so), over a
// pseudo-terminal with a terminal that answers at once, set against what
// each exchange's own step list costs; what the exchange log adds to them;
// and how far a timed-out limit is overshot. Prints markdown tables;
// scripts/bench.sh runs it.
//
// Every timed call starts just after the millisecond tick the library reads
// has turned, so its first busy wait runs its full length, as every later
// one does: the busy waits then last what the step list says, not up to a
// tick less. Processor time is the calling thread's (CLOCK_THREAD_CPUTIME_ID):
// the library runs on the caller's thread alone, and the terminal's thread
// shares the process.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "emulated_line.h"
#include "exchange_cases.h"
#include "link_relay.h"
#include "pty_terminal.h"
#include "ser2net_server.h"
#include "step_list.h"
#include "tarvex.h"

extern char** environ;

namespace tarvex::bench {
namespace {

using testing::Clock;
using testing::PtyTerminal;
using namespace std::chrono_literals;

// Returns just after the library's tick (CLOCK_MONOTONIC milliseconds) turns.
void align_to_tick() {
  const auto ms = [] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_nsec / 1000000;
  };
  const long start = ms();
  while (ms() == start) {
  }
}

struct Timing {
  double wall_ms = 0;
  double cpu_ms = 0;
  std::int32_t result = 0;
};

template <class Call>
Timing time_call(Call call) {
  align_to_tick();
  const double cpu_start = thread_cpu_ms();
  const Clock::time_point start = Clock::now();
  const std::int32_t result = call();
  const Clock::time_point end = Clock::now();
  const double cpu_end = thread_cpu_ms();
  return {std::chrono::duration<double, std::milli>(end - start).count(), cpu_end - cpu_start,
          result};
}

// Network: the terminal behind ser2net on loopback, reached as
// rfc2217://127.0.0.1:PORT; the backend keeps the line's time itself.
enum class Line { Pty, Emulated, Network };

struct Row {
  const Case* c;
  Cost cost;
  double wall_ms;
  double cpu_ms;
  std::vector<std::int32_t> failures;
};

// One timed call of a case on a fresh terminal (and held port); a network
// port `one_way` away from its server.
Timing time_case(const Case& c, Line line, std::chrono::microseconds one_way = {}) {
  PtyTerminal terminal;
  std::optional<testing::Ser2net> server;
  std::optional<LinkRelay> link;
  if (line == Line::Network) server.emplace(terminal.port());
  if (server && one_way > 0us) link.emplace(server->port_name(), LinkRelay::Shape{one_way});
  const std::string port = link     ? link->port_name()
                           : server ? server->port_name()
                                    : terminal.port();
  for (const PtyTerminal::Step& answer : c.answers) terminal.then(answer);
  tarvex_port_t held = TARVEX_INVALID_PORT;
  if (c.held_baud != 0) held = com_init(port.c_str(), c.held_baud);
  if (line == Line::Emulated) {
    struct stat device {};
    stat(terminal.port().c_str(), &device);
    emulated_line_start(device.st_rdev, terminal.slave_fd());
  }
  const Timing timing = time_call([&] { return c.call(port.c_str(), held); });
  emulated_line_stop();
  if (c.held_baud != 0) com_exit(held);
  return timing;
}

Row run_case(const Case& c, Line line, int runs, std::chrono::microseconds one_way = {}) {
  std::vector<double> walls;
  std::vector<double> cpus;
  Row row{&c, cost(c.steps, line != Line::Pty), 0, 0, {}};
  for (int run = 0; run < runs; ++run) {
    const Timing timing = time_case(c, line, one_way);
    if (timing.result != TARVEX_OK) row.failures.push_back(timing.result);
    walls.push_back(timing.wall_ms);
    cpus.push_back(timing.cpu_ms);
    std::this_thread::sleep_for(20ms);
  }
  row.wall_ms = median(walls);
  row.cpu_ms = median(cpus);
  return row;
}

std::string fixed(double value, int decimals = 2) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void print_exchange_table(const std::vector<Row>& rows) {
  std::printf("| exchange | what | busy waits (ms) | minimum (ms) | wall (ms) | wall - minimum "
              "(ms) | wall / minimum | processor (ms) | processor / wall |\n");
  std::printf("|---|---|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Row& row : rows) {
    std::string name = row.c->name;
    if (!row.failures.empty()) name += " (FAILED: result " + std::to_string(row.failures[0]) + ")";
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", name.c_str(),
                row.c->what.c_str(), busy_waits_text(row.c->steps).c_str(),
                fixed(row.cost.minimum_ms).c_str(), fixed(row.wall_ms).c_str(),
                fixed(row.wall_ms - row.cost.minimum_ms).c_str(),
                row.cost.minimum_ms > 0 ? fixed(row.wall_ms / row.cost.minimum_ms, 3).c_str() : "-",
                fixed(row.cpu_ms).c_str(),
                // An exchange with nothing to wait for is the library's work alone.
                row.cost.minimum_ms > 0 ? (fixed(100 * row.cpu_ms / row.wall_ms, 1) + " %").c_str()
                                        : "-");
  }
}

// The round trips a by-name exchange waits for through the relay: the
// negotiation, each line setting's answers, the server's word on the bytes
// before each switch after the first and before the close, and each reply.
// The relay delays data, not the connection's handshake, which on a real
// link is one round trip more.
struct NetworkCase {
  const char* name;
  int round_trips;
};
constexpr NetworkCase kNetworkCases[] = {
    {"getdata", 6},   // negotiate, MARK, word + SPACE, reply, word
    {"senddata", 6},  // negotiate, MARK, word + SPACE, acknowledgement, word
    {"onNet", 11},    // as getdata to the first reply, word + MARK, word + SPACE, reply, word
};

// The network rows against their target: within 1.05 times the minimum plus
// the round trips, each two one-way delays.
void print_network_table(const std::vector<Row>& rows, const std::vector<double>& one_way_ms) {
  std::printf("| exchange | one way (ms) | round trips | minimum + round trips (ms) | wall (ms) | "
              "wall - that (ms) | wall / that | within 1.05 | processor (ms) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---|---:|\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    std::string name = row.c->name;
    if (!row.failures.empty()) name += " (FAILED: result " + std::to_string(row.failures[0]) + ")";
    int trips = 0;
    for (const NetworkCase& n : kNetworkCases) trips = row.c->name == n.name ? n.round_trips : trips;
    const double least = row.cost.minimum_ms + trips * 2 * one_way_ms[i];
    const double ratio = row.wall_ms / least;
    std::printf("| %s | %s | %d | %s | %s | %s | %s | %s | %s |\n", name.c_str(),
                fixed(one_way_ms[i], 0).c_str(), trips, fixed(least).c_str(),
                fixed(row.wall_ms).c_str(), fixed(row.wall_ms - least).c_str(),
                fixed(ratio, 3).c_str(), ratio <= 1.05 && row.failures.empty() ? "met" : "MISSED",
                fixed(row.cpu_ms).c_str());
  }
}

// ---- Timed-out limits ------------------------------------------------------

// A timed byte read polls 15 ms at a time and checks its limit after each
// poll, so it gives up at the end of the first poll that ends past the
// limit: 15 * ceil((limit + 1) / 15) ms after it started, on a tick that
// does not drift.
double poll_grid_overshoot_ms(std::uint32_t limit) {
  return 15.0 * ((limit + 1 + 14) / 15) - limit;
}

struct Overshoot {
  std::uint8_t code;
  std::uint32_t limit;
  double median_ms;
  double max_ms;
  double cpu_ms;
  std::vector<std::int32_t> wrong_results;
};

// getdata to a terminal that never answers: 18 ms of busy waits and the
// frame, then the first reply byte's limit runs out; the result is 3.
Overshoot time_out(std::uint8_t code, std::uint32_t limit, int runs) {
  std::vector<double> overshoots;
  std::vector<double> cpus;
  Overshoot o{code, limit, 0, 0, 0, {}};
  for (int run = 0; run < runs; ++run) {
    PtyTerminal terminal;
    const Timing timing = time_call([&] {
      std::uint8_t frame[5] = {0x05, code, 0x10, 0x20, 0};
      std::uint8_t reply[9] = {};
      return getdata(4, frame, 8, reply, terminal.port().c_str());
    });
    if (timing.result != TARVEX_REPLY_INCOMPLETE) o.wrong_results.push_back(timing.result);
    overshoots.push_back(timing.wall_ms - 18.0 - limit);
    cpus.push_back(timing.cpu_ms);
  }
  o.median_ms = median(overshoots);
  o.max_ms = *std::max_element(overshoots.begin(), overshoots.end());
  o.cpu_ms = median(cpus);
  return o;
}

void print_overshoot_table(const std::vector<Overshoot>& rows) {
  std::printf("| getdata command | limit (ms) | poll grid (ms) | overshoot, median (ms) | "
              "overshoot, worst (ms) | processor (ms) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const Overshoot& o : rows) {
    std::string code = "0x" + [&] {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", o.code);
      return std::string(hex);
    }();
    if (!o.wrong_results.empty()) code += " (result " + std::to_string(o.wrong_results[0]) + ")";
    std::printf("| %s | %u | %s | %s | %s | %s |\n", code.c_str(), o.limit,
                fixed(poll_grid_overshoot_ms(o.limit), 1).c_str(), fixed(o.median_ms).c_str(),
                fixed(o.max_ms).c_str(), fixed(o.cpu_ms).c_str());
  }
}

// ---- The exchange log ------------------------------------------------------
//
// The library reads TARVEX_LOG once per process, so two copies of this
// program serve the timed calls (--serve), one with the log on and one
// without, and take turns call by call: the machine's load falls on both
// alike, and each pair of calls gives one difference.

// --serve: reads "pty NAME" or "emulated NAME", one a line, and answers each
// with one timed call of that case over a pseudo-terminal (plain, or with the
// emulated 9600-baud output queue): "wall_ms cpu_ms result". "refused" times
// calls that the argument contract refuses at once, touching no port:
// microseconds a call, wall and processor.
int serve() {
  const std::vector<Case> cases = exchange_cases();
  char text[256];
  while (std::fgets(text, sizeof text, stdin) != nullptr) {
    const std::string line(text, std::strcspn(text, "\n"));
    const std::string name = line.substr(line.find(' ') + 1);
    if (line == "refused") {
      constexpr int kCalls = 20000;
      std::uint8_t frame[2] = {};
      std::uint8_t reply[2] = {};
      const double cpu_start = thread_cpu_ms();
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < kCalls; ++i) getdata(-1, frame, 1, reply, "unused");
      const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      std::printf("%.6f %.6f 0\n", wall * 1000 / kCalls,
                  (thread_cpu_ms() - cpu_start) * 1000 / kCalls);
    } else {
      const auto c =
          std::find_if(cases.begin(), cases.end(), [&](const Case& k) { return k.name == name; });
      if (c == cases.end()) return 1;
      const Timing t = time_case(*c, line.starts_with("emulated ") ? Line::Emulated : Line::Pty);
      std::printf("%.4f %.4f %d\n", t.wall_ms, t.cpu_ms, static_cast<int>(t.result));
    }
    std::fflush(stdout);
  }
  return 0;
}

// A copy of this program serving calls, with the log at `log` (none: empty).
struct Server {
  pid_t pid = -1;
  FILE* to = nullptr;
  FILE* from = nullptr;

  explicit Server(const std::string& log) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "TARVEX_LOG", 10) != 0) env_strings.emplace_back(*e);
    }
    if (!log.empty()) env_strings.push_back("TARVEX_LOG=" + log);
    std::vector<char*> env;
    for (std::string& e : env_strings) env.push_back(e.data());
    env.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string flag = "--serve";
    char* argv[] = {self.data(), flag.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(to_child[0]);
    close(from_child[1]);
    to = fdopen(to_child[1], "w");
    from = fdopen(from_child[0], "r");
  }

  ~Server() {
    if (to != nullptr) std::fclose(to);
    if (from != nullptr) std::fclose(from);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }

  std::optional<Timing> ask(const std::string& name) {
    if (pid <= 0 || to == nullptr || from == nullptr) return std::nullopt;
    std::fprintf(to, "%s\n", name.c_str());
    std::fflush(to);
    Timing t;
    int result = 0;
    if (std::fscanf(from, "%lf %lf %d", &t.wall_ms, &t.cpu_ms, &result) != 3) return std::nullopt;
    t.result = result;
    return t;
  }
};

void print_log_table(const std::vector<Case>& cases, int runs) {
  const std::string log = "/tmp/tarvex_bench_" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  Server plain("");
  Server logged(log);
  std::printf(
      "| exchange | line | wall, no log (ms) | wall, log (ms) | log's cost (ms) | cost / wall | "
      "processor, no log (ms) | processor, log (ms) |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& [line, label] : {std::pair{"emulated", "9600 baud"}, std::pair{"pty", "pty"}})
    for (const Case& c : cases) {
      const std::string request = std::string(line) + " " + c.name;
      std::vector<double> walls[2];
      std::vector<double> cpus[2];
      std::vector<double> costs;
      std::string failed;
      for (int run = 0; run < runs; ++run) {
        // Each goes first every other time.
        std::optional<Timing> t[2];
        for (int turn = 0; turn < 2; ++turn) {
          const int which = (run + turn) % 2;
          t[which] = (which == 0 ? plain : logged).ask(request);
          std::this_thread::sleep_for(10ms);
        }
        if (!t[0] || !t[1]) {
          failed = " (FAILED: no answer)";
          break;
        }
        for (int which = 0; which < 2; ++which) {
          if (t[which]->result != TARVEX_OK)
            failed = " (FAILED: result " + std::to_string(t[which]->result) + ")";
          walls[which].push_back(t[which]->wall_ms);
          cpus[which].push_back(t[which]->cpu_ms);
        }
        costs.push_back(t[1]->wall_ms - t[0]->wall_ms);
      }
      if (costs.empty()) continue;
      const double wall = median(walls[0]);
      std::printf("| %s%s | %s | %s | %s | %s | %s%% | %s | %s |\n", c.name.c_str(), failed.c_str(),
                  label, fixed(wall).c_str(), fixed(median(walls[1])).c_str(),
                  fixed(median(costs), 3).c_str(), fixed(100 * median(costs) / wall).c_str(),
                  fixed(median(cpus[0]), 3).c_str(), fixed(median(cpus[1]), 3).c_str());
    }
  const std::optional<Timing> refused[2] = {plain.ask("refused"), logged.ask("refused")};
  if (refused[0] && refused[1]) {
    std::printf(
        "\nA call refused at once (getdata with n = -1, no port), wall and processor per call: "
        "%s and %s us without the log (its one check included), %s and %s us with it.\n",
        fixed(refused[0]->wall_ms, 3).c_str(), fixed(refused[0]->cpu_ms, 3).c_str(),
        fixed(refused[1]->wall_ms, 3).c_str(), fixed(refused[1]->cpu_ms, 3).c_str());
  }
  struct stat file {};
  if (stat(log.c_str(), &file) == 0) {
    std::printf("The log took %lld bytes for these calls.\n", static_cast<long long>(file.st_size));
  }
  std::remove(log.c_str());
}

// ---- The test rig's own latency --------------------------------------------

// One byte to the terminal and its one-byte answer, on a descriptor of our
// own: what the pseudo-terminal and the terminal's thread add to every reply.
double round_trip_ms(int runs) {
  std::vector<double> trips;
  for (int run = 0; run < runs; ++run) {
    PtyTerminal terminal;
    terminal.then({1, {0x55}, 0ms});
    const int fd = ::open(terminal.port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    const std::uint8_t byte = 0xAA;
    const Clock::time_point start = Clock::now();
    if (::write(fd, &byte, 1) == 1) {
      pollfd pfd{fd, POLLIN, 0};
      poll(&pfd, 1, 1000);
    }
    trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    ::close(fd);
    std::this_thread::sleep_for(5ms);
  }
  return median(trips);
}

int run(int runs, const std::string& only) {
  std::vector<Case> cases = exchange_cases();
  if (!only.empty()) {
    std::erase_if(cases, [&](const Case& c) { return c.name.find(only) == std::string::npos; });
  }

  std::printf("### Exchanges over a pseudo-terminal, terminal answering at once\n\n");
  std::printf("Median of %d runs. Minimum: the busy waits of the step list (a pseudo-terminal "
              "has no line time, and no read waits out a poll).\n\n", runs);
  std::vector<Row> rows;
  for (const Case& c : cases) rows.push_back(run_case(c, Line::Pty, runs));
  print_exchange_table(rows);
  std::printf("\nThe pseudo-terminal and the terminal's thread take %s ms (median) to answer a "
              "byte; each reply above includes that.\n\n", fixed(round_trip_ms(runs), 3).c_str());

  std::printf("### The same over an emulated 9600-baud output queue\n\n");
  std::printf("Median of %d runs. Each byte written takes its character time (11 bits, 12 with "
              "two stop bits); replies still arrive at once. Minimum: the busy waits plus the time "
              "each write takes until its last byte has started.\n\n", runs);
  rows.clear();
  for (const Case& c : cases) rows.push_back(run_case(c, Line::Emulated, runs));
  print_exchange_table(rows);

  std::printf("\n### The same through ser2net (RFC 2217) on loopback\n\n");
  if (testing::Ser2net::program().empty()) {
    std::printf("ser2net is not installed: these rows are left out.\n");
  } else {
    std::printf("Median of %d runs. The terminal behind ser2net, the library on "
                "rfc2217://127.0.0.1:PORT, directly or through a relay that delays every byte "
                "by the one-way time each way. Minimum: as over the emulated line, the busy "
                "waits and the line time of the bytes written at 9600 baud, which the backend "
                "waits out itself; plus the round trips the exchange waits for.\n\n", runs);
    rows.clear();
    std::vector<double> one_way_ms;
    for (const int ms : {0, 5, 20, 50}) {
      for (const Case& c : cases) {
        for (const NetworkCase& n : kNetworkCases) {
          if (c.name != n.name) continue;
          rows.push_back(run_case(c, Line::Network, runs, std::chrono::milliseconds{ms}));
          one_way_ms.push_back(ms);
        }
      }
    }
    print_network_table(rows, one_way_ms);
  }

  std::printf("\n### The exchange log (TARVEX_LOG)\n\n");
  std::printf(
      "Median of %d calls each, the terminal answering at once, over the emulated 9600-baud "
      "output queue and over a plain pseudo-terminal (no line time at all: the log's cost set "
      "against the least an exchange can take). Two copies of the bench take turns call by "
      "call, one writing the log to /tmp; the log's cost is the median of the differences of "
      "the pairs.\n\n",
      runs);
  print_log_table(cases, runs);

  if (!only.empty()) return 0;
  std::printf("\n### Timed-out limits\n\n");
  std::printf("getdata to a terminal that never answers: elapsed time past the limit of the "
              "first reply byte (the call's time less its 18 ms of busy waits and the limit), "
              "median and worst of %d runs. Poll grid: what 15 ms polls make of the limit.\n\n",
              runs);
  std::vector<Overshoot> overshoots;
  overshoots.push_back(time_out(0xA7, 50, runs));
  overshoots.push_back(time_out(0xA1, 80, runs));
  overshoots.push_back(time_out(0x30, 1000, runs));
  print_overshoot_table(overshoots);
  return 0;
}

}  // namespace
}  // namespace tarvex::bench

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--serve") == 0) return tarvex::bench::serve();
  // The tables but the log's are of calls without the log, whatever the
  // shell has set (the library reads it at its first call).
  unsetenv("TARVEX_LOG");
  int runs = 7;
  std::string only;  // run the exchanges whose name holds this, and nothing else
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
  }
  if (runs < 1) runs = 1;
  return tarvex::bench::run(runs, only);
}
