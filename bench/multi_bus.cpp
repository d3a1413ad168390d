// Many buses from one host: K host threads in one process, each with its own
// pseudo-terminal and a terminal that answers at once, each running the same
// mix of exchanges (getdata, senddata, onNet, HANDLE_GetData on a held port)
// through the exported functions of the shared object
// (build/linux/current/libtarvex.so), for K = 1, 2, 4, ... 32. Per K: each
// call's wall time as a ratio of its protocol minimum (step_list.h), failed
// calls, and the calling thread's processor time. Prints markdown tables;
// scripts/bench.sh runs it at normal scheduling priority, alone and beside
// processor-bound loops (--busy-loops).
//
// Each call starts on a turn of the millisecond tick (the thread sleeps to
// it); the minimum is worked out from where in the tick the call really
// began, so a thread that wakes late is not counted against the library. The
// K threads start spread over one round of the mix, as independent hosts
// would, and run in real time on whatever the machine is doing: the load
// average before and after is printed with the tables.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "busy_loops.h"
#include "exchange_cases.h"
#include "quick_terminals.h"
#include "step_list.h"
#include "tarvex.h"

namespace tarvex::bench {
namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the clock the library's tick reads
using namespace std::chrono_literals;

// The mix every host thread runs, in this order, once per round.
constexpr const char* kMix[] = {"getdata", "senddata", "onNet", "HANDLE_GetData"};
constexpr std::size_t kFamilies = std::size(kMix);

struct Options {
  int rounds = 10;
  std::vector<std::size_t> buses = {1, 2, 4, 8, 16, 32};
  int busy_loops = 0;
};

struct Call {
  std::size_t family = 0;  // index into kMix
  double wall_ms = 0;
  double minimum_ms = 0;
  double cpu_ms = 0;
  std::int32_t result = 0;
};

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Sleeps until the next turn of the tick; how late it woke (ms).
double sleep_to_tick_turn() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec turn = now.tv_nsec >= 999000000
                            ? timespec{now.tv_sec + 1, 0}
                            : timespec{now.tv_sec, (now.tv_nsec / 1000000 + 1) * 1000000};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &turn, nullptr) == EINTR) {
  }
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - turn.tv_sec) * 1e3 +
         static_cast<double>(now.tv_nsec - turn.tv_nsec) / 1e6;
}

// How far past a turn of the tick `at` is (0 to 1 ms).
double into_tick_ms(Clock::time_point at) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch());
  return static_cast<double>(ns.count() % 1000000) / 1e6;
}

// One host thread: `rounds` rounds of the mix on its own bus.
void run_host(QuickTerminals& terminals, std::size_t bus, const std::vector<const Case*>& mix,
              int rounds, Clock::time_point start, std::vector<Call>& calls) {
  const char* port = terminals.port(bus).c_str();
  std::this_thread::sleep_until(start);
  std::uint64_t heard = terminals.heard(bus);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t family = 0; family < mix.size(); ++family) {
      const Case& c = *mix[family];
      const tarvex_port_t held =
          c.held_baud != 0 ? com_init(port, c.held_baud) : TARVEX_INVALID_PORT;
      terminals.expect(bus, c.answers);

      sleep_to_tick_turn();
      const double cpu_start = thread_cpu_ms();
      const Clock::time_point begun = Clock::now();
      const std::int32_t result = c.call(port, held);
      const Clock::time_point ended = Clock::now();
      const double cpu_end = thread_cpu_ms();
      calls.push_back({family, ms_between(begun, ended),
                       cost(c.steps, false, into_tick_ms(begun)).minimum_ms, cpu_end - cpu_start,
                       result});

      if (held != TARVEX_INVALID_PORT) com_exit(held);
      // The terminal must have heard the whole exchange before it is told the
      // next one. After a failure, or bytes that do not come, whatever still
      // arrives is left to settle and the count starts from there.
      heard += bytes_written(c);
      if (result != TARVEX_OK || !terminals.wait_heard(bus, heard, 1s)) {
        std::this_thread::sleep_for(100ms);
        heard = terminals.heard(bus);
      }
    }
  }
}

struct Result {
  std::size_t buses = 0;
  std::vector<Call> calls;
  QuickTerminals::Cost terminals;
  std::vector<double> plain_wakeups_ms;  // how late plain sleeps woke, at the same K
};

// The p-th percentile of values sorted ascending (0 for none).
double percentile(const std::vector<double>& sorted, int p) {
  return sorted.empty() ? 0 : sorted[(sorted.size() - 1) * static_cast<std::size_t>(p) / 100];
}

