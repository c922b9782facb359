#!/bin/bash
# run.sh [FILE] - the main job: installs what is missing, builds everything
# (native, Windows x86_64 and i686) and round-trips FILE through the codec
# tool (pack, unpack, compare), printing the sizes and the ratio. Without FILE
# the sample is the project's own source text. Where Wine is installed the
# Windows tool packs the same file, and its output must match byte for byte.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

step "bootstrap"
"$ROOT/scripts/bootstrap.sh"
step "native build (build/native)"
build_native
step "Windows x86_64 build (build/win64)"
build_win64
step "Windows i686 build (build/win32)"
build_win32

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
codec="$BUILD/native/tools/codec"
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
    wine "$BUILD/win64/tools/codec.exe" pack "$sample" "$out/sample.win64.packed"
    cmp "$out/sample.packed" "$out/sample.win64.packed" || die "the Windows x86_64 tool packs differently"
    echo "windows:  the x86_64 tool under Wine packs the same bytes"
    if have_wine32; then
        use_wine_prefix win32
        wine "$BUILD/win32/tools/codec.exe" pack "$sample" "$out/sample.win32.packed"
        cmp "$out/sample.packed" "$out/sample.win32.packed" || die "the Windows i686 tool packs differently"
        echo "windows:  the i686 tool under Wine packs the same bytes"
    else
        echo "SKIP: wine32 not available: the i686 tool was built but not run"
    fi
fi
echo "done"
