# shellcheck shell=bash
# common.sh - shared by the scripts in this folder; source it, do not run it.
# Build folders live under build/ at the repository root (ignored by git).

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Wine runs quietly, never adds menu entries and never asks for Mono or Gecko.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

step_started=0
step() {
    step_started=$SECONDS
    echo
    echo "==== $* ===="
}

step_done() {
    echo "---- $1: done in $((SECONDS - step_started)) s"
}

die() {
    echo "FAIL: $*" >&2
    exit 1
}

generator_args() {
    if command -v ninja >/dev/null 2>&1; then
        echo "-G Ninja"
    fi
}

# configure_build NAME [cmake arguments...]: configures build/NAME once (the
# cache keeps later runs fast); later runs only bring the -DTAMB_* settings
# up to date.
# Release builds keep their asserts: tests and tools rely on them staying on.
configure_build() {
    local name="$1"
    shift
    local dir="$BUILD/$name" arg settings=()
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        # shellcheck disable=SC2046
        cmake -S "$ROOT" -B "$dir" $(generator_args) \
            -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_C_FLAGS_RELEASE=-O2 -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
            "$@"
        return
    fi
    for arg in "$@"; do
        case "$arg" in -DTAMB_*) settings+=("$arg") ;; esac
    done
    if [ "${#settings[@]}" -gt 0 ]; then
        cmake -B "$dir" "${settings[@]}" >/dev/null
    fi
}

build_all() {
    local name="$1"
    shift
    configure_build "$name" "$@" && cmake --build "$BUILD/$name" -j "$JOBS"
}

# The Windows trees register the end-to-end scenarios as ctest tests
# (e2e.ARCH.NAME, label e2e); they build the setups with the native mksetup
# and keep prefixes, logs and screenshots under build/e2e.
MKSETUP_NATIVE="$BUILD/native/tools/mksetup/mksetup"
E2E_OUT="$BUILD/e2e"

build_native() { build_all native; }
build_win64() {
    build_all win64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
        "-DTAMB_MKSETUP=$MKSETUP_NATIVE" "-DTAMB_E2E_OUT=$E2E_OUT"
}
build_win32() {
    build_all win32 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        "-DTAMB_MKSETUP=$MKSETUP_NATIVE" "-DTAMB_E2E_OUT=$E2E_OUT"
}

# run_e2e win32|win64 [ctest arguments...]: the end-to-end scenarios of that
# build under ctest, two at a time (each has its own display and prefix).
run_e2e() {
    local arch="$1"
    shift
    ctest --test-dir "$BUILD/$arch" -L e2e -j 2 --output-on-failure "$@"
}

# Whether this kernel runs 32-bit x86 programs at all (some virtual machines'
# kernels do not: "Exec format error"). The probe is the smallest such
# program, 93 bytes that only call exit(0).
can_run_32bit() {
    local probe result
    probe=$(mktemp "${TMPDIR:-/tmp}/elf32.XXXXXX") || return 1
    local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
    elf+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
    elf+='\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    elf+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    elf+='\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'   # mov eax, 1; xor ebx, ebx; int 0x80
    printf '%b' "$elf" >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null
    result=$?
    rm -f "$probe"
    return "$result"
}

# The 32-bit loader is what `wine` runs for 32-bit programs; without it only
# 64-bit programs start. It must also run: on a kernel without 32-bit
# support it is installed but refused.
have_wine32() { [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; }
have_wine64() { [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null 2>&1; }

# use_wine_prefix win64|win32: a private prefix per architecture under build/,
# created on first use (about ten seconds). Its Wine server is kept running
# until the script ends: programs started one after another then start faster,
# and none of them meets a server that is just shutting down ("recvmsg:
# Connection reset by peer"). Wine's own background processes (services.exe and
# the like) are started here, on /dev/null: started by a test they would inherit
# its output pipe and keep ctest waiting for as long as the server runs.
wine_prefixes=()
stop_wine_servers() {
    local prefix
    for prefix in "${wine_prefixes[@]}"; do
        WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    done
}

use_wine_prefix() {
    local arch="$1"
    export WINEARCH="$arch"
    export WINEPREFIX="$BUILD/wine-$arch"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
        [ -f "$WINEPREFIX/system.reg" ] || die "wineboot could not create $WINEPREFIX"
    fi
    if [ "${#wine_prefixes[@]}" = 0 ]; then
        trap stop_wine_servers EXIT
    fi
    wine_prefixes+=("$WINEPREFIX")
    wineserver -p >/dev/null 2>&1 || true   # fails harmlessly when one already runs
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
