#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the desk need.
set -euo pipefail
PKGS=(g++ cmake ninja-build qt6-base-dev xvfb xauth libpugixml-dev libgtest-dev libgmock-dev
      libbenchmark-dev fontconfig fonts-dejavu-core clang libclang-rt-14-dev libssl-dev)
# scripts/run.sh --demo takes screenshots under Xvfb: xwd, and convert to write them as PNG;
# xdotool clicks "Reset AT" there.
[ "${1:-}" = "--demo" ] && PKGS+=(x11-apps imagemagick x11-utils xdotool)
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

# The windows are laid out in Tahoma, and the order grid counts its column widths in the width
# of Tahoma's "0". fonts-wine ships a Tahoma of the same metrics in a folder fontconfig does not
# search; this configuration adds its two Tahoma files (and none of the other fonts there), so
# that every Qt platform, offscreen and X11 alike, finds "Tahoma".
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg-query -W -f='${Status}' fonts-wine 2>/dev/null | grep -q "install ok installed"; then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends fonts-wine
fi
WINE_FONTS=/usr/share/wine/fonts
TAHOMA_CONF=/etc/fonts/conf.d/09-quorvel-tahoma.conf
read -r -d '' conf <<EOF || true
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>$WINE_FONTS</dir>
  <selectfont>
    <acceptfont><glob>$WINE_FONTS/tahoma*.ttf</glob></acceptfont>
    <rejectfont><glob>$WINE_FONTS/*</glob></rejectfont>
  </selectfont>
</fontconfig>
EOF
if [ ! -f "$TAHOMA_CONF" ] || [ "$(cat "$TAHOMA_CONF")" != "$conf" ]; then
    printf '%s\n' "$conf" | $SUDO tee "$TAHOMA_CONF" >/dev/null
    $SUDO fc-cache "$WINE_FONTS"
fi
if [ "$(fc-match -f '%{family}' Tahoma)" != "Tahoma" ]; then
    echo "install-deps: fontconfig does not find Tahoma (expected in $WINE_FONTS/tahoma.ttf)" >&2
    exit 1
fi
