#!/bin/bash
# install_span.sh - the install path under 32-bit Wine against NSIS, and the
# latency of the Cancel question. Not part of the test command.
#
#   bench/install_span.sh [ROUNDS] [CANCEL_RUNS]     (defaults 5 and 3)
#   BENCH_KINDS="ours nsis-zlib" bench/install_span.sh 3 0    (a subset, no Cancel runs)
#
# The large product of product.sh (17 files, 19.3 MB) is built into our setup
# (native mksetup, the i686 setup program it carries) and into three NSIS
# installers of the same 17 files in the same folders (zlib, bzip2, solid
# LZMA; silent). Each round runs every installer once, in turn, each in a
# fresh copy of a 32-bit template prefix on its own Xvfb display, so that load
# from other work falls on all alike; last in the round the i686 codec tool
# unpacks the largest file under the same Wine, for scale.
#
# The figure is the extraction span: from the first product file created to
# the last one closed after writing, stamped by an inotify recorder
# (span/spanrec.c, CLOCK_MONOTONIC) that watches Program Files before the
# installer starts. Our setup's dialogs are clicked by the e2e driver
# (`driver bench-install`); its latencies come from `driver bench-cancel`.
#
# Needs the native and i686 builds (scripts/common.sh build_native,
# build_win32; built here when missing) and installs nsis when makensis is
# missing. Output: BENCH_OUT (default build/bench-install): logs, the raw
# figures (spans.txt, cancel.txt) and the table (table.txt).
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/.." && pwd)"
. "$ROOT/scripts/common.sh"
. "$ROOT/tests/e2e/env.sh"
ROUNDS="${1:-5}"
CANCEL_RUNS="${2:-3}"
OUT="${BENCH_OUT:-$BUILD/bench-install}"
WIN="$BUILD/win32"
DRIVER="$WIN/tests/e2e/driver.exe"
CODEC_EXE="$WIN/tools/tambsetup-codec.exe"
CODEC_NATIVE="$BUILD/native/tools/tambsetup-codec"
LIMIT=300   # seconds for one installer run, recorder included

# ---- tools ----
if ! command -v makensis >/dev/null 2>&1; then
    echo "installing nsis"
    apt-get install -y nsis >/dev/null || { apt-get update >/dev/null && apt-get install -y nsis >/dev/null; }
fi
for tool in makensis Xvfb wine wineboot wineserver gcc python3; do
    command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/bootstrap.sh installs most)"
done
have_wine32 || die "the 32-bit Wine loader is missing"
for file in "$MKSETUP_NATIVE" "$DRIVER" "$CODEC_EXE" "$CODEC_NATIVE"; do
    if [ ! -f "$file" ]; then
        echo "building (missing $file)"
        { build_native >/dev/null && build_win32 >/dev/null; } || die "the build failed"
        break
    fi
done
[ -f "$CODEC_EXE" ] || CODEC_EXE="$(find "$WIN/tools" -name codec.exe | head -n 1)"
[ -f "$CODEC_NATIVE" ] || CODEC_NATIVE="$(find "$BUILD/native/tools" -maxdepth 2 -type f -name codec | head -n 1)"
for file in "$MKSETUP_NATIVE" "$DRIVER" "$CODEC_EXE" "$CODEC_NATIVE"; do
    [ -f "$file" ] || die "missing $file"
done
mkdir -p "$OUT/logs" "$OUT/stage"
trap 'stop_wine; stop_xvfb' EXIT
gcc -O2 -Wall -Wextra -Werror -o "$OUT/spanrec" "$HERE/span/spanrec.c" || die "cannot build the recorder"

# ---- the product, our setup and the NSIS installers ----
step "product and installers"
PRODUCT="$OUT/product"
"$HERE/product.sh" "$PRODUCT"
STAGE="$OUT/stage"
"$MKSETUP_NATIVE" -q build "$PRODUCT/setup.ini" -o "$STAGE/BenchSetup.exe" || die "mksetup failed"
# Names by folder, from the script's sections.
read_section() { awk -v want="[$1]" '/^\[/ { on = ($0 == want); next } on && / = / { print $1 }' "$PRODUCT/setup.ini"; }
mapfile -t main_files < <(read_section Files)
mapfile -t sample_files < <(read_section Samples)
NAMES=("${main_files[@]}" "${sample_files[@]}")
[ "${#NAMES[@]}" = 17 ] || die "the product lists ${#NAMES[@]} files, not 17"

