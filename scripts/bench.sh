#!/bin/bash
# bench.sh [benchmark options] - builds the benchmarks optimised, without
# asserts (build/bench), and runs each one that exists, passing the options
# on (e.g. --benchmark_filter=Decompress).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

if [ ! -f "$BUILD/bench/CMakeCache.txt" ]; then
    # shellcheck disable=SC2046
    cmake -S "$ROOT" -B "$BUILD/bench" $(generator_args) -DCMAKE_BUILD_TYPE=Release -DTAMB_TESTS=OFF
fi
cmake --build "$BUILD/bench" -j "$JOBS"
ran=0
for bench in bench_coding bench_package; do
    if [ -x "$BUILD/bench/bench/$bench" ]; then
        echo "==== $bench ===="
        "$BUILD/bench/bench/$bench" "$@"
        ran=1
    fi
done
[ "$ran" = 1 ] || die "no benchmark was built (is libbenchmark-dev installed? scripts/bootstrap.sh installs it)"
