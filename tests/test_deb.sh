#!/bin/bash
# test_deb.sh BUILD_DIR SOURCE_DIR - the Debian package of the tools, made by
# CPack into a scratch folder: what it holds (the programs under names of
# their own, compressed man pages, the documents with every picture they
# show, the copyright file, the CMake package) and lintian's verdict: no
# error. Where lintian is missing on Debian the bootstrap failed: that fails
# too; on other systems the test is skipped (exit 77).
set -uo pipefail
build="$1"
source="$(cd "$2" && pwd)"
fail() {
    echo "FAIL: $*"
    exit 1
}
if ! command -v lintian >/dev/null; then
    [ -f /etc/debian_version ] && fail "lintian is missing (scripts/bootstrap.sh installs it)"
    echo "SKIP: no lintian on this system"
    exit 77
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cpack --config "$build/CPackTools.cmake" -B "$scratch" >"$scratch/cpack.txt" 2>&1 || { cat "$scratch/cpack.txt"; fail "cpack failed"; }
deb="$(ls "$scratch"/tambsetup-tools_*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || fail "cpack made no tambsetup-tools_*.deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$scratch/files.txt"

doc=/usr/share/doc/tambsetup-tools
expected=(/usr/bin/mksetup /usr/bin/tambsetup-codec
    /usr/share/man/man1/mksetup.1.gz /usr/share/man/man1/tambsetup-codec.1.gz
    "$doc/copyright" "$doc/changelog.gz" "$doc/README.md"
    "$doc/docs/script.md" "$doc/docs/signing.md" "$doc/docs/cmake.md"
    /usr/lib/cmake/TambSetup/TambSetupConfig.cmake /usr/lib/cmake/TambSetup/TambSetupConfigVersion.cmake)
# Every picture the documents show, where their links point.
while read -r picture; do
    expected+=("$doc/docs/$picture")
done < <(grep -oh '(screenshots/[^)]*\.png)' "$source/docs/"*.md | tr -d '()' | sort -u)
while read -r picture; do
    expected+=("$doc/$picture")
done < <(grep -o '(docs/screenshots/[^)]*\.png)' "$source/README.md" | tr -d '()' | sort -u)
for file in "${expected[@]}"; do
    grep -qx "$file" "$scratch/files.txt" || fail "the package lacks $file"
done
# Nothing under a generic name, no man page uncompressed.
grep -qx /usr/bin/codec "$scratch/files.txt" && fail "the package installs /usr/bin/codec, a name other packages use"
grep -q '^/usr/share/man/.*\.[0-9]$' "$scratch/files.txt" && fail "an uncompressed man page: $(grep '^/usr/share/man/.*\.[0-9]$' "$scratch/files.txt")"

lintian --fail-on error "$deb" >"$scratch/lintian.txt" 2>&1
status=$?
grep -v 'running with root privileges' "$scratch/lintian.txt"
[ "$status" = 0 ] || fail "lintian finds errors in $(basename "$deb")"
echo "$(basename "$deb"): complete, and lintian reports no error"
