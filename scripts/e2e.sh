#!/bin/bash
# e2e.sh - the end-to-end scenarios of the setup program under Wine, a
# convenience over ctest (the scenarios are the tests e2e.ARCH.NAME of the
# Windows build trees, label e2e).
#
#   scripts/e2e.sh [--arch win32|win64] [SCENARIO...]
#
# Without --arch: win32 (where wine32 is installed, else a loud SKIP), then
# win64; without SCENARIO: all of them. Brings the native and Windows builds
# up to date first. Logs: build/e2e/ARCH/logs/NAME.log; screenshots:
# build/e2e/screenshots/ARCH/NAME/. The same through ctest directly:
#   ctest --test-dir build/win64 -L e2e -j2 --output-on-failure
#   ctest --test-dir build/win32 -R 'e2e.win32.install$' --repeat until-fail:5
set -uo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"

arches=(win32 win64)
only=()
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arches=("${2:-}"); shift 2 || die "--arch needs win32 or win64" ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) only+=("$1"); shift ;;
    esac
done

build_native >/dev/null || die "the native build failed"
result=0
for arch in "${arches[@]}"; do
    case "$arch" in
    win32) have_wine32 || { echo "SKIP: e2e win32: 32-bit Wine does not run here, the i686 setup program was not run"; continue; } ;;
    win64) have_wine64 || die "wine64 is not installed (scripts/bootstrap.sh installs it)" ;;
    *) die "--arch is win32 or win64" ;;
    esac
    "build_$arch" >/dev/null || die "the $arch build failed"
    filter=()
    if [ "${#only[@]}" -gt 0 ]; then
        filter=(-R "^e2e\.$arch\.($(IFS='|'; echo "${only[*]}"))\$")
    fi
    run_e2e "$arch" "${filter[@]}" || result=1
    echo "e2e $arch: screenshots in $E2E_OUT/screenshots/$arch/, logs in $E2E_OUT/$arch/logs/"
done
exit "$result"
