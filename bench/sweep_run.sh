#!/usr/bin/env bash
# Runs the built desk on a trading desk's order list (200 EAs over 20 tables, 400 waiting
# transactions, 100,000 closed legs) with the EA fleet trading, and records the desk with perf
# across its first minute sweeps. Prints where the GUI thread spent the samples whose stack
# holds the sweeps, by the function that called into the rest of the desk.
#
#   bench/sweep_run.sh [BUILD_DIR] [SECONDS]
#
# Defaults: build-test, 75 seconds of trading (the first sweep falls 60 s after the start).
# QUORVEL_DESK names another desk executable (to compare builds); the tools stay BUILD_DIR's.
# QUORVEL_SWEEP=N records around the N-th sweep instead of the first (give SECONDS > N x 60).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build-test}" && pwd)"
seconds="${2:-75}"
run="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-sweep-XXXXXX")"
desk=""
cleanup() {
    if [ -n "$desk" ] && kill -0 "$desk" 2>/dev/null; then
        kill -TERM "$desk" 2>/dev/null || true
        wait "$desk" 2>/dev/null || true
    fi
    rm -rf "$run"
}
trap cleanup EXIT

mkdir -p "$run/bin" "$run/xdg" "$run/desk"
chmod 700 "$run/xdg"
cp "${QUORVEL_DESK:-$build/quorvel}" "$run/bin/quorvel"
"$build/quorvel-ea" prepare "$run/desk" --eas 200 --tables 20 --transactions 400 --history 100000 \
    --config "$run/bin/config.ini"
socket="$run/xdg/Quorvel/TForm3"
started=$(date +%s.%N) # the minute timer starts with the main window, right after this
(cd "$run/desk" && XDG_RUNTIME_DIR="$run/xdg" QT_QPA_PLATFORM=offscreen exec "$run/bin/quorvel" 2>"$run/stderr.log") &
desk=$!
for _ in $(seq 1 400); do
    "$build/quorvel-ea" send WM_APP+600 1 0 --socket "$socket" >/dev/null 2>&1 && break
    sleep 0.05
done
echo "desk up; the sweeps fall every 60 s after its start"
"$build/quorvel-ea" fleet --eas 200 --tables 20 --seconds "$seconds" --fail-rate 0.05 --socket "$socket" \
    --brief >"$run/fleet.log" 2>&1 &
fleet=$!
# From two seconds before the sweep to four after it, with the stacks read from the
# debug information (the build keeps no frame pointers).
sleep "$(awk -v s="$started" -v n="$(date +%s.%N)" -v m="${QUORVEL_SWEEP:-1}" 'BEGIN { d = s + 60 * m - 2 - n; print (d > 0 ? d : 0) }')"
perf record -F 1000 --call-graph dwarf,32768 -p "$desk" -o "$run/perf.data" -- sleep 6 >/dev/null 2>&1 || true
wait "$fleet" || true
tail -5 "$run/fleet.log"
# Samples inside the sweeps, by the first frame below the housekeeping (what it called).
perf script -i "$run/perf.data" 2>/dev/null | awk '
    /^$/ { if (inside) { n++; by[callee]++ } inside = 0; callee = ""; prev = ""; next }
    /^[^ \t]/ { next }
    {
        sym = $2
        if (sym ~ /OrderHousekeeping/) { if (!inside) callee = prev; inside = 1 }
        if (!inside) prev = sym
    }
    END {
        printf "%d samples in the sweeps (1000 a second)\n", n
        for (c in by) printf "%7d  %s\n", by[c], c | "sort -rn | head -25"
    }'
