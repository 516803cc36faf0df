#!/usr/bin/env bash
# Installs what is needed, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
rm -rf "$BUILD_DIR"
BUILD_DIR="$BUILD_DIR" scripts/build.sh "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 300
