#!/usr/bin/env bash
# The main job: build the tool and run its demo on the built-in simulated bus.
# The tool preset builds the tool alone, without the test tiers and what they
# need (GoogleTest, valgrind, the cross compilers).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --minimal
cmake --preset tool >/dev/null
cmake --build build/tool -j"$(nproc)" --target tarvex_tool >/dev/null
exec build/tool/tools/tarvex demo "$@"
