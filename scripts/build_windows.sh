#!/usr/bin/env bash
# Builds the Windows deliverables: the win32 (i686) and win64 (x86_64)
# presets. The mingw-w64 cross toolchain and ninja come from
# scripts/setup.sh. Safe to run again: configure and build are incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ ninja; do
  if ! command -v "$tool" >/dev/null; then
    echo "build_windows: $tool is missing; run scripts/setup.sh first" >&2
    exit 1
  fi
done

for preset in win32 win64; do
  cmake --preset "$preset"
  cmake --build "build/$preset" -j2
done