// The machine's own share of a call's lateness: K threads that only sleep to
// turns of the tick, as the library's busy waits do, and note how late they
// woke. A worst ratio is to be read against these: a virtual machine's idle
// processors can wake a sleeper milliseconds late, whatever it runs.
std::vector<double> plain_wakeups(std::size_t threads) {
  constexpr int kSleeps = 200;
  std::vector<std::vector<double>> late(threads);
  std::vector<std::thread> sleepers;
  for (std::size_t t = 0; t < threads; ++t) {
    sleepers.emplace_back([&late, t] {
      for (int i = 0; i < kSleeps; ++i) late[t].push_back(sleep_to_tick_turn());
    });
  }
  for (std::thread& sleeper : sleepers) sleeper.join();
  std::vector<double> all;
  for (const std::vector<double>& one : late) all.insert(all.end(), one.begin(), one.end());
  std::sort(all.begin(), all.end());
  return all;
}

Result run_buses(std::size_t buses, const std::vector<const Case*>& mix, int rounds) {
  QuickTerminals terminals(buses);
  std::vector<std::vector<Call>> calls(buses);
  for (std::vector<Call>& bus_calls : calls) {
    bus_calls.reserve(static_cast<std::size_t>(rounds) * mix.size());
  }
  // Spread over one round of the mix, so the hosts are not in step.
  double round_ms = 0;
  for (const Case* c : mix) round_ms += cost(c->steps, false).minimum_ms;
  const Clock::time_point go = Clock::now() + 50ms;
  std::vector<std::thread> hosts;
  for (std::size_t bus = 0; bus < buses; ++bus) {
    const auto offset =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
            round_ms * static_cast<double>(bus) / static_cast<double>(buses)));
    hosts.emplace_back(run_host, std::ref(terminals), bus, std::cref(mix), rounds, go + offset,
                       std::ref(calls[bus]));
  }
  for (std::thread& host : hosts) host.join();

  Result result{buses, {}, terminals.cost(), plain_wakeups(buses)};
  for (const std::vector<Call>& bus_calls : calls) {
    result.calls.insert(result.calls.end(), bus_calls.begin(), bus_calls.end());
  }
  return result;
}

// ---- Figures ----------------------------------------------------------------

struct Figures {
  std::size_t calls = 0;
  std::size_t failed = 0;
  double median_ratio = 0;
  double p99_ratio = 0;
  double worst_ratio = 0;
  std::size_t worst_family = 0;
  double median_cpu_ms = 0;
  double cpu_share = 0;  // processor time over wall time, all calls together
};

// Ratios are of the calls that succeeded: a failed call's time is its
// limit's, and it is counted as failed instead.
Figures figures_of(const std::vector<Call>& calls) {
  Figures f;
  std::vector<double> ratios;
  std::vector<double> cpus;
  double cpu = 0;
  double wall = 0;
  for (const Call& call : calls) {
    ++f.calls;
    cpus.push_back(call.cpu_ms);
    cpu += call.cpu_ms;
    wall += call.wall_ms;
    if (call.result != TARVEX_OK) {
      ++f.failed;
      continue;
    }
    const double ratio = call.wall_ms / call.minimum_ms;
    ratios.push_back(ratio);
    if (ratio > f.worst_ratio) {
      f.worst_ratio = ratio;
      f.worst_family = call.family;
    }
  }
  f.median_ratio = median(ratios);
  std::sort(ratios.begin(), ratios.end());
  f.p99_ratio = percentile(ratios, 99);
  f.median_cpu_ms = median(cpus);
  f.cpu_share = wall > 0 ? cpu / wall : 0;
  return f;
}

std::vector<Call> of_family(const std::vector<Call>& calls, std::size_t family) {
  std::vector<Call> picked;
  for (const Call& call : calls) {
    if (call.family == family) picked.push_back(call);
  }
  return picked;
}

