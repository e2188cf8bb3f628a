#!/bin/sh
# Runs each codec fuzzer for a bounded time. Usage: run_fuzzers.sh FUZZ_BUILD_DIR [SECONDS]
# Exits non-zero when a fuzzer is missing or finds a fault (its crash input is kept in the
# work directory, which is printed).
set -u
build=${1:?usage: run_fuzzers.sh FUZZ_BUILD_DIR [SECONDS]}
seconds=${2:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/parlo_codec_fuzz.XXXXXX")
status=0
for name in fuzz_voice_decode fuzz_key_plane fuzz_difference_plane fuzz_frame_record; do
    bin="$build/fuzz/codec/$name"
    if [ ! -x "$bin" ]; then
        echo "missing $bin" >&2
        status=1
        continue
    fi
    mkdir -p "$work/$name"
    if "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$work/$name/" "$work/$name" >"$work/$name.log" 2>&1; then
        echo "$name: ok ($(grep -c . "$work/$name.log") log lines)"
    else
        echo "$name: FAILED, see $work/$name.log" >&2
        tail -n 30 "$work/$name.log" >&2
        status=1
    fi
done
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
