#!/usr/bin/env bash
# Every test tier: unit (simulated bus, also under ASan+UBSan), pty (the
# Linux shared object over a pseudo-terminal), wine (the x86_64 DLL under
# wine64), pe (the i686 DLLs checked statically), i686 (the i686 DLLs' own
# code under an emulated CPU), the unit tier again as an i386 program under
# qemu-user (preset i386); the thread tests under
# ThreadSanitizer, the fuzz targets (clang, libFuzzer, ASan+UBSan), and the
# pty tier and parts of the unit tier under valgrind (label valgrind, in the
# last step).
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

echo "== unit tier as a 32-bit (i386) program under qemu-user"
if command -v qemu-i386-static >/dev/null &&
   echo 'int main() {}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then
  cmake --preset i386 >/dev/null
  cmake --build --preset i386 -j"$jobs"
  ctest --preset i386 -j"$jobs"
else
  echo "skipped: qemu-i386-static or g++ -m32 missing (qemu-user-static, g++-multilib: scripts/setup.sh)"
fi

echo "== thread tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build build/tsan -j"$jobs" --target tarvex_thread_tests
ctest --preset tsan -j"$jobs"

echo "== fuzz targets: a fixed number of inputs each"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"$jobs"
ctest --preset fuzz -j"$jobs"

echo "== all tiers, valgrind included"
ctest --preset linux -j"$jobs"
