#!/bin/bash
# test_cmake_package.sh BUILD_DIR SOURCE_DIR - the CMake package of an
# installed tree, used as docs/cmake.md shows: its complete example (the
# demo product, its program cross-built with the i686 MinGW compiler) is
# configured against the tree in a scratch prefix, with Ninja and with make.
# The setup it builds must be byte for byte the one `mksetup build` makes from
# examples/demo/setup.ini with the same program; it must be built again when
# a file or the script changes, not when nothing did, and install and pack.
set -euo pipefail
build="$1"
source="$(cd "$2" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}
command -v i686-w64-mingw32-g++-posix >/dev/null || fail "no i686 MinGW compiler (scripts/bootstrap.sh installs it)"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
mksetup="$scratch/prefix/bin/mksetup"

# The example's two files, as the document gives them.
block() {   # block TITLE LANGUAGE: the first code block after the line "`TITLE`:"
    awk -v title="\`$1\`:" -v fence="\`\`\`$2" '$0 == title { found = 1; next }
        found && $0 == fence { inside = 1; next }
        inside && $0 == "```" { exit }
        inside { print }' "$source/docs/cmake.md"
}
project="$scratch/demo"
mkdir -p "$project"
block CMakeLists.txt cmake >"$project/CMakeLists.txt"
block setup.ini.in ini >"$project/setup.ini.in"
[ -s "$project/CMakeLists.txt" ] && [ -s "$project/setup.ini.in" ] || fail "docs/cmake.md lacks its example"
for f in demo.cpp Help.txt License.txt Sample1.txt Sample2.txt Pattern.bmp; do
    cp "$source/examples/demo/$f" "$project/"
done

# The setup mksetup builds from the demo's own script, with the program given.
reference() {   # reference DEMO_EXE OUT
    rm -rf "$scratch/tree"
    mkdir -p "$scratch/tree/examples" "$scratch/tree/build/win32/examples/demo"
    cp -r "$source/examples/demo" "$scratch/tree/examples/"
    cp "$project/Help.txt" "$scratch/tree/examples/demo/"
    cp "$1" "$scratch/tree/build/win32/examples/demo/Demo.exe"
    "$mksetup" -q build "$scratch/tree/examples/demo/setup.ini" -o "$2"
}

generators=("Unix Makefiles")
command -v ninja >/dev/null && generators+=(Ninja)
for generator in "${generators[@]}"; do
    out="$scratch/build-${generator// /}"
    cp "$source/examples/demo/Help.txt" "$project/Help.txt"
    cmake -S "$project" -B "$out" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
        >"$scratch/configure.txt" 2>&1 || { cat "$scratch/configure.txt"; fail "$generator: the example does not configure"; }
    cmake --build "$out" >"$scratch/build.txt" 2>&1 || { cat "$scratch/build.txt"; fail "$generator: the example does not build"; }
    setup="$out/DemoSetup.exe"
    [ -f "$setup" ] || fail "$generator: no DemoSetup.exe after the build"
    reference "$out/Demo.exe" "$scratch/reference.exe"
    cmp "$setup" "$scratch/reference.exe" || fail "$generator: the setup differs from mksetup build's of examples/demo/setup.ini"

    # Nothing changed: nothing is built.
    touch "$scratch/marker"
    cmake --build "$out" >/dev/null
    [ "$setup" -nt "$scratch/marker" ] && fail "$generator: the setup was built again with nothing changed"
    # A file of the script changed: built again, as mksetup would build it.
    echo "One more line of help." >>"$project/Help.txt"
    cmake --build "$out" >/dev/null
    [ "$setup" -nt "$scratch/marker" ] || fail "$generator: a changed Help.txt did not rebuild the setup"
    reference "$out/Demo.exe" "$scratch/reference.exe"
    cmp "$setup" "$scratch/reference.exe" || fail "$generator: the rebuilt setup differs from mksetup build's"
    # The script changed.
    touch "$scratch/marker"
    sed -i 's/^ProductVersion = 1.0$/ProductVersion = 1.1/' "$project/setup.ini.in"
    cmake --build "$out" >/dev/null
    "$mksetup" config "$setup" | grep -q '^ProductVersion = 1.1$' || fail "$generator: a changed script did not rebuild the setup"
    sed -i 's/^ProductVersion = 1.1$/ProductVersion = 1.0/' "$project/setup.ini.in"
done

# Installed and packed as the document says (the last build: the script as given).
cmake --build "$out" >/dev/null
cmake --install "$out" --prefix "$scratch/installed" >/dev/null
cmp "$scratch/installed/DemoSetup.exe" "$setup" || fail "cmake --install does not install the setup"
(cd "$out" && cpack >"$scratch/cpack.txt" 2>&1) || { cat "$scratch/cpack.txt"; fail "cpack failed"; }
[ -f "$out/Demo-1.0-win32.zip" ] || fail "cpack made no Demo-1.0-win32.zip: $(ls "$out")"
cmake -E tar tf "$out/Demo-1.0-win32.zip" | grep -q '/DemoSetup.exe$' || fail "the zip holds no DemoSetup.exe"
echo "find_package(TambSetup) and tambsetup_add_setup build the demo's setup as mksetup does (${generators[*]})"
