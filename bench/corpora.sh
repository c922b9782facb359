#!/bin/bash
# corpora.sh DIR - writes the three corpora of bench_coding as files, for
# whole-command runs (the codec tool against gzip): DIR/pe, DIR/text (8 MB
# each, the same files in the same order) and DIR/random (4 MB, same seed).
set -euo pipefail
dir="${1:?usage: corpora.sh DIR}"
mkdir -p "$dir"
limit=$((8 << 20))

# Concatenates the files named on stdin, in sorted order, up to the limit.
gather() {
    sort | while IFS= read -r f; do cat "$f"; done | head -c "$limit"
}

for folder in /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/lib/gcc/i686-w64-mingw32/12-posix \
              /usr/x86_64-w64-mingw32/lib /usr/i686-w64-mingw32/lib; do
    [ -d "$folder" ] && find "$folder" -maxdepth 2 -name '*.dll' -type f | sort
done | while IFS= read -r f; do cat "$f"; done | head -c "$limit" >"$dir/pe" || true

{
    find /usr/share/common-licenses -maxdepth 1 -type f | gather
    find /usr/share/doc -mindepth 1 -maxdepth 2 -name copyright -type f | gather
} | head -c "$limit" >"$dir/text" || true

python3 - "$dir/random" <<'PY'
import sys
state = 0x9E3779B9
out = bytearray(4 << 20)
for i in range(len(out)):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    out[i] = state >> 24
open(sys.argv[1], "wb").write(out)
PY
ls -l "$dir"
