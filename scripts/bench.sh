#!/usr/bin/env bash
# Builds and runs the micro-benchmarks (Google Benchmark) in build/, inside a
# private network namespace (the benchmarked console opens sockets).
# Extra arguments go to the benchmark, e.g. --benchmark_filter=Dispatch
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
ensure_packages build
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target kalvora-bench
status=0
in_private_network "$root/build/kalvora-bench" "$@" || status=$?
if [[ $status -eq 125 ]]; then
    echo "error: the benchmarks need a private network namespace, which this system does not allow." >&2
fi
exit $status
