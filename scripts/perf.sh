#!/usr/bin/env bash
# Measures the console end to end against its performance budgets and prints a
# table (also written to BUILD/perf-report.md). See docs/PERFORMANCE.md.
#
#   scripts/perf.sh                 build in build/ and measure
#   KALVORA_BUILD_DIR=DIR scripts/perf.sh     build and measure in DIR
#   PERF_IDLE_SECONDS=30 PERF_QUICK=1         shorter runs while trying things out
#
# Everything runs inside a private network namespace whose only interface is
# loopback (the console broadcasts a ping twice a second), under a private
# Xvfb server; where the system allows no such namespace, nothing is measured.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
build=${KALVORA_BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac

if [[ ${KALVORA_PRIVATE_NETWORK:-} != 1 ]]; then
    ensure_packages build demo
    cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_BUILD_BENCHMARKS=ON)
    cmake -S "$root" -B "$build" "${cmake_args[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target kalvora kalvora-perf kalvora-bench
    status=0
    KALVORA_BUILD_DIR=$build in_private_network "$0" "$@" || status=$?
    if [[ $status -eq 125 ]]; then
        echo "error: the measurements need a private network namespace, which this system does not allow; nothing was measured." >&2
    fi
    exit $status
fi

# ---- inside the private network namespace -----------------------------------
if ip -o link show | grep -qv ': lo:'; then
    echo "error: this namespace has interfaces other than loopback; refusing to run." >&2
    exit 125
fi

