#!/usr/bin/env bash
# Builds and runs the journal's benchmarks (Google Benchmark) in build/: the
# GUI thread's cost per call event at 5,000 events a second, and the report
# of a year of a 40-bed ward. They open no socket and need no display.
# Extra arguments go to the benchmark, e.g. --benchmark_filter=Report
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages build
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target kalvora-bench-journal
exec "$root/build/kalvora-bench-journal" "$@"