std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void print_summary(const std::vector<Result>& results) {
  std::printf(
      "| buses | calls | failed | wall / minimum, median | 99th percentile | worst "
      "(exchange) | processor per getdata, median (ms) | processor / wall, highest "
      "(exchange) | terminals' thread per exchange (ms) | plain sleep woke late, 99th "
      "percentile / worst (ms) |\n");
  std::printf("|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|\n");
  for (const Result& r : results) {
    const Figures all = figures_of(r.calls);
    const Figures getdata = figures_of(of_family(r.calls, 0));
    double highest_share = 0;
    std::size_t highest = 0;
    for (std::size_t family = 0; family < kFamilies; ++family) {
      const double share = figures_of(of_family(r.calls, family)).cpu_share;
      if (share > highest_share) {
        highest_share = share;
        highest = family;
      }
    }
    std::printf(
        "| %zu | %zu | %zu | %s | %s | %s (%s) | %s | %s %% (%s) | %s | %s / %s |\n", r.buses,
        all.calls,
        all.failed, fixed(all.median_ratio, 3).c_str(), fixed(all.p99_ratio, 3).c_str(),
        fixed(all.worst_ratio, 3).c_str(), kMix[all.worst_family],
        fixed(getdata.median_cpu_ms, 3).c_str(), fixed(100 * highest_share, 2).c_str(),
        kMix[highest],
        fixed(r.terminals.cpu_ms / static_cast<double>(std::max<std::size_t>(all.calls, 1)), 3)
            .c_str(),
        fixed(percentile(r.plain_wakeups_ms, 99), 3).c_str(),
        fixed(r.plain_wakeups_ms.empty() ? 0 : r.plain_wakeups_ms.back(), 3).c_str());
  }
}

void print_families(const std::vector<Result>& results, const std::vector<const Case*>& mix) {
  std::printf(
      "| buses | exchange | minimum (ms) | calls | failed | wall / minimum, median | "
      "worst | processor, median (ms) | processor / wall |\n");
  std::printf("|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Result& r : results) {
    for (std::size_t family = 0; family < kFamilies; ++family) {
      const Figures f = figures_of(of_family(r.calls, family));
      std::printf("| %zu | %s | %s | %zu | %zu | %s | %s | %s | %s %% |\n", r.buses, kMix[family],
                  fixed(cost(mix[family]->steps, false).minimum_ms, 0).c_str(), f.calls, f.failed,
                  fixed(f.median_ratio, 3).c_str(), fixed(f.worst_ratio, 3).c_str(),
                  fixed(f.median_cpu_ms, 3).c_str(), fixed(100 * f.cpu_share, 2).c_str());
    }
  }
}

std::string load_average() {
  std::ifstream file("/proc/loadavg");
  std::string one;
  std::string five;
  file >> one >> five;
  return one + " (1 min), " + five + " (5 min)";
}

int run(const Options& options) {
  const std::vector<Case> cases = exchange_cases();
  std::vector<const Case*> mix;
  for (const char* name : kMix) {
    const auto found =
        std::find_if(cases.begin(), cases.end(), [&](const Case& c) { return c.name == name; });
    if (found == cases.end()) {
      std::fprintf(stderr, "multi_bus: no exchange case named %s\n", name);
      return 1;
    }
    mix.push_back(&*found);
  }

  const std::string load_before = load_average();
  std::vector<Result> results;
  int loops = 0;
  {
    const BusyLoops busy(options.busy_loops);
    loops = busy.running();
    for (const std::size_t buses : options.buses) {
      std::fprintf(stderr, "multi_bus: %zu bus%s, %d rounds\n", buses, buses == 1 ? "" : "es",
                   options.rounds);
      results.push_back(run_buses(buses, mix, options.rounds));
    }
  }

  std::printf(
      "%d rounds of getdata, senddata, onNet and HANDLE_GetData on each bus; scheduling: "
      "%s; processor-bound loops beside it: %d; load average %s before, %s after.\n\n",
      options.rounds, sched_getscheduler(0) == SCHED_OTHER ? "normal" : "real-time", loops,
      load_before.c_str(), load_average().c_str());
  print_summary(results);
  std::printf("\n");
  print_families(results, mix);

  std::size_t good = 0;
  for (const Result& r : results) {
    for (const Call& call : r.calls) good += call.result == TARVEX_OK ? 1 : 0;
  }
  // Calls that fail now and then are the figures' business; none at all
  // succeeding is the bench not working.
  return good > 0 ? 0 : 1;
}

std::vector<std::size_t> parse_list(const char* text) {
  std::vector<std::size_t> values;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    const long value = std::atol(item.c_str());
    if (value > 0) values.push_back(static_cast<std::size_t>(value));
  }
  return values;
}

}  // namespace
}  // namespace tarvex::bench

int main(int argc, char** argv) {
  tarvex::bench::Options options;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--rounds") == 0 && has_value) {
      options.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--buses") == 0 && has_value) {
      options.buses = tarvex::bench::parse_list(argv[++i]);
    } else if (std::strcmp(argv[i], "--busy-loops") == 0 && has_value) {
      options.busy_loops = std::max(0, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: tarvex_multi_bus [--rounds N] [--buses 1,2,4,...] [--busy-loops N]\n");
      return 2;
    }
  }
  if (options.buses.empty()) options.buses = {1};
  try {
    return tarvex::bench::run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "multi_bus: %s\n", e.what());
    return 1;
  }
}
