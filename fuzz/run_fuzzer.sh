#!/usr/bin/env bash
# Runs one fuzz target over a fixed number of inputs, starting from its seed
# corpus. What the fuzzer finds goes into a fresh work directory (never into
# the seeds in the repository), a crashing input too. The seed is fixed, so a
# run repeats exactly; pass another as a fifth argument to explore further.
#   run_fuzzer.sh FUZZER SEED_CORPUS WORK_DIR RUNS [SEED]
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4 seed=${5:-1}
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$fuzzer" -runs="$runs" -seed="$seed" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds"
