#!/usr/bin/env bash
# The test tiers: every one (no argument; what CI runs), or those named:
#   scripts/test.sh unit pty
# Tiers of the linux build, by their ctest label: unit, pty, network (the
# shared object through ser2net, RFC 2217), tool, wine (the
# x86_64 DLL under wine64), pe (the i686 DLLs checked statically), i686 (the
# i686 DLLs' own code under an emulated CPU), install, bench, valgrind
# (memcheck over the pty tier and parts of the unit tier). Each in a build of
# its own: i386 (the unit tier as a 32-bit program under qemu-user), tsan
# (the thread tests, plainly and under ThreadSanitizer), asan (the unit tier
# under AddressSanitizer and UndefinedBehaviorSanitizer), fuzz (the fuzz
# targets, a fixed number of inputs each); and package (the Windows zips and
# the Debian packages).
# The Windows DLLs are built once, when a tier needs them (wine, pe, i686,
# package). Packages are installed by scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

tiers_known=(unit pty network tool wine pe i686 install bench i386 tsan asan fuzz package valgrind)
labels=(unit pty network tool wine pe i686 install bench tsan valgrind)
if (($# == 0)); then
  tiers=("${tiers_known[@]}")
else
  tiers=("$@")
  for tier in "${tiers[@]}"; do
    if [[ " ${tiers_known[*]} " != *" $tier "* ]]; then
      echo "test.sh: '$tier' is no tier; choose from ${tiers_known[*]}" >&2
      exit 64
    fi
  done
fi
wants() { [[ " ${tiers[*]} " == *" $1 "* ]]; }

scripts/setup.sh

echo "== build: linux"
cmake --preset linux >/dev/null
cmake --build build/linux -j"$jobs"

if wants wine || wants pe || wants i686 || wants package; then
  echo "== build: win32, win64"
  scripts/build_windows.sh
fi

if wants package; then
  echo "== packages: the Windows zips and the Debian packages"
  scripts/package.sh --built
fi

if wants asan; then
  echo "== unit tier under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake --preset asan >/dev/null
  cmake --build build/asan -j"$jobs" --target tarvex_unit_tests tarvex_export_tests
  ctest --preset asan -j"$jobs"
fi

if wants i386; then
  echo "== unit tier as a 32-bit (i386) program under qemu-user"
  if command -v qemu-i386-static >/dev/null &&
     echo 'int main() {}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then
    cmake --preset i386 >/dev/null
    cmake --build --preset i386 -j"$jobs"
    ctest --preset i386 -j"$jobs"
  else
    echo "skipped: qemu-i386-static or g++ -m32 missing (qemu-user-static, g++-multilib: scripts/setup.sh)"
  fi
fi

if wants tsan; then
  echo "== thread tests under ThreadSanitizer"
  cmake --preset tsan >/dev/null
  cmake --build build/tsan -j"$jobs" --target tarvex_thread_tests
  ctest --preset tsan -j"$jobs"
fi

if wants fuzz; then
  echo "== fuzz targets: a fixed number of inputs each"
  cmake --preset fuzz >/dev/null
  cmake --build build/fuzz -j"$jobs"
  ctest --preset fuzz -j"$jobs"
fi

# The linux build's tiers in one ctest run: all of its tests when every tier
# is asked for, as CI does.
if (($# == 0)); then
  echo "== all tiers, valgrind included"
  ctest --preset linux -j"$jobs"
  exit 0
fi
chosen=()
for label in "${labels[@]}"; do
  if wants "$label"; then chosen+=("$label"); fi
done
if ((${#chosen[@]})); then
  echo "== tiers: ${chosen[*]}"
  if wants valgrind && ! command -v valgrind >/dev/null; then
    echo "test.sh: valgrind is not installed, so its tier has no tests; run scripts/setup.sh" >&2
  fi
  ctest --preset linux -j"$jobs" -L "^($(IFS='|'; echo "${chosen[*]}"))\$"
fi
