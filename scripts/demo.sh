#!/usr/bin/env bash
# The main job: build the tool and run its demo on the built-in simulated bus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --minimal
cmake --preset linux >/dev/null
cmake --build build/linux -j"$(nproc)" --target tarvex_tool >/dev/null
exec build/linux/tools/tarvex demo "$@"
