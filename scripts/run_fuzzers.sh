#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a bounded time each.
# Usage: scripts/run_fuzzers.sh FUZZ_BUILD_DIR [SECONDS]
# Exits non-zero when there is no target or a target finds a fault (its crash input is kept in
# the work directory, which is printed).
set -u
build=${1:?usage: run_fuzzers.sh FUZZ_BUILD_DIR [SECONDS]}
seconds=${2:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/parlo_fuzz.XXXXXX")
status=0
found=0
for bin in "$build"/fuzz/*/*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    found=1
    name=$(basename "$bin")
    mkdir -p "$work/$name"
    if "$bin" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$work/$name/" "$work/$name" >"$work/$name.log" 2>&1; then
        echo "$name: ok, $(grep -o 'Done [0-9]* runs' "$work/$name.log" | grep -o '[0-9]*' || echo '?') runs"
    else
        echo "$name: FAILED, see $work/$name.log" >&2
        tail -n 30 "$work/$name.log" >&2
        status=1
    fi
done
if [ "$found" -eq 0 ]; then
    echo "no fuzz targets under $build/fuzz" >&2
    status=1
fi
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
