#!/bin/bash
# product.sh DIR - writes the benchmarks' large product into DIR: 17 files,
# 19.3 MB, cut from the corpora of corpora.sh (made in DIR/corpora when
# missing), with a setup script DIR/setup.ini that mksetup builds.
#   App.exe      9.5 MB  pe (8 MB) and the first 1.5 MB of text
#   Lib.dll      1 MB    random
#   Readme.txt   0.5 MB  text
#   samples      Text01..Text11.txt (6 MB of text), Data1..Data3.bin (2.3 MB of random)
# The largest file is half the product, as in a typical application whose
# main program carries most of it.
set -euo pipefail
dir="${1:?usage: product.sh DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
corpora="$dir/corpora"
[ -s "$corpora/pe" ] && [ -s "$corpora/text" ] && [ -s "$corpora/random" ] || "$here/corpora.sh" "$corpora" >/dev/null
files="$dir/files"
rm -rf "$files"
mkdir -p "$files"
MB=$((1 << 20))
half=$((MB / 2))

# slice FILE OFFSET LENGTH: LENGTH bytes of FILE from OFFSET
slice() { dd if="$1" bs=64K iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none; }

{ cat "$corpora/pe"; slice "$corpora/text" 0 $((3 * half)); } >"$files/App.exe"
slice "$corpora/random" 0 "$MB" >"$files/Lib.dll"
slice "$corpora/text" $((3 * half)) "$half" >"$files/Readme.txt"
# pieces FILE OFFSET LENGTH COUNT PREFIX SUFFIX: LENGTH bytes cut into COUNT files
pieces() {
    local size=$(($3 / $4)) i
    for ((i = 1; i <= $4; i++)); do
        local n=$size
        [ "$i" = "$4" ] && n=$(($3 - size * ($4 - 1)))
        slice "$1" $(($2 + size * (i - 1))) "$n" >"$files/$(printf '%s%0*d%s' "$5" ${#4} "$i" "$6")"
    done
}
pieces "$corpora/text" $((2 * MB)) $((6 * MB)) 11 Text .txt
pieces "$corpora/random" "$MB" $((23 * MB / 10)) 3 Data .bin

{
    printf '[Setup]\nProductName = Bench\nProductVersion = 1.0\nInstallFolder = Bench Product\n'
    printf 'StartupShortcut = no\nProgram = App.exe\nSamplesDescription = sample data\n\n[Files]\n'
    printf 'App.exe = files/App.exe\nLib.dll = files/Lib.dll\nReadme.txt = files/Readme.txt\n\n[Samples]\n'
    (cd "$files" && ls Text*.txt Data*.bin) | while IFS= read -r f; do printf '%s = files/%s\n' "$f" "$f"; done
} >"$dir/setup.ini"
n=$(find "$files" -type f | wc -l)
bytes=$(cat "$files"/* | wc -c)
[ "$n" = 17 ] || { echo "product.sh: made $n files, not 17" >&2; exit 1; }
echo "$dir/setup.ini: $n files, $bytes bytes"
