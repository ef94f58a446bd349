#!/usr/bin/env bash
# Starts the console on the demo data, with the call-server simulator playing
# the demo scenario beside it. Installs the Debian packages it needs.
#
# The demo never touches the real network: console and simulator run in a
# private network namespace whose only interface is loopback (so on a ward PC
# the demo neither pings nor hears the ward's real server). On a desktop the
# console opens as a window and the demo ends when it is closed; on a machine
# without a display it runs under Xvfb for DEMO_SECONDS (default 35) seconds
# and saves a screenshot to build/demo.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
build="$root/build"

ensure_packages build demo
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kalvora kalvora-callsim demo-data

if ! unshare --net $([[ $(id -u) -ne 0 ]] && echo --map-root-user) true 2>/dev/null; then
    echo "error: this system does not allow a private network namespace (unshare --net)." >&2
    echo "The demo would broadcast its ping on the real network, so it does not start." >&2
    exit 1
fi

scenario="$root/demo/scenario.txt"
sim_log="$build/demo-callsim.log"

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    echo "Starting Kalvora on the demo data; close its window to end the demo."
    echo "The simulator's log goes to $sim_log."
    in_private_network bash -c '
        "$1/kalvora-callsim" play --loop "$2" >"$3" 2>&1 &
        sim=$!
        "$1/kalvora"
        kill $sim 2>/dev/null || true' demo "$build" "$scenario" "$sim_log"
    exit 0
fi

seconds=${DEMO_SECONDS:-35}
shot="$build/demo.png"
echo "No display here: running the demo under Xvfb for $seconds seconds."
in_private_network xvfb-run -a -s "-screen 0 1600x900x24" bash -c '
    "$1/kalvora-callsim" play --loop "$2" >"$3" 2>&1 &
    sim=$!
    KALVORA_NONINTERACTIVE=1 "$1/kalvora" >"$1/demo-console.log" 2>&1 &
    console=$!
    sleep "$4"
    import -window root "$5"
    kill $console $sim 2>/dev/null || true
    wait' demo "$build" "$scenario" "$sim_log" "$seconds" "$shot"
echo "Screenshot of the running console: $shot"
