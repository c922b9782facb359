#!/bin/bash
# run.sh [--show] [FILE] - the main job: installs what is missing, builds
# everything (native, Windows x86_64 and i686), builds the demo product's setup
# executable dist/DemoSetup.exe with mksetup from examples/demo/setup.ini (no
# stub argument: mksetup carries the i686 setup program) and prints its
# listing, checks that the Windows mksetup under Wine builds the same bytes
# from it and from the international examples (the test builders_agree), and
# round-trips FILE through the codec tool (pack, unpack, compare), printing
# the sizes and the ratio. Without FILE the sample
# is the project's own source text. Where Wine is installed the Windows tool
# packs the same file, and its output must match byte for byte.
# --show also runs the demo setup under Wine on an Xvfb display (the x86_64
# build; the i686 one too where wine32 is installed), clicks through a full
# install and saves screenshots of the background and every dialog under
# build/e2e/screenshots/.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

show=0
if [ "${1:-}" = "--show" ]; then
    show=1
    shift
fi

step "bootstrap"
"$ROOT/scripts/bootstrap.sh"
step "native build (build/native)"
build_native
step "Windows x86_64 build (build/win64)"
build_win64
step "Windows i686 build (build/win32)"
build_win32

step "demo setup (dist/DemoSetup.exe)"
# mksetup carries the i686 setup program; the script finds Demo.exe in the
# i686 build.
mkdir -p "$ROOT/dist"
mksetup="$BUILD/native/tools/mksetup/mksetup"
"$mksetup" build examples/demo/setup.ini -o "$ROOT/dist/DemoSetup.exe"
"$mksetup" list "$ROOT/dist/DemoSetup.exe"
"$mksetup" verify "$ROOT/dist/DemoSetup.exe"
echo "setup program (i686 stub): $(wc -c <"$BUILD/win32/app/tambsetup.exe") bytes"
# The Windows tools build the same setups from the same scripts (the demo and
# the international examples): the test builders_agree of each Windows tree.
same_setups() {   # same_setups ARCH: the Windows mksetup of ARCH under Wine
    use_wine_prefix "$1"
    ctest --test-dir "$BUILD/$1" -R '^builders_agree$' --output-on-failure >/dev/null ||
        die "the $1 Windows mksetup builds different setups (ctest --test-dir build/$1 -R builders_agree)"
    echo "windows:  the $1 mksetup under Wine builds the same setups"
}
if have_wine64; then
    same_setups win64
fi
if have_wine32; then
    same_setups win32
fi
step "packages (build/native: .deb; build/win32, build/win64: .zip)"
for b in native win32 win64; do
    (cd "$BUILD/$b" && cpack --config CPackTools.cmake >/dev/null) || die "cpack failed in build/$b"
done
ls "$BUILD"/native/*.deb "$BUILD"/win32/*.zip "$BUILD"/win64/*.zip

step "codec round trip"
out="$BUILD/run"
mkdir -p "$out"
if [ $# -ge 1 ]; then
    sample="$1"
    [ -f "$sample" ] || die "$sample: no such file"
else
    sample="$out/sample.txt"
    find app coding package tools tests -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort |
        xargs cat >"$sample"
fi
codec="$BUILD/native/tools/tambsetup-codec"
"$codec" pack "$sample" "$out/sample.packed"
"$codec" unpack "$out/sample.packed" "$out/sample.unpacked"
cmp "$sample" "$out/sample.unpacked" || die "the unpacked file differs from $sample"

input_size=$(wc -c <"$sample")
packed_size=$(wc -c <"$out/sample.packed")
unpacked_size=$(wc -c <"$out/sample.unpacked")
echo "input:    $sample, $input_size bytes"
echo "packed:   $out/sample.packed, $packed_size bytes"
echo "unpacked: $out/sample.unpacked, $unpacked_size bytes, identical to the input"
if [ "$input_size" -gt 0 ]; then
    awk -v i="$input_size" -v p="$packed_size" \
        'BEGIN { printf "ratio:    %.3f (packed/input), %.1f%% saved\n", p / i, 100 * (1 - p / i) }'
fi

if have_wine64; then
    use_wine_prefix win64
    # Wine maps the Unix root to drive Z:, so the same paths work there.
    wine "$BUILD/win64/tools/tambsetup-codec.exe" pack "$sample" "$out/sample.win64.packed"
    cmp "$out/sample.packed" "$out/sample.win64.packed" || die "the Windows x86_64 tool packs differently"
    echo "windows:  the x86_64 tool under Wine packs the same bytes"
    if have_wine32; then
        use_wine_prefix win32
        wine "$BUILD/win32/tools/tambsetup-codec.exe" pack "$sample" "$out/sample.win32.packed"
        cmp "$out/sample.packed" "$out/sample.win32.packed" || die "the Windows i686 tool packs differently"
        echo "windows:  the i686 tool under Wine packs the same bytes"
    else
        echo "SKIP: wine32 not available: the i686 tool was built but not run"
    fi
fi
if [ "$show" = 1 ]; then
    step "the demo setup under Wine, with screenshots"
    "$ROOT/scripts/e2e.sh" install
    echo "screenshots: $BUILD/e2e/screenshots/ARCH/install/"
fi
echo "done"
