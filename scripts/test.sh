#!/usr/bin/env bash
# Installs what is needed, builds from scratch and runs every test. The tests build in a
# folder of their own (BUILD_DIR, default build-test), so the Release build that
# scripts/run.sh keeps in build/ stays as it is. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-test}
rm -rf "$BUILD_DIR"
BUILD_DIR="$BUILD_DIR" scripts/build.sh -DQUORVEL_WERROR=ON "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 300
