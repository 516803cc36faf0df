#!/usr/bin/env bash
# Runs the built desk on a long order list with an auto-save every minute and quotes it through
# the link across that auto-save. The timeline of quorvel-ea shows the longest round trip of
# every second, so the seconds of the save stand out; the time of the save is printed too.
#
#   bench/autosave_run.sh [BUILD_DIR] [LEGS] [SECONDS] [-- more quorvel-ea bench options]
#
# Defaults: build-test, 100000 legs, 75 seconds, 8 EAs quoting 2000 complete quotes per second.
# QUORVEL_DESK names another desk executable to run (to compare builds); the tools stay those
# of BUILD_DIR.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build-test}" && pwd)"
legs="${2:-100000}"
seconds="${3:-75}"
shift $(($# < 3 ? $# : 3))
[ "${1:-}" = "--" ] && shift
extra=("$@")
[ ${#extra[@]} -gt 0 ] || extra=(--clients 8 --quotes-per-second 2000 --wparam 10)

run="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-autosave-XXXXXX")"
desk=""
cleanup() {
    if [ -n "$desk" ] && kill -0 "$desk" 2>/dev/null; then
        kill -TERM "$desk" 2>/dev/null || true
        wait "$desk" 2>/dev/null || true
    fi
    rm -rf "$run"
}
trap cleanup EXIT

mkdir -p "$run/bin" "$run/xdg"
chmod 700 "$run/xdg"
cp "${QUORVEL_DESK:-$build/quorvel}" "$run/bin/quorvel" # config.ini lives beside the executable
printf '[Defaults]\r\nAutoSaveMinutes=1\r\n' >"$run/bin/config.ini"
"$build/bench/make_orderlist" "$legs" "$run/Orderlist.xml"
echo "Orderlist.xml: $legs legs, $(stat -c %s "$run/Orderlist.xml") bytes"

socket="$run/xdg/Quorvel/TForm3"
(cd "$run" && XDG_RUNTIME_DIR="$run/xdg" QT_QPA_PLATFORM=offscreen exec "$run/bin/quorvel" 2>"$run/stderr.log") &
desk=$!
for _ in $(seq 1 200); do
    "$build/quorvel-ea" send WM_APP+600 1 0 --socket "$socket" >/dev/null 2>&1 && break
    sleep 0.05
done
started=$(date +%s.%N)
echo "desk up; the first auto-save falls about 60 s after its start"
"$build/quorvel-ea" bench --socket "$socket" --seconds "$seconds" --every 1 --no-echo "${extra[@]}"
saved=$(stat -c %.3Y "$run/Orderlist.xml")
awk -v a="$saved" -v b="$started" 'BEGIN { printf "Orderlist.xml last written %.1f s after the bench started\n", a - b }'
kill -TERM "$desk"
wait "$desk" || true
desk=""
[ -s "$run/stderr.log" ] && { echo "desk stderr:"; cat "$run/stderr.log"; }
exit 0
