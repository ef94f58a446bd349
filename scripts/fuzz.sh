#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) in build-fuzz/ and
# runs each for SECONDS (default 30), starting from its committed seed corpus
# in fuzz/corpus/TARGET/ (inputs it finds go to build-fuzz/corpus/TARGET/).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# The datagram target builds a console, which broadcasts its ping: it runs in a
# private network namespace, and is skipped (with a message) where the system
# allows none. Exits non-zero when any target reports a finding; the input that
# caused it is kept in build-fuzz/findings/TARGET/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"

seconds=${1:-30}
shift || true
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(fuzz_intconvert fuzz_bedfile fuzz_settings fuzz_picture fuzz_datagram)
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi

build="$root/build-fuzz"
ensure_packages build test fuzz
cmake_args=(
    -DCMAKE_CXX_COMPILER=clang++
    -DCMAKE_BUILD_TYPE=Debug
    "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"
    -DKALVORA_SANITIZE=ON
    -DKALVORA_FUZZ=ON
    -DKALVORA_BUILD_TESTS=OFF
    -DKALVORA_BUILD_BENCHMARKS=OFF
)
cmake -S "$root" -B "$build" "${cmake_args[@]}" >/dev/null
if ! cmake --build "$build" -j2 --target "${targets[@]}" >"$build/build.log" 2>&1; then
    tail -n 40 "$build/build.log" >&2
    echo "error: the fuzz build failed (log: $build/build.log)" >&2
    exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp:print_suppressions=0}

status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    seeds=("$root/fuzz/corpus/$target")
    dict=()
    [[ -f $root/fuzz/dict/$target.dict ]] && dict=("-dict=$root/fuzz/dict/$target.dict")
    run=("$build/fuzz/$target" "$corpus" "${seeds[@]}" "${dict[@]}"
         -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096
         -artifact_prefix="$findings/" -print_final_stats=1)
    echo "== $target: ${seconds} s"
    result=0
    if [[ $target == fuzz_datagram ]]; then
        in_private_network "${run[@]}" >"$build/$target.log" 2>&1 || result=$?
        if [[ $result -eq 125 ]]; then
            echo "   skipped: this system allows no private network namespace, and the target pings"
            continue
        fi
    else
        "${run[@]}" >"$build/$target.log" 2>&1 || result=$?
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ +DONE' "$build/$target.log" | sed 's/^/   /' || true
    echo "   corpus: $(find "$corpus" -type f | wc -l) inputs"
    if [[ $result -ne 0 ]]; then
        echo "   FINDING (exit $result): see $build/$target.log and $findings/"
        tail -n 40 "$build/$target.log" | sed 's/^/   | /'
        status=1
    fi
done
exit $status
