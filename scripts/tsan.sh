#!/usr/bin/env bash
# Builds the desk and its tests with ThreadSanitizer in build-tsan/ and runs the tests that
# exercise threads: the link and its I/O lanes, the remote link, the auto-save's writer, the
# journal, and every end-to-end test (the built desk through the real link, the protocol
# scenarios over the link among them).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-tsan}
rm -rf "$BUILD_DIR"
BUILD_DIR="$BUILD_DIR" scripts/build.sh -DQUORVEL_TSAN=ON -DQUORVEL_BENCH=OFF -DQUORVEL_WERROR=ON
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan/suppressions.txt ${TSAN_OPTIONS:-}"
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 600 \
    -R 'Link|Remote|CLink|AutoSave|Autosave|Journal' -L 'unit|gui'
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 600 -L e2e