perf=$build/kalvora-perf
quick=${PERF_QUICK:-0}
idle_seconds=${PERF_IDLE_SECONDS:-30}
work=$(mktemp -d)
xpid=
cleanup() {
    local pids
    pids=$(jobs -p)
    [[ -n $pids ]] && kill $pids 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A private X server; it picks a free display number itself. Without
# -noreset it resets when its last client leaves, and a client that connects
# during the reset may wait for it forever.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "error: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -1 "$work/display")
export QT_QPA_PLATFORM=xcb KALVORA_NONINTERACTIVE=1 QT_LOGGING_RULES='qt.multimedia*=false;qt.qpa.*=false'
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

results=$work/results
: >"$results"
note() { echo "== $*" >&2; }
failures=()
run() { # keeps the RESULT lines of a harness run; a failed (or hung) run leaves its cells empty
    timeout --kill-after=5 600 "$@" 2>>"$work/harness.log" | tee -a "$work/harness.out" | grep '^RESULT ' >>"$results" || {
        echo "error: ${*#$build/} failed:" >&2
        tail -5 "$work/harness.log" >&2
        failures+=("${*#$build/}")
    }
}
# get NAME FILTER KEY: the value of KEY in the RESULT line NAME whose text matches FILTER.
get() {
    grep "^RESULT $1 " "$results" | grep -e "$2" | head -1 | tr ' ' '\n' | sed -n "s/^$3=//p"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- micro-benchmarks of dispatch, tick and lookup --------------------------
note "micro-benchmarks (dispatch, tick, lookup, loading the bed file)"
reps=3
[[ $quick == 1 ]] && reps=1
"$build/kalvora-bench" --benchmark_filter='BM_(DispatchCall|DispatchRepeatedCall|DispatchCancel|Tick|LookupIndexed|LookupLinear)/|BM_LoadBedFile/10000' \
    --benchmark_repetitions=$reps --benchmark_format=csv 2>"$work/bench.log" >"$work/bench.csv" || { tail -5 "$work/bench.log" >&2; exit 1; }
# bench NAME COLUMN: the median over the repetitions (column 4 cpu_time, 7 items/s;
# the aggregate rows have other names and are left out).
bench() {
    awk -F, -v n="\"$1\"" -v c="$2" '$1 == n { v[++k] = $c } END {
        if (k == 0) { print "nan"; exit }
        for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        print v[int((k + 1) / 2)] }' "$work/bench.csv"
}
per_event_us() { awk -v r="$(bench "$1" 7)" 'BEGIN { printf "%.2f", 1e6 / r }'; }

# ---- pictures made for the measurements ------------------------------------
# Made here with ImageMagick from the demo's own pictures: every bed picture
# (idle, calling, overdue) as a two-frame GIF of 100 ms frames (the first frame
# and its negative), and idle pictures of kinds 0 to 4 with frames of 10, 20,
# 50 and 150 ms and of a delay of 0 (50 ms), for the frame timing.
pics_anim=$work/pictures-100ms
pics_delays=$work/pictures-delays
mkdir -p "$pics_anim" "$pics_delays"
two_frames() { # SOURCE DELAY TARGET
    convert "$1[0]" \( +clone -negate \) -set delay "$2" -loop 0 "$3"
}
for set in bed greenbed redbed; do
    for k in $(seq 0 19); do
        two_frames "$root/demo/data/$set$k.gif" 10 "$pics_anim/$set$k.gif"
    done
done
gif_delays=(1 2 5 15 0)
for k in "${!gif_delays[@]}"; do
    two_frames "$root/demo/data/bed$k.gif" "${gif_delays[$k]}" "$pics_delays/bed$k.gif"
done
gif_delay_list=$(IFS=,; echo "${gif_delays[*]}")

# ---- datagram to painted picture, and loss ----------------------------------
lat_seconds=10
[[ $quick == 1 ]] && lat_seconds=4
for design in console plain; do
    listener=()
    [[ $design == plain ]] && listener=(--listener plain)
    note "latency, $design listener: 100/s, 1,000 animated beds"
    run "$perf" latency --beds 1000 --rate 100 --seconds $((lat_seconds * 2)) --pictures "$pics_anim" "${listener[@]}"
    note "latency, $design listener: 5000/s, 1,000 animated beds"
    run "$perf" latency --beds 1000 --rate 5000 --seconds $lat_seconds --pictures "$pics_anim" "${listener[@]}"
    note "loss, $design listener: burst of 20,000"
    run "$perf" latency --beds 1000 --rate 20000 --seconds 1 --burst --pictures "$pics_anim" "${listener[@]}"
done

# ---- frame timing -------------------------------------------------------------
frame_seconds=10
[[ $quick == 1 ]] && frame_seconds=4
for design in console movies; do
    note "frame timing, $design"
    run "$perf" frames --pictures "$pics_delays" --gif-delays "$gif_delay_list" --beds 100 \
        --seconds $frame_seconds --design $design
done

# ---- start-up ---------------------------------------------------------------
note "start-up"
runs=5
[[ $quick == 1 ]] && runs=2
run "$perf" startup --beds 1000 --runs $runs --design console
run "$perf" startup --beds 10000 --runs $runs --design console
run "$perf" startup --beds 1000 --runs 3 --design movies
# Each QMovie keeps its file open: 10,000 beds may exceed the descriptor limit.
"$perf" startup --beds 10000 --runs 1 --design movies 2>>"$work/harness.log" | grep '^RESULT ' >>"$results" \
    || echo "RESULT startup design=movies beds=10000 median_ms=failed rss_mb=failed" >>"$results"

# ---- idle cost of the real console and of the straightforward design -------
# sample_process NAME PID: CPU share and wake-ups over the idle window.
sample_process() {
    run "$perf" sample --pid "$2" --seconds "$idle_seconds" --name "$1" --xpid "$xpid"
}
wait_window() { # waits until the process has painted (a short grace after start)
    sleep 5
    kill -0 "$1" 2>/dev/null || { echo "error: process $1 ended early" >&2; return 1; }
}
# idle CASE PICTURES CALLS: the real console and the straightforward design on a
# ward of 1,000 beds, CALLS of them calling.
idle() {
    local case=$1 pictures=$2 calls=$3 ward=$work/ward-$1 port pid
    mkdir -p "$ward"
    port=$("$perf" make-ward --dir "$ward" --beds 1000 ${pictures:+--pictures "$pictures"} \
        --red-sec 1000000 --max-sec 1000000)
    cp "$build/kalvora" "$ward/kalvora"
    note "idle, real console, $case ($idle_seconds s)"
    "$ward/kalvora" 2>>"$work/console.log" &
    pid=$!
    wait_window $pid
    if [[ $calls -gt 0 ]]; then
        # Spread over three seconds, the calls start their animations at all
        # ten 10 ms phases of a 100 ms frame, as calls over a day would.
        run "$perf" calls --port "$port" --count "$calls" --rate 67
        sleep 3
    fi
    sample_process "idle_console_$case" $pid
    kill $pid; wait $pid 2>/dev/null || true

    note "idle, QLabel + QMovie per bed, $case ($idle_seconds s)"
    "$perf" movies --data "$ward/data" --calls "$calls" 2>>"$work/harness.log" &
    pid=$!
    wait_window $pid
    sample_process "idle_movies_$case" $pid
    kill $pid; wait $pid 2>/dev/null || true
}
idle animated "$pics_anim" 0
idle calls "$pics_anim" 200
idle still "" 0

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- the table ---------------------------------------------------------------
d10=$(per_event_us BM_DispatchCall/10)
d10k=$(per_event_us BM_DispatchCall/10000)
rep10k=$(per_event_us BM_DispatchRepeatedCall/10000)
can10k=$(per_event_us BM_DispatchCancel/10000)
round() { awk -v v="$1" -v d="$2" 'BEGIN { if (v ~ /^[0-9.]+$/) printf "%.*f", d, v; else print v }'; }
tick=$(round "$(bench BM_Tick/1000 4)" 0)
idx=$(round "$(bench BM_LookupIndexed/10000 4)" 0)
lin=$(round "$(bench BM_LookupLinear/10000 4)" 0)
load10k=$(round "$(bench BM_LoadBedFile/10000 4)" 0)
# The same dispatch with the linear search it replaced: the benchmark's events
# go to beds spread evenly over the list, so on average half the list is
# searched (the linear benchmark searches for the last bed).
d10k_linear=$(awk -v d="$d10k" -v l="$lin" -v i="$idx" 'BEGIN { printf "%.2f", d + (l / 2 - i) / 1000 }')

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b ~ /^[0-9.]+$/) printf "%.1f×", b / a; else print "—" }'; }
verdict() { awk -v ok="$1" 'BEGIN { print (ok == 1 ? "met" : "**NOT MET**") }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 <= b + 0 && a ~ /^[0-9.]+$/) ? 1 : 0 }'; }

