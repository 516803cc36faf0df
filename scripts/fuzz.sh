#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan+UBSan) into BUILD_DIR (default build-fuzz)
# and runs each for FUZZ_SECONDS seconds (default 20), JOBS at a time (default: all at once), from
# the seed corpus in fuzz/corpus/<target>. New inputs go to a scratch corpus, crashes to
# BUILD_DIR/crashes. Arguments name the targets to run (default: all). Extra libFuzzer flags
# may come in FUZZ_FLAGS. Exits non-zero when a target fails.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
SECONDS_PER_TARGET=${FUZZ_SECONDS:-20}
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(orderlist profile datadat notifications dispatch remoterecords)
JOBS=${JOBS:-${#TARGETS[@]}}

if ! command -v clang++ >/dev/null; then
    echo "clang++ not found: the fuzz targets run only from the fallback unit test (fuzz_fallback_tests)"
    exit 0
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DQUORVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    ${CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)"

out="$BUILD_DIR/runs"
mkdir -p "$out" "$BUILD_DIR/crashes"
# The targets' scratch files go to memory where there is a memory file system; a target that
# stops on a fault leaves its files, so the whole folder goes at the end.
scratch_parent=/dev/shm
[ -d "$scratch_parent" ] && [ -w "$scratch_parent" ] || scratch_parent=${TMPDIR:-/tmp}
scratch_root=$(mktemp -d "$scratch_parent/quorvel-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch_root"' EXIT

# Leak checks are off: the targets keep one desk for the whole run (a new one per input would
# cost more than the input), so every input would end in a full leak scan.
run_one() {
    local t=$1
    local corpus="$out/corpus-$t"
    mkdir -p "$corpus" "$BUILD_DIR/crashes/$t"
    TMPDIR="$scratch_root" "$BUILD_DIR/fuzz/fuzz_$t" "$corpus" "fuzz/corpus/$t" \
        -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -detect_leaks=0 \
        -artifact_prefix="$BUILD_DIR/crashes/$t/" ${FUZZ_FLAGS:-} >"$out/$t.log" 2>&1
}

pids=()
names=()
status=0
for t in "${TARGETS[@]}"; do
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -ge "$JOBS" ]; then
        wait "${pids[0]}" || { status=1; echo "fuzz_${names[0]} FAILED: see $out/${names[0]}.log"; }
        pids=("${pids[@]:1}")
        names=("${names[@]:1}")
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || { status=1; echo "fuzz_${names[$i]} FAILED: see $out/${names[$i]}.log"; }
done
for t in "${TARGETS[@]}"; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$t.log" | tail -1)
    if grep -q "Test unit written" "$out/$t.log"; then
        echo "fuzz_$t: stopped on a fault"
    else
        echo "fuzz_$t: ${runs:-?} inputs in ${SECONDS_PER_TARGET}s"
    fi
done
if [ "$status" -ne 0 ]; then
    for t in "${TARGETS[@]}"; do
        grep -E "ERROR|fuzz check failed|runtime error|Test unit written" "$out/$t.log" | sed "s/^/fuzz_$t: /" | head -5 || true
    done
fi
exit "$status"
