#!/usr/bin/env bash
# Every test tier: unit (simulated bus, also under ASan+UBSan), pty (the
# Linux shared object over a pseudo-terminal), wine (the x86_64 DLL under
# wine64), pe (the i686 DLLs checked statically).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh

echo "== build: linux"
cmake --preset linux >/dev/null
cmake --build build/linux -j"$jobs"

echo "== build: win32, win64"
scripts/build_windows.sh

echo "== packages: the Windows zips"
scripts/package.sh

echo "== unit tier under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build build/asan -j"$jobs" --target tarvex_unit_tests tarvex_export_tests
ctest --preset asan -j"$jobs"

echo "== all tiers"
ctest --preset linux -j"$jobs"
