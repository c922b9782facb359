#!/bin/bash
# test_install.sh BUILD_DIR SOURCE_DIR - installs the build into a scratch
# prefix and builds the demo's script with the installed mksetup (no stub
# argument), with a stand-in for the demo program.
set -euo pipefail
build="$1"
source="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for f in bin/mksetup bin/tambsetup-codec share/man/man1/mksetup.1.gz share/doc/tambsetup-tools/docs/script.md; do
    [ -e "$scratch/prefix/$f" ] || { echo "FAIL: $f is not installed"; exit 1; }
done
"$scratch/prefix/bin/mksetup" --version | grep -q '^mksetup [0-9]' || { echo "FAIL: --version"; exit 1; }
mkdir -p "$scratch/tree/examples" "$scratch/tree/build/win32/examples/demo"
cp -r "$source/examples/demo" "$scratch/tree/examples/"
head -c 30000 /dev/urandom >"$scratch/tree/build/win32/examples/demo/Demo.exe"
"$scratch/prefix/bin/mksetup" -q build "$scratch/tree/examples/demo/setup.ini" -o "$scratch/Demo.exe"
"$scratch/prefix/bin/mksetup" verify "$scratch/Demo.exe" | grep -q "OK: 15 entries, 7 files" || { echo "FAIL: verify"; exit 1; }
echo "installed tools build the demo setup"
