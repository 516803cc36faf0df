#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from the repository's clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang-format
fi
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "format: every source follows .clang-format"