L() { get latency "design=$1 beds=1000 rate=$2 " "$3"; }
S() { get startup "design=$1 beds=$2 " "$3"; }
I() { get "idle_$1_$2" . "$3"; }
F() { get frames "design=$1 gif_delay=$2 " "$3"; }

report=$build/perf-report.md
{
    echo "# Kalvora performance ($(date -u '+%Y-%m-%d %H:%M UTC'))"
    echo
    echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo) memory."
    echo "Load average (1, 5, 15 min) before: $load_before; after: $load_after."
    echo
    echo "| Measure | Budget | Kalvora | Straightforward design | Ratio | Budget met |"
    echo "|---|---|---|---|---|---|"
    echo "| Dispatch, call event, 10 beds (µs/event) | — | $d10 | — | — | — |"
    ok=$(awk -v a="$d10k" -v b="$d10" 'BEGIN { print (a <= 5 && a <= 1.5 * b) ? 1 : 0 }')
    echo "| Dispatch, call event, 10,000 beds (µs/event) | ≤ 5, ≤ 1.5× the 10-bed figure ($(awk -v a="$d10k" -v b="$d10" 'BEGIN { printf "%.2f×", a / b }')) | $d10k | $d10k_linear (linear bed search) | $(ratio "$d10k" "$d10k_linear") | $(verdict "$ok") |"
    echo "| Dispatch, repeated call, 10,000 beds (µs/event) | — | $rep10k | — | — | — |"
    echo "| Dispatch, cancel, 10,000 beds (µs/event) | — | $can10k | — | — | — |"
    echo "| Bed lookup, 10,000 beds (ns) | — | $idx | $lin (linear, last bed) | $(ratio "$idx" "$lin") | — |"
    echo "| Tick with 1,000 active calls (µs) | ≤ 1000 | $tick | — | — | $(verdict "$(le "$tick" 1000)") |"
    for case in animated calls still; do
        case $case in
            animated) what="Idle, 1,000 beds, every icon a two-frame 100 ms GIF, labels on"; budget=2.5 ;;
            calls) what="Same, 200 calls running"; budget=4 ;;
            still) what="Idle, 1,000 beds, still pictures"; budget=0.3 ;;
        esac
        c=$(I console $case cpu_pct); m=$(I movies $case cpu_pct)
        echo "| $what: CPU (% of one core) | ≤ $budget | $c | $m (QLabel + QMovie per bed) | $(ratio "$c" "$m") | $(verdict "$(le "$c" $budget)") |"
        echo "| … wake-ups/s (all threads; main thread); X server CPU (%) | — | $(I console $case wakeups_per_s); $(I console $case main_wakeups_per_s); $(I console $case x_cpu_pct) | $(I movies $case wakeups_per_s); $(I movies $case main_wakeups_per_s); $(I movies $case x_cpu_pct) | — | — |"
    done
    for d in "${gif_delays[@]}"; do
        ms=$(F console "$d" delay_ms)
        mean=$(F console "$d" mean_ms); lo=$(F console "$d" min_ms); hi=$(F console "$d" max_ms)
        ok=$(awk -v m="$mean" -v lo="$lo" -v hi="$hi" -v d="$ms" 'BEGIN { print (m ~ /^[0-9.]+$/ && m - d <= 2 && d - m <= 2 && d - lo <= 10 && hi - d <= 10) ? 1 : 0 }')
        label="$ms ms frames"
        [[ $d == 0 ]] && label="frames of delay 0 (50 ms)"
        echo "| Frame timing, $label, 100 beds: mean / p1 / p99 / min / max (ms); frames within ±10 ms | mean ±2, every frame ±10 | $mean / $(F console "$d" p1_ms) / $(F console "$d" p99_ms) / $lo / $hi; $(F console "$d" within10_pct) % | $(F movies "$d" mean_ms) / $(F movies "$d" p1_ms) / $(F movies "$d" p99_ms) / $(F movies "$d" min_ms) / $(F movies "$d" max_ms); $(F movies "$d" within10_pct) % (QMovie per bed) | — | $(verdict "$ok") |"
    done
    p100=$(L console 100 p99_ms)
    echo "| Datagram → painted picture, 100/s, 1,000 animated beds: p50 / p99 / max (ms) | p99 ≤ 5 | $(L console 100 p50_ms) / $p100 / $(L console 100 max_ms) | $(L plain 100 p50_ms) / $(L plain 100 p99_ms) / $(L plain 100 max_ms) (plain socket) | $(ratio "$p100" "$(L plain 100 p99_ms)") (p99) | $(verdict "$(le "$p100" 5)") |"
    p5k=$(L console 5000 p99_ms); plain5k=$(L plain 5000 p99_ms)
    echo "| Datagram → painted picture, 5000/s, 1,000 animated beds: p50 / p99 / max (ms) | p99 ≤ the plain socket's | $(L console 5000 p50_ms) / $p5k / $(L console 5000 max_ms) | $(L plain 5000 p50_ms) / $plain5k / $(L plain 5000 max_ms) (plain socket) | $(ratio "$p5k" "$plain5k") (p99) | $(verdict "$(le "$p5k" "$plain5k")") |"
    lost=$(L console 5000 lost)
    echo "| Loss at 5,000/s: datagrams not handled, of sent | 0 | $lost of $(L console 5000 sent) | $(L plain 5000 lost) of $(L plain 5000 sent) (plain socket) | — | $(verdict "$(le "$lost" 0)") |"
    blost=$(L console burst lost)
    echo "| Loss, burst of 20,000 back to back | 0 | $blost of $(L console burst sent) | $(L plain burst lost) of $(L plain burst sent) (plain socket) | — | $(verdict "$(le "$blost" 0)") |"
    s10=$(S console 10000 median_ms); r10=$(S console 10000 rss_mb)
    echo "| Start-up to first frame, 10,000 beds (ms, median of $(S console 10000 runs)) | ≤ 300 | $s10 | $(S movies 10000 median_ms) | $(ratio "$s10" "$(S movies 10000 median_ms)") | $(verdict "$(le "$s10" 300)") |"
    echo "| Resident memory after start-up, 10,000 beds (MB) | ≤ 100 | $r10 | $(S movies 10000 rss_mb) | $(ratio "$r10" "$(S movies 10000 rss_mb)") | $(verdict "$(le "$r10" 100)") |"
    s1=$(S console 1000 median_ms); r1=$(S console 1000 rss_mb)
    echo "| Start-up to first frame, 1,000 beds (ms, median of $(S console 1000 runs)) | — | $s1 | $(S movies 1000 median_ms) | $(ratio "$s1" "$(S movies 1000 median_ms)") | — |"
    echo "| Resident memory after start-up, 1,000 beds (MB) | — | $r1 | $(S movies 1000 rss_mb) | $(ratio "$r1" "$(S movies 1000 rss_mb)") | — |"
    echo "| Loading the bed file, 10,000 beds, window not shown (ms) | — | $load10k | — | — | — |"
    echo
    echo "Ratio: the straightforward design's figure divided by Kalvora's. Idle figures over $idle_seconds s;"
    echo "latency at 5,000/s: $(L console 5000 painted) picture changes painted of $(L console 5000 sent) events (the rest are"
    echo "repeated calls, which change no picture); sender's worst lateness $(L console 5000 sender_max_late_ms) ms."
    echo "Latency split (p99), in the socket / handling to paint: at 100/s $(L console 100 queue_p99_ms) / $(L console 100 paint_p99_ms) ms,"
    echo "at 5,000/s $(L console 5000 queue_p99_ms) / $(L console 5000 paint_p99_ms) ms (plain socket: $(L plain 5000 queue_p99_ms) / $(L plain 5000 paint_p99_ms) ms)."
    if [[ ${#failures[@]} -gt 0 ]]; then
        echo
        echo "Runs that failed (their cells are empty):"
        printf -- '- `%s`\n' "${failures[@]}"
    fi
} >"$report"
cat "$report"
echo "(written to $report)"
