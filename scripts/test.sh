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

# CTest shows a test program that skipped some of its functions as passed.
# The JUnit file keeps every program's output (QtTest's SKIP and Totals lines,
# in full), from which the summary at the end counts and lists the skips.
junit="$build/test-results.xml"
rm -f "$junit"
ctest_cmd=(ctest --test-dir "$build" --output-on-failure --timeout 300 -j2
    --output-junit "$junit" --test-output-size-passed 4000000 --test-output-size-failed 4000000)

# Prints what the tests skipped, and a last line with the test functions'
# totals over all programs: "tests: N passed, N failed, N skipped".
summarize() {
    [[ -f $junit ]] || return 0
    local text
    text=$(sed -e 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g' -e "s/&apos;/'/g" -e 's/&amp;/\&/g' "$junit")
    local skips programs
    # A skip in initTestCase skips the whole program (QtTest counts it once).
    skips=$(grep -E '^SKIP +: ' <<<"$text" |
        sed -E 's/^SKIP +: +/  /; s/^(  [^ ]*::initTestCase\(\))/\1 [every function of the program]/' || true)
    programs=$(grep -oE '<testcase name="[^"]*"[^>]*status="notrun"' <<<"$text" |
        sed -E 's/<testcase name="([^"]*)".*/  \1/' || true)
    local passed failed skipped
    read -r passed failed skipped < <(grep -oE 'Totals: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' <<<"$text" |
        awk '{ p += $2; f += $4; s += $6 } END { print p + 0, f + 0, s + 0 }')
    echo
    echo "== Skipped"
    if [[ -n $skips ]]; then
        echo "$skipped test function(s) skipped, and why:"
        echo "$skips"
    else
        echo "No test function skipped."
    fi
    if [[ -n $programs ]]; then
        echo "$(wc -l <<<"$programs") test program(s) did not run at all (skipped as a whole):"
        echo "$programs"
    fi
    echo "tests: $passed passed, $failed failed, $skipped skipped"
}

status=0
in_private_network "${ctest_cmd[@]}" || status=$?
if [[ $status -eq 125 ]]; then
    echo "Network namespaces are not available here: the tests that open sockets will say so and skip."
    status=0
    "${ctest_cmd[@]}" || status=$?
fi
summarize
exit $status