# NSIS variables ($INSTDIR) stay literal in its script.
# shellcheck disable=SC2016
nsis_script() {
    local compressor="$1" name
    printf 'Unicode false\nName "Bench"\nOutFile "%s"\nSetCompressor %s\n' "$STAGE/nsis-$2.exe" "$compressor"
    printf 'InstallDir "$PROGRAMFILES\\Bench Product"\nRequestExecutionLevel admin\nSilentInstall silent\n'
    printf 'Section\nSetOutPath "$INSTDIR"\n'
    for name in "${main_files[@]}"; do printf 'File "%s"\n' "$PRODUCT/files/$name"; done
    printf 'SetOutPath "$INSTDIR\\Samples"\n'
    for name in "${sample_files[@]}"; do printf 'File "%s"\n' "$PRODUCT/files/$name"; done
    printf 'SectionEnd\n'
}
for build in "zlib zlib" "bzip2 bzip2" "/SOLID lzma lzma"; do   # SetCompressor's arguments, then the tag
    tag="${build##* }"
    compressor="${build% *}"
    nsis_script "$compressor" "$tag" >"$STAGE/nsis-$tag.nsi"
    makensis -V2 "$STAGE/nsis-$tag.nsi" >"$OUT/logs/makensis-$tag.txt" 2>&1 || die "makensis failed (see $OUT/logs/makensis-$tag.txt)"
