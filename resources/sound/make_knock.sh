#!/usr/bin/env bash
# Synthesises knock_door.wav: three short wooden knocks (a falling sine thump with a little brown
# noise), 8 kHz 16-bit mono. Needs sox.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sox -n -r 8000 -c 1 -b 16 "$tmp/thump.wav" synth 0.09 sine 170-90 fade q 0.005 0.09 0.07 gain -3
sox -n -r 8000 -c 1 -b 16 "$tmp/noise.wav" synth 0.05 brownnoise fade q 0.002 0.05 0.045 gain -12
sox -n -r 8000 -c 1 -b 16 "$tmp/gap.wav" trim 0 0.16
sox -m "$tmp/thump.wav" "$tmp/noise.wav" "$tmp/hit.wav"
sox "$tmp/hit.wav" "$tmp/gap.wav" "$tmp/hit.wav" "$tmp/gap.wav" "$tmp/hit.wav" knock_door.wav
