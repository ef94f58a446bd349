#!/usr/bin/env bash
# Builds Kalvora and runs its tests. Installs the Debian packages it needs.
#   scripts/test.sh               the normal build, in build/
#   scripts/test.sh --sanitize    AddressSanitizer + UBSan build, in build-asan/
# Tests that open sockets run only inside a private network namespace, which
# this script makes; where the system allows none, those tests are skipped.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"

build="$root/build"
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ ${1:-} == --sanitize ]]; then
    build="$root/build-asan"
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DKALVORA_SANITIZE=ON -DKALVORA_BUILD_BENCHMARKS=OFF)
    export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
fi

ensure_packages build test desktop
cmake -S "$root" -B "$build" "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
"$root/scripts/check-desktop.sh"

ctest_cmd=(ctest --test-dir "$build" --output-on-failure --timeout 300 -j2)
status=0
in_private_network "${ctest_cmd[@]}" || status=$?
if [[ $status -eq 125 ]]; then
    echo "Network namespaces are not available here: the tests that open sockets will say so and skip."
    "${ctest_cmd[@]}"
    exit $?
fi
exit $status
