#!/usr/bin/env bash
# Screenshots of the console on the demo data with two calls (one with its
# bill), at scale 1 on a 1600x900 screen and at QT_SCALE_FACTOR=2 on a
# 3200x1800 one, for comparing how the plan, the markers and the labels sit
# and look on a high-density screen:
#   scripts/shoot-scales.sh [BUILD] [OUT]   (default build/, docs/)
# writes OUT/scale1.png and OUT/scale2.png. Runs Xvfb, openbox, the call
# simulator and a copy of BUILD's console in a private network namespace.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$root/docs}" && cd "${2:-$root/docs}" && pwd)

if [[ ${SHOOT_INSIDE:-} != 1 ]]; then
    source "$root/scripts/deps.sh"
    ensure_packages demo || exit 2
    if [[ ${KALVORA_PRIVATE_NETWORK:-} == 1 ]]; then
        SHOOT_INSIDE=1 bash "$0" "$build" "$out"
    else
        SHOOT_INSIDE=1 in_private_network bash "$0" "$build" "$out"
    fi
    exit $?
fi

shoot() { # SCALE SCREEN FILE
    local work pids=() pid
    work=$(mktemp -d)
    mkdir -p "$work/console"
    cp "$build/kalvora" "$work/console/"
    cp -r "$root/demo/data" "$work/console/data"
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 "$2x24" -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
    exec 3>&-
    export DISPLAY=":$(head -n1 "$work/display")"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    "$build/kalvora-callsim" serve >/dev/null 2>&1 &
    pids+=($!)
    QT_SCALE_FACTOR=$1 KALVORA_NONINTERACTIVE=1 "$work/console/kalvora" >"$work/console.log" 2>&1 &
    pids+=($!)
    sleep 3
    "$build/kalvora-callsim" send --responsible "Медсестра Иванова" --name "Палата 1, койка 2" \
        call 102 >/dev/null
    "$build/kalvora-callsim" send --responsible "Медсестра Петрова" --name "Палата 2, койка 1" \
        bill 104 >/dev/null
    sleep 3
    import -window root "$3"
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait
    rm -rf "$work"
    echo "$3"
}

shoot 1 1600x900 "$out/scale1.png"
shoot 2 3200x1800 "$out/scale2.png"
