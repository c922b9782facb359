#!/bin/bash
# test.sh - every test, every step run whatever the others gave: bootstrap,
# the native build with its tests, the i686 Windows build (the shipped one)
# with its unit tests and end-to-end scenarios under 32-bit Wine, the same
# for x86_64 under 64-bit Wine, and a short run of every fuzz target. Ends
# with a table of the steps (a failed scenario with its log and screenshots)
# and exits non-zero if any step failed.
#   scripts/test.sh                 everything
#   FUZZ_SECONDS=N scripts/test.sh  fuzz each target N seconds (default 20; 0 skips)
set -uo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT" || exit 1

started=$SECONDS
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
STEP_LOGS="$BUILD/test-logs"
mkdir -p "$STEP_LOGS"
rm -f "$STEP_LOGS"/*.txt

rows=()       # "step|result|seconds"
details=()    # lines under the table
failed_steps=0
declare -A ok=()

# run_step NAME FUNCTION: runs it with its output on the console and in
# build/test-logs/NAME.txt; records PASS or FAIL and the time.
run_step() {
    local name="$1" fn="$2" begin=$SECONDS result
    step "$name"
    "$fn" 2>&1 | tee "$STEP_LOGS/$name.txt"
    result=${PIPESTATUS[0]}
    if [ "$result" = 0 ]; then
        ok[$name]=1
        rows+=("$name|PASS|$((SECONDS - begin))")
    else
        failed_steps=$((failed_steps + 1))
        rows+=("$name|FAIL|$((SECONDS - begin))")
        details+=("$name: FAIL (exit $result), output in $STEP_LOGS/$name.txt")
    fi
}

# skip_step NAME WHY: a step left out on purpose or for want of a tool, loud
# in the table; it does not fail the run (a step that could not run because
# something it needs failed goes through not_run).
skip_step() {
    step "$1"
    echo "SKIP: $2"
    rows+=("$1|SKIP|0")
    details+=("$1: SKIP: $2")
}

# not_run WHY STEP...: steps that could not run because something they need
# failed or is missing; each counts as a failure.
not_run() {
    local why="$1" name names=""
    shift
    for name in "$@"; do
        failed_steps=$((failed_steps + 1))
        rows+=("$name|FAIL|0")
        names+="${names:+, }$name"
    done
    details+=("$names: not run, $why")
}

# The failed scenarios of an end-to-end step: name, log and screenshots.
e2e_failures() {
    local arch="$1" name
    while read -r name; do
        details+=("  $name: log $E2E_OUT/$arch/logs/${name#e2e."$arch".}.log, screenshots $E2E_OUT/screenshots/$arch/${name#e2e."$arch".}/")
    done < <(sed -n 's/^[[:space:]]*[0-9]* - \(e2e\.[^ ]*\) (.*/\1/p' "$STEP_LOGS/e2e-$arch.txt")
}

step_bootstrap() { "$ROOT/scripts/bootstrap.sh"; }
step_native() {
    build_native && ctest --test-dir "$BUILD/native" --output-on-failure -j "$JOBS" --timeout 600
}
step_build_win32() { build_win32; }
step_build_win64() { build_win64; }
step_unit_win32() {
    use_wine_prefix win32 && ctest --test-dir "$BUILD/win32" -LE e2e --output-on-failure -j "$JOBS" --timeout 600
}
step_layers_win32() { ctest --test-dir "$BUILD/win32" -L layers --output-on-failure; }
step_unit_win64() {
    use_wine_prefix win64 && ctest --test-dir "$BUILD/win64" -LE e2e --output-on-failure -j "$JOBS" --timeout 600
}
step_e2e_win32() { run_e2e win32; }
step_e2e_win64() { run_e2e win64; }
step_fuzz() { "$ROOT/scripts/fuzz.sh" "$FUZZ_SECONDS"; }

run_step bootstrap step_bootstrap
run_step native step_native

# i686 first: it is the program that ships.
for arch in win32 win64; do
    run_step "build-$arch" "step_build_$arch"
    if [ "$arch" = win32 ] && ! have_wine32; then
        # The shipped program's size and link graph need no Wine.
        if [ -n "${ok[build-win32]:-}" ]; then
            run_step "layers-win32" step_layers_win32
        else
            not_run "the win32 build failed" layers-win32
        fi
        skip_step "unit-win32" "32-bit Wine does not run here (wine32 not installed, or a kernel without 32-bit support): the i686 build was compiled but its tests were not run"
        skip_step "e2e-win32" "32-bit Wine does not run here: the i686 setup program was not run"
        continue
    fi
    if [ "$arch" = win64 ] && ! have_wine64; then
        not_run "wine64 is not installed (scripts/bootstrap.sh installs it)" unit-win64 e2e-win64
        continue
    fi
    if [ -z "${ok[build-$arch]:-}" ]; then
        not_run "the $arch build failed" "unit-$arch" "e2e-$arch"
        continue
    fi
    run_step "unit-$arch" "step_unit_$arch"
    if [ -z "${ok[native]:-}" ] && [ ! -x "$MKSETUP_NATIVE" ]; then
        not_run "the native mksetup was not built" "e2e-$arch"
        continue
    fi
    run_step "e2e-$arch" "step_e2e_$arch"
    [ -n "${ok[e2e-$arch]:-}" ] || e2e_failures "$arch"
done

if [ "$FUZZ_SECONDS" -gt 0 ]; then
    run_step fuzz step_fuzz
else
    skip_step fuzz "FUZZ_SECONDS=0"
fi
stop_wine_servers

echo
echo "==== summary ===="
printf '%-12s %-6s %8s\n' step result seconds
total_passed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name result seconds <<<"$row"
    printf '%-12s %-6s %8s\n' "$name" "$result" "$seconds"
    [ "$result" = PASS ] && total_passed=$((total_passed + 1))
done
for line in "${details[@]}"; do
    echo "$line"
done
echo "total: $((SECONDS - started)) s"
echo "steps: $total_passed passed, $failed_steps failed"
[ "$failed_steps" = 0 ]
