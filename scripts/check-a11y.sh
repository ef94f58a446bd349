#!/usr/bin/env bash
# Checks the console through AT-SPI, as a screen reader on a ward PC sees it:
#   scripts/check-a11y.sh [BUILD]       (BUILD: a built tree, default build/)
# Runs, in a private network namespace with a D-Bus session bus of its own,
# an X server (Xvfb, openbox), the accessibility bus, the call simulator and
# a copy of BUILD's console on the demo data (overdue after 4 s), with
# QT_ACCESSIBILITY=1; then scripts/check-a11y.py reads the console's tree:
#   - the plan is a list of the 24 demo beds, each named by name, code and
#     state, with its place on the screen, found again at its centre;
#   - after a call (kalvora-callsim send) the bed says it calls and for how
#     long, the call list has the call as one line of its three columns, and
#     the alert "Новый вызов: …" arrives; then "Вызов просрочен: …", and bed
#     and line say so; after the cancel the bed is idle again.
# Installs what it runs (scripts/deps.sh group a11y-check). Writes
# BUILD/check-a11y/tree.txt (the tree and the events seen) and console.log.
# Exit status: 0 all good, 1 a check failed, 2 missing tools.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work="$build/check-a11y"

if [[ ${CHECK_A11Y_INSIDE:-} != 1 ]]; then
    source "$root/scripts/deps.sh"
    ensure_packages a11y-check || exit 2
    for file in "$build/kalvora" "$build/kalvora-callsim"; do
        [[ -x $file ]] || { echo "check-a11y: $file is not built" >&2; exit 2; }
    done
    rm -rf "$work"
    mkdir -p "$work/console"
    cp "$build/kalvora" "$work/console/"
    cp -r "$root/demo/data" "$work/console/data"
    # Every other setting as on first start.
    printf '[Logic]\r\nredSec=4\r\n' >"$work/console/kalvora.ini"
    if [[ ${KALVORA_PRIVATE_NETWORK:-} == 1 ]]; then
        CHECK_A11Y_INSIDE=1 dbus-run-session -- bash "$0" "$build"
    else
        CHECK_A11Y_INSIDE=1 in_private_network dbus-run-session -- bash "$0" "$build"
    fi
    status=$?
    [[ $status -eq 125 ]] && echo "check-a11y: no private network namespace here" >&2
    exit $status
fi

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
exec 3>&-
[[ -s $work/display ]] || { echo "check-a11y: Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)

export QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
"$build/kalvora-callsim" serve >"$work/callsim.log" 2>&1 &
pids+=($!)
KALVORA_NONINTERACTIVE=1 "$work/console/kalvora" >"$work/console.log" 2>&1 &
pids+=($!)

/usr/bin/python3 "$root/scripts/check-a11y.py" --callsim "$build/kalvora-callsim" --dump "$work/tree.txt"