done
"$CODEC_NATIVE" pack "$PRODUCT/files/App.exe" "$STAGE/App.packed" || die "codec pack failed"
ls -l "$STAGE"/*.exe "$STAGE/App.packed" | awk '{ printf "  %-16s %10d bytes\n", $NF, $5 }' | sed "s|$STAGE/||"

# ---- the template prefix: made once per Wine version ----
TEMPLATE="$OUT/template"
stamp="$(wine --version 2>/dev/null) win32"
if [ "$(cat "$TEMPLATE/.bench-stamp" 2>/dev/null)" != "$stamp" ]; then
    step "template prefix"
    rm -rf "$TEMPLATE"
    (
        export WINEARCH=win32 WINEPREFIX="$TEMPLATE"
        trap 'stop_wine; stop_xvfb' EXIT
        start_xvfb 24 "$OUT/logs/xvfb-template.txt" || exit 1
        wineboot -i </dev/null >"$OUT/logs/wineboot.txt" 2>&1
        for value in Decorated Managed; do
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f </dev/null >>"$OUT/logs/wineboot.txt" 2>&1
        done
    )
    [ -f "$TEMPLATE/system.reg" ] || die "wineboot could not make $TEMPLATE"
    echo "$stamp" >"$TEMPLATE/.bench-stamp"
fi

# ---- one run ----
# fresh_prefix DIR: a copy of the template, big system folders hard-linked
# (Wine writes there only when it updates a prefix).
fresh_prefix() {
    local prefix="$1" big
    rm -rf "$prefix"
    mkdir -p "$prefix"
    tar -C "$TEMPLATE" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/winsxs -cf - . |
        tar -C "$prefix" -xf -
    for big in system32 winsxs; do
        [ -d "$TEMPLATE/drive_c/windows/$big" ] && cp -al "$TEMPLATE/drive_c/windows/$big" "$prefix/drive_c/windows/$big"
    done
    mkdir -p "$prefix/drive_c/Downloads"
}

# run_one KIND LOG: prints the span in ms, or fails. The prefix's server and
# the desktop are up before the recorder starts, as for a user who starts an
# installer on a running system.
run_one() {
    local kind="$1" log="$2" prefix="$OUT/prefix" watch names=("${NAMES[@]}") result=0
    fresh_prefix "$prefix"
    export WINEARCH=win32 WINEPREFIX="$prefix"
    start_xvfb 24 "$OUT/logs/xvfb.txt" || return 1
    wineserver -p >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    watch="$prefix/drive_c/Program Files"
    case "$kind" in
    ours) cp "$STAGE/BenchSetup.exe" "$prefix/drive_c/Downloads/" ;;
    nsis-*) cp "$STAGE/$kind.exe" "$prefix/drive_c/Downloads/" ;;
    codec)
        cp "$STAGE/App.packed" "$prefix/drive_c/Downloads/"
        watch="$prefix/drive_c/unpack"
        mkdir -p "$watch"
        names=("*")
        ;;
    esac
    local fifo="$OUT/recorder.fifo" line=""
    rm -f "$fifo"
    mkfifo "$fifo"
    "$OUT/spanrec" "$watch" "$LIMIT" "${names[@]}" >"$fifo" 2>>"$log" &
    local recorder=$!
    exec 7<"$fifo"
    read -r -t 10 line <&7 || true
    if [ "$line" != ready ]; then
        echo "the recorder did not start" >>"$log"
        result=1
    else
        case "$kind" in
        ours) timeout -k 10 "$LIMIT" wine "$DRIVER" bench-install 'C:\Downloads\BenchSetup.exe' </dev/null >>"$log" 2>&1 ;;
        nsis-*) timeout -k 10 "$LIMIT" wine "C:\\Downloads\\$kind.exe" /S </dev/null >>"$log" 2>&1 ;;
        codec) timeout -k 10 "$LIMIT" wine "$CODEC_EXE" unpack 'C:\Downloads\App.packed' 'C:\unpack\App.exe' </dev/null >>"$log" 2>&1 ;;
        esac || { echo "$kind exited with $?" >>"$log"; result=1; }
        # The installer has ended, so every file is closed: the recorder has
        # its last events queued and ends at once (or at its own limit).
        read -r -t 30 line <&7 || line=""
    fi
    exec 7<&-
    kill "$recorder" 2>/dev/null || true
    wait "$recorder" 2>/dev/null || true
    rm -f "$fifo"
    echo "$kind: $line" >>"$log"
    if [ "$result" = 0 ] && [ "$kind" != codec ]; then
        local dir="$prefix/drive_c/Program Files/Bench Product" name
        for name in "${main_files[@]}"; do cmp -s "$PRODUCT/files/$name" "$dir/$name" || { echo "$kind: $name differs" >>"$log"; result=1; }; done
        for name in "${sample_files[@]}"; do cmp -s "$PRODUCT/files/$name" "$dir/Samples/$name" || { echo "$kind: Samples/$name differs" >>"$log"; result=1; }; done
    elif [ "$result" = 0 ]; then
        cmp -s "$PRODUCT/files/App.exe" "$prefix/drive_c/unpack/App.exe" || { echo "codec: App.exe differs" >>"$log"; result=1; }
    fi
    stop_wine
    stop_xvfb
    rm -rf "$prefix"
    unset WINEPREFIX
    [ "$result" = 0 ] || return 1
    case "$line" in
    "span "*) read -r -a fields <<<"$line"   # no globbing: a name may be "*"
        [ "${fields[6]}" = seen ] && [ "${fields[7]}" = "${fields[9]}" ] || return 1
        echo "${fields[1]}" ;;
    *) return 1 ;;
    esac
}

read -r -a KINDS <<<"${BENCH_KINDS:-ours nsis-zlib nsis-bzip2 nsis-lzma codec}"
step "spans: $ROUNDS rounds of ${KINDS[*]}"
SPANS="$OUT/spans.txt"
: >"$SPANS"
for ((round = 1; round <= ROUNDS; round++)); do
    for kind in "${KINDS[@]}"; do
        log="$OUT/logs/$kind-$round.log"
        : >"$log"
        if span=$(run_one "$kind" "$log"); then
            echo "$round $kind $span" >>"$SPANS"
            printf '  round %d %-11s %8.1f ms\n' "$round" "$kind" "$span"
        else
            echo "FAIL: round $round $kind (see $log)"
            tail -n 5 "$log" | sed 's/^/    /'
        fi
    done
done

# ---- Cancel latency ----
step "Cancel latency: $CANCEL_RUNS runs of 5 x (Cancel, No) then Cancel, Yes"
CANCEL="$OUT/cancel.txt"
: >"$CANCEL"
for ((run = 1; run <= CANCEL_RUNS; run++)); do
    prefix="$OUT/prefix"
    log="$OUT/logs/cancel-$run.log"
    fresh_prefix "$prefix"
    export WINEARCH=win32 WINEPREFIX="$prefix"
    start_xvfb 24 "$OUT/logs/xvfb.txt" || die "no display"
    wineserver -p >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    cp "$STAGE/BenchSetup.exe" "$prefix/drive_c/Downloads/"
    if timeout -k 10 "$LIMIT" wine "$DRIVER" bench-cancel 'C:\Downloads\BenchSetup.exe' 5 'C:\Program Files\Bench Product' </dev/null >"$log" 2>&1 &&
        [ ! -e "$prefix/drive_c/Program Files/Bench Product" ]; then
        awk -v run="$run" '$1 == "question" || $1 == "resume" || $1 == "rollback" || $1 == "ended" { print run, $1, $2 }' "$log" >>"$CANCEL"
        echo "  run $run: $(awk '$1 == "question" || $1 == "resume" || $1 == "rollback" || $1 == "ended" { printf "%s %s  ", $1, $2 }' "$log")"
    else
        echo "FAIL: cancel run $run (see $log)"
        tail -n 5 "$log" | sed 's/^/    /'
    fi
    stop_wine
    stop_xvfb
    rm -rf "$prefix"
    unset WINEPREFIX
done

# ---- the table ----
step "table"
python3 - "$SPANS" "$CANCEL" <<'PY' | tee "$OUT/table.txt"
import statistics, sys
spans = {}
rounds = {}
for line in open(sys.argv[1]):
    r, kind, ms = line.split()
    spans.setdefault(kind, []).append(float(ms))
    rounds.setdefault(int(r), {})[kind] = float(ms)
print("Extraction span under 32-bit Wine, ms (first product file created to last written)")
print(f"{'installer':<12} {'runs':>4} {'median':>8} {'min':>8} {'max':>8}")
for kind in ["ours", "nsis-zlib", "nsis-bzip2", "nsis-lzma", "codec"]:
    v = spans.get(kind)
    if v:
        print(f"{kind:<12} {len(v):>4} {statistics.median(v):>8.1f} {min(v):>8.1f} {max(v):>8.1f}")
print("(codec: the i686 codec tool unpacking App.exe, 9.5 MB, for scale)")
for peer, goal in [("nsis-zlib", 1.6), ("nsis-lzma", 1.0), ("nsis-bzip2", None)]:
    ratios = [k["ours"] / k[peer] for k in rounds.values() if "ours" in k and peer in k and k[peer] > 0]
    if ratios:
        text = f"ours / {peer}: median of same-round ratios {statistics.median(ratios):.2f} (range {min(ratios):.2f}-{max(ratios):.2f})"
        if goal:
            text += f", goal <= {goal}: {'met' if statistics.median(ratios) <= goal else 'MISSED'}"
        print(text)
cancel = {}
for line in open(sys.argv[2]):
    run, what, ms = line.split()
    cancel.setdefault(what, []).append(float(ms))
if cancel:
    print()
    print("Cancel latency, ms")
    labels = {"question": "Cancel clicked -> question shown", "resume": "No -> the bar moves again",
              "rollback": "Yes -> rolled back (folder gone)", "ended": "Yes -> the setup has ended"}
    for what in ["question", "resume", "rollback", "ended"]:
        v = cancel.get(what)
        if v:
            print(f"{labels[what]:<36} n={len(v):<3} median {statistics.median(v):7.1f}  max {max(v):7.1f}")
PY
