#!/bin/bash
# fuzz.sh [SECONDS] - builds the fuzz targets with clang's libFuzzer and the
# address and undefined-behaviour sanitizers (build/fuzz) and runs each for
# SECONDS (default 20). Each target starts from its stored corpus
# (tests/fuzz/corpus/TARGET) and keeps what it finds in build/fuzz/corpus/TARGET;
# a crashing input is saved in build/fuzz/crashes/ and fails the script.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

seconds="${1:-20}"
[[ "$seconds" =~ ^[0-9]+$ ]] || die "usage: scripts/fuzz.sh [SECONDS]"
command -v clang++-14 >/dev/null || die "clang-14 is not installed (scripts/bootstrap.sh installs it)"

configure_build fuzz -DTAMB_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14

targets=(fuzz_decompress fuzz_roundtrip)
[ -f "$ROOT/tests/fuzz/fuzz_package.cpp" ] && targets+=(fuzz_package)
targets+=(fuzz_bitmap fuzz_script)
cmake --build "$BUILD/fuzz" -j "$JOBS" --target "${targets[@]}"

mkdir -p "$BUILD/fuzz/crashes"
for target in "${targets[@]}"; do
    corpus="$BUILD/fuzz/corpus/$target"
    mkdir -p "$corpus"
    seeds=()
    [ -d "$ROOT/tests/fuzz/corpus/$target" ] && seeds=("$ROOT/tests/fuzz/corpus/$target")
    echo "fuzzing $target for $seconds s"
    log="$BUILD/fuzz/$target.log"
    if ! "$BUILD/fuzz/tests/fuzz/$target" "$corpus" "${seeds[@]}" \
        -max_total_time="$seconds" -max_len=32768 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$BUILD/fuzz/crashes/$target-" >"$log" 2>&1; then
        tail -50 "$log"
        die "$target found a failure; the input is in build/fuzz/crashes/ (log: $log)"
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed "s/^/$target: /"
done
echo "fuzzing passed"
