#!/usr/bin/env bash
# Builds demo/data/fault.wav, the sound of a lost link to the call server:
# a two-tone alarm (960 Hz and 770 Hz, high-low-high-low, 0.18 s each with
# 0.02 s gaps: 0.8 s in all), 16-bit PCM, 44.1 kHz, mono. Square waves with
# their harmonics above 3 kHz taken off, so it is harsh enough to stand out
# from the call chimes without being shrill.
#   tools/make-fault-sound.sh [OUTPUT]     default: demo/data/fault.wav
# Needs sox (Debian package). Repeatable mode, no dither: the output is
# byte-identical on every run. tools/make-demo-data.sh calls this too.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/demo/data/fault.wav}"

command -v sox >/dev/null 2>&1 || {
    echo "make-fault-sound: 'sox' not found; install the Debian package 'sox'" >&2
    exit 1
}

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

FORMAT=(-D -r 44100 -e signed-integer -b 16 -c 1)

tone() { # tone FILE FREQUENCY
    sox -R -n "${FORMAT[@]}" "$1" synth 0.18 square "$2" lowpass 3000 fade q 0.006 0.18 0.012
}

tone "$WORK/high.wav" 960
tone "$WORK/low.wav" 770
sox -R -n "${FORMAT[@]}" "$WORK/gap.wav" trim 0 0.02
sox -R "$WORK/high.wav" "$WORK/gap.wav" "$WORK/low.wav" "$WORK/gap.wav" \
    "$WORK/high.wav" "$WORK/gap.wav" "$WORK/low.wav" "$WORK/gap.wav" \
    "${FORMAT[@]}" "$OUT" vol 0.4
