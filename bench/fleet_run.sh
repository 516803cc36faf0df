#!/usr/bin/env bash
# The trading measurement on one command: a Release desk under Xvfb with the ADMIN PANEL in front
# (as it is at start) trades with a fleet of 200 EAs over 20 tables, on an order list of 400
# waiting transactions and 100,000 closed legs; prints the per-message round trips, the longest
# round trip of the run, the longest time the desk's event loop did not come round (the desk's
# QUORVEL_STALLS=1 report) and the load average.
#
#   bench/fleet_run.sh [SECONDS] [-- more quorvel-ea fleet options]
#
# Builds the desk and the tools in build-fleet-release/ (BUILD_DIR names another folder).
# DESK=PATH measures another desk binary (an older build, say) with the same fleet.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build-fleet-release}"
seconds="${1:-30}"
shift $(($# < 1 ? $# : 1))
[ "${1:-}" = "--" ] && shift
extra=("$@")

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target quorvel quorvel-ea

run="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fleet-XXXXXX")"
xvfb=""
cleanup() {
    if [ -s "$run/desk.pid" ] && kill -0 "$(cat "$run/desk.pid")" 2>/dev/null; then
        kill -TERM "$(cat "$run/desk.pid")" 2>/dev/null || true
    fi
    [ -n "$xvfb" ] && wait "$xvfb" 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT

mkdir -p "$run/bin" "$run/xdg"
chmod 700 "$run/xdg"
cp "${DESK:-$build/quorvel}" "$run/bin/quorvel" # config.ini lives beside the executable
"$build/quorvel-ea" prepare "$run" --eas 200 --tables 20 --transactions 400 --history 100000 \
    --config "$run/bin/config.ini"

socket="$run/xdg/Quorvel/TForm3"
(cd "$run" && XDG_RUNTIME_DIR="$run/xdg" QUORVEL_STALLS=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    sh -c 'echo $$ >"$0/desk.pid"; exec "$0/bin/quorvel"' "$run" 2>"$run/stderr.log") &
xvfb=$!
for _ in $(seq 1 600); do
    "$build/quorvel-ea" send WM_APP+600 1 0 --socket "$socket" >/dev/null 2>&1 && break
    sleep 0.05
done
echo "desk up (pid $(cat "$run/desk.pid")); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$build/quorvel-ea" fleet --socket "$socket" --eas 200 --tables 20 --seconds "$seconds" --fail-rate 0.05 \
    --brief --dir "$run" --stop-desk "$(cat "$run/desk.pid")" "${extra[@]}" | tee "$run/fleet.log" ||
    status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '/^  WM_APP\+/ { if ($NF + 0 > max) { max = $NF + 0; name = $1 " " $2 } }
     END { if (max) printf "longest round trip of the run: %.1f us (%s)\n", max, name }' "$run/fleet.log"
wait "$xvfb" 2>/dev/null || true
xvfb=""
[ -s "$run/stderr.log" ] && { echo "desk stderr:"; cat "$run/stderr.log"; }
exit "$status"
