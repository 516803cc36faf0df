#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the desk need.
set -euo pipefail
PKGS=(g++ cmake ninja-build qt6-base-dev xvfb xauth libpugixml-dev libgtest-dev libgmock-dev
      libbenchmark-dev fontconfig fonts-dejavu-core clang libclang-rt-14-dev libssl-dev)
# scripts/run.sh --demo takes screenshots under Xvfb: xwd, and convert to write them as PNG.
[ "${1:-}" = "--demo" ] && PKGS+=(x11-apps imagemagick x11-utils)
missing=()
for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
