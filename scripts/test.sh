#!/bin/bash
# test.sh - every test: the native build with its tests, both Windows builds
# with their tests under Wine (32-bit only where wine32 is installed), and a
# short run of every fuzz target. Fails on the first failure.
#   scripts/test.sh                 everything
#   FUZZ_SECONDS=N scripts/test.sh  fuzz each target N seconds (default 20; 0 skips)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

started=$SECONDS
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
summary=()
note() { summary+=("$1"); }

step "bootstrap"
"$ROOT/scripts/bootstrap.sh"
step_done bootstrap

step "native build and tests (build/native)"
build_native
ctest --test-dir "$BUILD/native" --output-on-failure -j "$JOBS" --timeout 600
note "native: built and tested in $((SECONDS - step_started)) s"
step_done native

step "Windows x86_64 build and tests under Wine (build/win64)"
build_win64
have_wine64 || die "wine64 is not installed (scripts/bootstrap.sh installs it)"
use_wine_prefix win64
ctest --test-dir "$BUILD/win64" --output-on-failure -j "$JOBS" --timeout 600
note "win64: built and tested under Wine in $((SECONDS - step_started)) s"
step_done win64

step "end-to-end: the setup program under Wine on Xvfb (build/e2e)"
E2E_NATIVE_BUILD="$BUILD/native" E2E_WIN64_BUILD="$BUILD/win64" "$ROOT/scripts/e2e.sh" --arch win64
note "e2e win64: passed in $((SECONDS - step_started)) s; screenshots in build/e2e/screenshots/win64"
step_done e2e

step "Windows i686 build and tests under Wine (build/win32)"
build_win32
if have_wine32; then
    use_wine_prefix win32
    ctest --test-dir "$BUILD/win32" --output-on-failure -j "$JOBS" --timeout 600
    note "win32: built and tested under Wine in $((SECONDS - step_started)) s"
else
    echo "SKIP: wine32 not available: the i686 build was compiled but its tests were not run"
    note "win32: built in $((SECONDS - step_started)) s; SKIP: wine32 not available, tests not run"
fi
if have_wine32; then
    E2E_NATIVE_BUILD="$BUILD/native" E2E_WIN32_BUILD="$BUILD/win32" "$ROOT/scripts/e2e.sh" --arch win32
    note "e2e win32: passed"
else
    echo "SKIP: e2e win32: wine32 not available, the i686 setup program was not run"
fi
step_done win32

if [ "$FUZZ_SECONDS" -gt 0 ]; then
    step "fuzz targets, $FUZZ_SECONDS s each (build/fuzz)"
    "$ROOT/scripts/fuzz.sh" "$FUZZ_SECONDS"
    note "fuzz: $FUZZ_SECONDS s per target, done in $((SECONDS - step_started)) s"
    step_done fuzz
else
    echo "SKIP: fuzzing (FUZZ_SECONDS=0)"
    note "fuzz: SKIP (FUZZ_SECONDS=0)"
fi

echo
echo "==== summary ===="
for line in "${summary[@]}"; do
    echo "$line"
done
echo "all tests passed in $((SECONDS - started)) s"
