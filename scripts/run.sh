#!/usr/bin/env bash
# Installs what is needed, builds, and runs the desk in the current directory (its state
# files, Data.dat, Orderlist.xml and Notifications.txt, live there; config.ini lives beside
# the executable). Without a display the desk runs under Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
BUILD_DIR="$here/build" "$here/scripts/build.sh" -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$here/build/quorvel" "$@"
else
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/build/quorvel" "$@"
fi
