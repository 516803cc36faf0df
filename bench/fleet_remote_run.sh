#!/usr/bin/env bash
# The trading measurement of bench/fleet_run.sh over the remote link: the same Release desk under
# Xvfb (ADMIN PANEL in front, 400 waiting transactions, 100,000 closed legs, 200 EAs over 20
# tables), listening on 127.0.0.1 as well, with four terminal machines enrolled for 50 EA IDs
# each (whole tables), and four fleet processes, one a machine, trading over TLS at once. Prints
# each process's per-message table, the four side by side (the fleet's p50 and p99 of a message
# lie between the smallest and the largest of the four), the check of the order list after the
# desk has stopped and saved, and the load average.
#
#   bench/fleet_remote_run.sh [SECONDS] [-- more quorvel-ea fleet options]
#
# Builds in build-fleet-release/ (BUILD_DIR names another folder); PORT=N listens on that port
# (default: a free one). DESK=PATH measures another desk binary.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build-fleet-release}"
seconds="${1:-30}"
shift $(($# < 1 ? $# : 1))
[ "${1:-}" = "--" ] && shift
extra=("$@")
machines=4

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target quorvel quorvel-ea

run="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fleet-remote-XXXXXX")"
xvfb=""
fleets=()
cleanup() {
    for p in "${fleets[@]}"; do kill "$p" 2>/dev/null || true; done
    if [ -s "$run/desk.pid" ] && kill -0 "$(cat "$run/desk.pid")" 2>/dev/null; then
        kill -TERM "$(cat "$run/desk.pid")" 2>/dev/null || true
    fi
    [ -n "$xvfb" ] && wait "$xvfb" 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT

# A port on 127.0.0.1 that nothing answers on.
port="${PORT:-}"
if [ -z "$port" ]; then
    for p in $(shuf -i 20000-60999 -n 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { port=$p; break; }
    done
fi
[ -n "$port" ] || { echo "fleet_remote_run: no free port found" >&2; exit 1; }

mkdir -p "$run/bin" "$run/xdg"
chmod 700 "$run/xdg"
cp "${DESK:-$build/quorvel}" "$run/bin/quorvel" # config.ini lives beside the executable
"$build/quorvel-ea" prepare "$run" --eas 200 --tables 20 --transactions 400 --history 100000 \
    --config "$run/bin/config.ini"
printf '[Link]\r\nListen=127.0.0.1:%s\r\n' "$port" >>"$run/bin/config.ini"
# The desk keeps its link key and the enrolled machines in its working directory.
for m in $(seq 1 $machines); do
    "$build/quorvel-ea" enrol "machine-$m" --ids "$((50 * m - 49))-$((50 * m))" --dir "$run" \
        --out "$run/machine-$m.pem" | grep '^Enrolled'
done

socket="$run/xdg/Quorvel/TForm3"
(cd "$run" && XDG_RUNTIME_DIR="$run/xdg" exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    sh -c 'echo $$ >"$0/desk.pid"; exec "$0/bin/quorvel"' "$run" 2>"$run/stderr.log") &
xvfb=$!
up=""
for _ in $(seq 1 600); do
    if "$build/quorvel-ea" send WM_APP+600 1 0 --connect "127.0.0.1:$port" --cert "$run/machine-1.pem" \
        >/dev/null 2>&1; then
        up=1
        break
    fi
    sleep 0.05
done
if [ -z "$up" ]; then
    echo "fleet_remote_run: the desk does not answer on 127.0.0.1:$port" >&2
    cat "$run/stderr.log" >&2
    exit 1
fi
echo "desk up (pid $(cat "$run/desk.pid")) on 127.0.0.1:$port; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

for m in $(seq 1 $machines); do
    XDG_RUNTIME_DIR="$run/xdg" "$build/quorvel-ea" fleet --connect "127.0.0.1:$port" \
        --cert "$run/machine-$m.pem" --eas 200 --tables 20 --ids "$((50 * m - 49))-$((50 * m))" \
        --seconds "$seconds" --fail-rate 0.05 --seed "$m" --brief --dir "$run" "${extra[@]}" \
        >"$run/fleet-$m.log" 2>&1 &
    fleets+=($!)
done
status=0
for m in $(seq 1 $machines); do
    wait "${fleets[$((m - 1))]}" || { echo "fleet process $m ended with $?"; status=1; }
done
fleets=()
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

for m in $(seq 1 $machines); do
    echo
    echo "== machine-$m =="
    grep -v '^ *[0-9.]* s  opened' "$run/fleet-$m.log" || true
done

echo
echo "the four side by side (microseconds): p50 and p99 of each process, smallest..largest"
awk '/^  WM_APP\+/ {
        key = $1 " " $2; n[key] += $3
        if (!(key in lo50) || $4 < lo50[key]) lo50[key] = $4
        if ($4 > hi50[key]) hi50[key] = $4
        if (!(key in lo99) || $5 < lo99[key]) lo99[key] = $5
        if ($5 > hi99[key]) hi99[key] = $5
        if ($6 > mx[key]) mx[key] = $6
        if (!(key in seen)) { seen[key] = 1; order[++k] = key }
     }
     END {
        printf "  %-39s %10s %17s %17s %9s\n", "message", "count", "p50", "p99", "max"
        for (i = 1; i <= k; ++i) { key = order[i]
            printf "  %-39s %10d %8.1f..%-8.1f %8.1f..%-8.1f %9.1f\n", key, n[key], lo50[key], hi50[key],
                   lo99[key], hi99[key], mx[key] }
     }' "$run"/fleet-*.log

# Every share has ended: stop the desk (SIGTERM saves the order list) and check what it saved.
kill -TERM "$(cat "$run/desk.pid")"
wait "$xvfb" 2>/dev/null || true
xvfb=""
echo
"$build/quorvel-ea" check "$run" || status=$?
[ -s "$run/stderr.log" ] && { echo "desk stderr:"; cat "$run/stderr.log"; }
exit "$status"
