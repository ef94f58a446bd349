#!/usr/bin/env bash
# Makes a year of made-up calls for a 40-bed ward, reports it (terminal, CSV
# and HTML, timed) and takes a screenshot of the HTML report in headless
# Chromium. Installs the Debian packages it needs.
#   scripts/report-demo.sh [OUT_DIR]     (default build/report-demo)
# The screenshot of the docs is OUT_DIR/report.png. Chromium loads only the
# local file, with its background networking off, inside a private network
# namespace where the system allows one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
build="$root/build"
out=$(realpath -m "${1:-$build/report-demo}")

ensure_packages build report
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kalvora-report kalvora-journal-gen
mkdir -p "$out"

"$build/kalvora-journal-gen" "$out/journal.sqlite" 365 40
TIMEFORMAT='report of the year: %R s'
time "$build/kalvora-report" "$out/journal.sqlite" --html "$out/report.html" --csv "$out/report.csv"
"$build/kalvora-report" "$out/journal.sqlite" >"$out/report.txt"
echo "Written: $out/report.html, $out/report.csv, $out/report.txt"

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
browser=(chromium --headless --no-sandbox --disable-gpu --disable-background-networking
         --disable-component-update --disable-sync --no-first-run --hide-scrollbars
         --user-data-dir="$profile" --window-size=1100,2300
         --screenshot="$out/report.png" "file://$out/report.html")
status=0
in_private_network "${browser[@]}" >/dev/null 2>&1 || status=$?
if [[ $status -eq 125 ]]; then
    "${browser[@]}" >/dev/null 2>&1
elif [[ $status -ne 0 ]]; then
    echo "error: chromium failed (status $status)" >&2
    exit $status
fi
echo "Screenshot: $out/report.png"
