#!/bin/bash
# bootstrap.sh - installs the build and test tools on Debian 12 (as root).
# Only what is missing is installed, so a second run takes a second.
# 32-bit Wine is tried last and may fail without failing this script: the
# 32-bit Windows tests are then skipped with a visible message.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"

PACKAGES=(
    cmake ninja-build g++
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    googletest libgtest-dev libbenchmark-dev
    clang-14 libclang-rt-14-dev
    wine wine64 xvfb imagemagick x11-utils
    openssl osslsigncode
    locales make lintian
)

installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        die "need root to run: $*"
    fi
}

export DEBIAN_FRONTEND=noninteractive
APT_GET=(apt-get -y -q -o Dpkg::Use-Pty=0)

missing=()
for package in "${PACKAGES[@]}"; do
    installed "$package" || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    # A stale index of another architecture can make update fail while ours is fine.
    as_root "${APT_GET[@]}" update || echo "bootstrap: WARNING: apt-get update reported errors, installing anyway"
    as_root "${APT_GET[@]}" install "${missing[@]}"
fi

# ---- the Russian locale ------------------------------------------------------
# Wine takes its ANSI code page from the locale: under ru_RU.UTF-8 it is 1251
# while Unix file names stay UTF-8. The international scenarios run there.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    echo "bootstrap: generating the locale ru_RU.UTF-8"
    as_root localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

# ---- 32-bit Wine -------------------------------------------------------------
# One failed attempt is remembered for a day so that re-runs stay fast.
wine32_marker="$BUILD/.wine32-unavailable"
try_wine32() {
    local added=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
        added=1
    fi
    # A failed update may still have fetched enough of the i386 index; try anyway.
    as_root "${APT_GET[@]}" update || echo "bootstrap: apt-get update failed with i386 added"
    if as_root "${APT_GET[@]}" install wine32:i386; then
        return 0
    fi
    if [ "$added" = 1 ]; then
        # Leave apt as we found it: without i386 its next update works again.
        as_root dpkg --remove-architecture i386 || true
        as_root "${APT_GET[@]}" update >/dev/null 2>&1 || true
    fi
    return 1
}

if ! can_run_32bit; then
    # /usr/bin/wine prefers the 32-bit loader whenever it is installed, so an
    # unrunnable one would stop 64-bit Wine as well.
    echo "bootstrap: this kernel does not run 32-bit programs: no wine32, the 32-bit Windows tests will be skipped"
    if installed wine32:i386; then
        as_root "${APT_GET[@]}" remove wine32:i386
    fi
elif have_wine32 || installed wine32:i386; then
    rm -f "$wine32_marker"
elif [ "${TAMB_NO_WINE32:-0}" = 1 ]; then
    echo "bootstrap: TAMB_NO_WINE32=1, not installing wine32"
elif [ -n "$(find "$wine32_marker" -mmin -1440 2>/dev/null)" ]; then
    echo "bootstrap: wine32 could not be installed earlier today (remove $wine32_marker to retry)"
else
    echo "bootstrap: installing wine32:i386 for the 32-bit Windows tests"
    if try_wine32; then
        rm -f "$wine32_marker"
    else
        mkdir -p "$BUILD"
        touch "$wine32_marker"
        echo "bootstrap: WARNING: wine32:i386 could not be installed; the 32-bit Windows tests will be skipped"
    fi
fi
exit 0
