#!/usr/bin/env bash
# Installs what is needed, builds, and runs the desk in the current directory (its state
# files, Data.dat, Orderlist.xml and Notifications.txt, live there; config.ini lives beside
# the executable). Without a display the desk runs under Xvfb.
#
# --demo: the desk trades in a private folder (DEMO_DIR, or a new one under /tmp) against a
# fleet of 40 EAs with failures, until the desk is closed (or Ctrl+C): 5,000 prepared
# transactions, and then the desk's own automatic ones. Under Xvfb a screenshot of the ADMIN
# PANEL goes into the folder every 10 seconds.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" != "--demo" ]; then
    "$here/scripts/install-deps.sh"
    BUILD_DIR="$here/build" "$here/scripts/build.sh" -DCMAKE_BUILD_TYPE=Release >/dev/null
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$here/build/quorvel" "$@"
    else
        exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/build/quorvel" "$@"
    fi
fi

shift
"$here/scripts/install-deps.sh" --demo
BUILD_DIR="$here/build" "$here/scripts/build.sh" -DCMAKE_BUILD_TYPE=Release >/dev/null
ea="$here/build/quorvel-ea"
demo="${DEMO_DIR:-$(mktemp -d /tmp/quorvel-demo-XXXXXX)}"
mkdir -p "$demo/xdg"
chmod 0700 "$demo/xdg"
# The demo's own link: a desk the user runs elsewhere is left alone.
export XDG_RUNTIME_DIR="$demo/xdg"
# 20 credits for the desk's automatic transactions, at an alert level the fleet reaches.
"$ea" prepare "$demo" --eas 40 --transactions 5000 --auto-trades 20 >/dev/null
cp "$here/build/quorvel" "$demo/"

pids=()
cleanup() {
    trap - EXIT INT TERM
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    echo "demo: the desk's files and screenshots are in $demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

xvfb=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    for n in $(seq 99 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { xvfb=":$n"; break; }
    done
    [ -n "$xvfb" ] || { echo "demo: no free X display number" >&2; exit 1; }
    Xvfb "$xvfb" -screen 0 1280x1024x24 -nolisten tcp >"$demo/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY="$xvfb"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

(cd "$demo" && exec ./quorvel >"$demo/desk.log" 2>&1) &
desk=$!
pids+=("$desk")
for _ in $(seq 300); do
    "$ea" send WM_APP+600 0 0 >/dev/null 2>&1 && break
    kill -0 "$desk" 2>/dev/null || { echo "demo: the desk did not start (see $demo/desk.log)" >&2; exit 1; }
    sleep 0.1
done
echo "demo: desk $desk trading in $demo${xvfb:+ under Xvfb $xvfb (screenshots every 10 s)}; close the desk or press Ctrl+C to end"

# The desk keeps trading once the prepared transactions have ended through its automatic
# transactions: "Reset AT" ticks "AutoTrade activ" with the "MaxAutoTrades" credits, and each
# transaction that ends gives its credit back a minute or more later. Under Xvfb the demo
# clicks it (at its place on the settings bar of the main window, which lies at the top left
# of the screen there); on a display of your own, click it yourself.
if [ -n "$xvfb" ]; then
    main=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quorvel$' | head -1 || true)
    if [ -n "$main" ] && xdotool mousemove --window "$main" 426 12 click 1; then
        echo "demo: clicked \"Reset AT\": the desk places transactions of its own as well"
    else
        echo "demo: could not click \"Reset AT\"; the desk trades the prepared transactions only" >&2
    fi
else
    echo "demo: click \"Reset AT\" on the desk's settings bar to let it place transactions of its own"
fi

if [ -n "$xvfb" ]; then
    (
        while kill -0 "$desk" 2>/dev/null; do
            xwd -root -silent -display "$xvfb" | convert xwd:- "$demo/admin-panel-$(date +%H%M%S).png" 2>/dev/null || true
            sleep 10
        done
    ) &
    pids+=($!)
fi

# Trades while the desk runs (a day's run of the fleet after another); the fleet's line of
# every second goes to the terminal.
(
    fleet=""
    trap '[ -z "$fleet" ] || kill "$fleet" 2>/dev/null; exit 0' TERM
    while kill -0 "$desk" 2>/dev/null; do
        "$ea" fleet --eas 40 --seconds 86400 --fail-rate 0.1 --brief --dir "$demo" &
        fleet=$!
        wait "$fleet" || true
    done
) &
pids+=($!)
while kill -0 "$desk" 2>/dev/null; do sleep 1; done
