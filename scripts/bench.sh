#!/usr/bin/env bash
# Builds the release preset's benchmark and runs it, pinned to one CPU (the last one) so that the
# caller, the reference peer and the library's threads share it as they would on a small device
# host. Arguments go to tavrin-bench: --quick (a smoke run of about a second), --rounds N.
# See docs/performance.md for how to read the output.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build/release ] || cmake --preset release >/dev/null
cmake --build build/release -j2 --target tavrin-bench >/dev/null
cpu=$(( $(nproc) - 1 ))
if command -v taskset >/dev/null; then
    exec taskset -c "$cpu" build/release/bin/tavrin-bench "$@"
fi
exec build/release/bin/tavrin-bench "$@"
