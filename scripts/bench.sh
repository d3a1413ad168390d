#!/usr/bin/env bash
# Runs the benchmarks and writes their tables to build/bench/PERFORMANCE-table.md
# (docs/PERFORMANCE.md shows one run and says how to read it).
#
#   cmake --preset linux && cmake --build build/linux -j2
#   scripts/bench.sh [--runs N] [--rounds M]
#       N timed calls per exchange in the timing bench, median (default 7);
#       M rounds of the mix on each bus in the multi-bus bench (default 10)
#
# The pure parts and the simulated exchanges run under Google Benchmark
# (median of 5 repetitions); the timing bench calls the shared object's
# exported functions over a pseudo-terminal. The timing bench runs under
# SCHED_FIFO when that is allowed (root, or CAP_SYS_NICE): the busy waits
# spin for tens of milliseconds, and on a loaded machine the scheduler would
# otherwise stop them now and then, which shows as milliseconds of extra wall
# time and missing processor time that are the machine's, not the library's.
#
# The multi-bus bench (K host threads, each on its own pseudo-terminal) runs
# at normal priority on purpose, twice: alone, and beside two processor-bound
# programs that it starts itself, each in a session of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=7
rounds=10
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    *) echo "usage: scripts/bench.sh [--runs N] [--rounds M]" >&2; exit 2 ;;
  esac
done

bin=build/linux/bench
for program in tarvex_bench tarvex_pty_timing tarvex_multi_bus; do
  if [[ ! -x $bin/$program ]]; then
    echo "bench: $bin/$program is missing; build first:" >&2
    echo "  cmake --preset linux && cmake --build build/linux -j2" >&2
    exit 1
  fi
done
out=build/bench
mkdir -p "$out"
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
table=$out/PERFORMANCE-table.md

scheduling=(chrt -f 10)
scheduling_note="SCHED_FIFO, priority 10"
if ! chrt -f 10 true 2>/dev/null; then
  scheduling=()
  scheduling_note="normal (SCHED_FIFO not allowed): expect scheduler noise"
fi

echo "bench: Google Benchmark (about 20 s)" >&2
"$bin/tarvex_bench" --benchmark_format=csv --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  >"$out/micro.csv" 2>/dev/null
echo "bench: timing over a pseudo-terminal, with and without the log ($runs runs each, about $((runs * 7)) s)" >&2
"${scheduling[@]}" "$bin/tarvex_pty_timing" --runs "$runs" >"$out/timing.md"
echo "bench: many buses at once, normal priority ($rounds rounds, about $((rounds * 3)) s)" >&2
"$bin/tarvex_multi_bus" --rounds "$rounds" >"$out/multi_bus.md"
echo "bench: many buses at once beside two processor-bound loops (about $((rounds * 3)) s)" >&2
"$bin/tarvex_multi_bus" --rounds "$rounds" --busy-loops 2 >"$out/multi_bus_loaded.md"

{
  echo "## Machine"
  echo
  echo "- processor: $(lscpu | sed -n 's/^Model name: *//p' | head -n1)," \
       "$(nproc) cores$(lscpu | sed -n 's/^Hypervisor vendor: *\(.*\)/, virtual machine (\1)/p')"
  echo "- kernel: $(uname -sr)"
  echo "- commit: $(git describe --always --dirty 2>/dev/null || echo unknown)," \
       "$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- timing bench scheduling: $scheduling_note"
  echo "- load average (1, 5, 15 min): $load_at_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
  echo
  echo "### Pure parts, and exchanges on the simulated bus"
  echo
  echo "Google Benchmark, median of 5 repetitions. Processor time per call; the simulated"
  echo "exchanges include the simulation (virtual clock, trace, terminal)."
  echo
  echo "| benchmark | processor | wall | target or note |"
  echo "|---|---:|---:|---|"
  # name,iterations,real_time,cpu_time,time_unit,...: the _median rows.
  awk -F, '
    $1 ~ /_median"?$/ {
      name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
      unit = $5; gsub(/"/, "", unit)
      target = ""
      if (name == "BlacklistBlock/130000") { limit = 100; limit_unit = "us" }
      else if (name ~ /^(LockTransform|Abcd|Change)/) { limit = 50; limit_unit = "ns" }
      else { limit = 0 }
      if (limit > 0) {
        target = "under " limit " " limit_unit ": " ((unit == limit_unit && $4 < limit) ? "met" : "MISSED")
      } else {
        target = $8; gsub(/"/, "", target)  # the label
      }
      printf "| %s | %.3g %s | %.3g %s | %s |\n", name, $4, unit, $3, unit, target
    }' "$out/micro.csv"
  echo
  cat "$out/timing.md"
  echo
  echo "### Many buses at once, normal priority"
  echo
  cat "$out/multi_bus.md"
  echo
  echo "### Many buses at once, beside two processor-bound loops"
  echo
  cat "$out/multi_bus_loaded.md"
} >"$table"

echo "bench: wrote $table" >&2
