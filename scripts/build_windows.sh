#!/usr/bin/env bash
# Builds the Windows deliverables: the win32 (i686) and win64 (x86_64)
# presets, installing the mingw-w64 cross toolchain (and ninja) first when
# they are missing.
# Safe to run again: configure and build are incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
if ! command -v i686-w64-mingw32-g++ >/dev/null || ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  missing+=(mingw-w64)
fi
command -v ninja >/dev/null || missing+=(ninja-build)
if ((${#missing[@]})); then
  echo "build_windows: installing ${missing[*]}" >&2
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

for preset in win32 win64; do
  cmake --preset "$preset"
  cmake --build "build/$preset" -j2
done
