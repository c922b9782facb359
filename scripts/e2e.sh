#!/bin/bash
# e2e.sh - end-to-end tests of the setup program under Wine, on an Xvfb display.
#
#   scripts/e2e.sh [--arch win64|win32] [--keep] [SCENARIO...]
#
# Without --arch: win64, then win32 (a visible SKIP where wine32 is missing);
# without SCENARIO: all of them. --keep keeps the prefixes of passed ones too.
#
# Builds the demo setups with mksetup, then runs each scenario in a fresh copy
# of a template Wine prefix: a test driver (tests/e2e/driver.cpp, run under
# Wine) starts the setup, finds its dialogs by title, checks their texts,
# clicks, and reads back files, shortcuts and registry values. Screenshots of
# the background and of each dialog land in build/e2e/screenshots/ARCH/, logs
# in build/e2e/ARCH/logs/. A failed scenario keeps its prefix for a look.
#
# Environment (all optional):
#   E2E_NATIVE_BUILD  native build folder with tools/mksetup/mksetup (default build/native)
#   E2E_WIN64_BUILD   x86_64 Windows build folder (default build/win64)
#   E2E_WIN32_BUILD   i686 Windows build folder (default build/win32)
#   E2E_OUT           where prefixes, logs and screenshots go (default build/e2e)
# A build folder that is not given is built (or brought up to date) first.
set -uo pipefail
. "$(dirname "$0")/common.sh"

ARCH=""
KEEP=0
ONLY=()
ARGS=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) ARCH="${2:-}"; shift 2 || die "--arch needs win64 or win32" ;;
    --keep) KEEP=1; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) ONLY+=("$1"); shift ;;
    esac
done
if [ -z "$ARCH" ]; then
    # Both: the x86_64 setup under wine64, then the i686 one where wine32 is.
    "$0" --arch win64 "${ARGS[@]}"
    result64=$?
    "$0" --arch win32 "${ARGS[@]}"
    result32=$?
    [ "$result64" = 0 ] && [ "$result32" = 0 ]
    exit
fi
case "$ARCH" in win64|win32) ;; *) die "--arch is win64 or win32" ;; esac

started=$SECONDS
if [ "$ARCH" = win32 ] && ! have_wine32; then
    echo "SKIP: e2e win32: wine32 is not installed, the i686 setup program was not run"
    exit 0
fi
have_wine64 || die "wine64 is not installed (scripts/bootstrap.sh installs it)"
for tool in Xvfb import convert wineboot wineserver; do
    command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/bootstrap.sh installs it)"
done

# ---- builds -----------------------------------------------------------------
if [ -z "${E2E_NATIVE_BUILD:-}" ]; then
    build_native >/dev/null || die "native build failed"
    E2E_NATIVE_BUILD="$BUILD/native"
fi
if [ "$ARCH" = win64 ]; then E2E_WIN_BUILD="${E2E_WIN64_BUILD:-}"; else E2E_WIN_BUILD="${E2E_WIN32_BUILD:-}"; fi
if [ -z "$E2E_WIN_BUILD" ]; then
    if [ "$ARCH" = win64 ]; then build_win64 >/dev/null; else build_win32 >/dev/null; fi || die "$ARCH build failed"
    E2E_WIN_BUILD="$BUILD/$ARCH"
fi
MKSETUP="$E2E_NATIVE_BUILD/tools/mksetup/mksetup"
STUB="$E2E_WIN_BUILD/app/tambsetup.exe"
STUB_INPLACE="$E2E_WIN_BUILD/app/tambsetup_inplace.exe"
DEMO_EXE="$E2E_WIN_BUILD/examples/demo/Demo.exe"
DRIVER_EXE="$E2E_WIN_BUILD/tests/e2e/driver.exe"
PLANTED_DLL="$E2E_WIN_BUILD/tests/e2e/comctl32.dll"
for file in "$MKSETUP" "$STUB" "$STUB_INPLACE" "$DEMO_EXE" "$DRIVER_EXE" "$PLANTED_DLL"; do
    [ -f "$file" ] || die "missing $file (build it first)"
done

E2E_OUT="${E2E_OUT:-$BUILD/e2e}"
OUT="$E2E_OUT/$ARCH"
SHOTS="$E2E_OUT/screenshots/$ARCH"
LOGS="$OUT/logs"
STAGE="$OUT/stage"
TEMPLATE="$OUT/prefix-template"
PREFIXES="$OUT/prefixes"
mkdir -p "$OUT" "$SHOTS" "$LOGS" "$STAGE" "$PREFIXES"
rm -f "$SHOTS"/*.png "$LOGS"/*.log
rm -rf "${PREFIXES:?}"/*
export WINEARCH="$ARCH"
unset WINEPREFIX
DECORATION="$ROOT/resources/decoration"

# ---- displays: one true-colour screen, one 256-colour (palette) screen ------
XVFB_PIDS=()
cleanup() {
    if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1; fi
    for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    rm -f "$OUT/displayfd"
}
trap cleanup EXIT

# start_xvfb DEPTH VAR: starts Xvfb on a free display (Xvfb picks it and
# tells through -displayfd) and stores ":N" in VAR.
start_xvfb() {
    local depth="$1" var="$2" fifo="$OUT/displayfd" number=""
    rm -f "$fifo"
    mkfifo "$fifo"
    Xvfb -displayfd 5 -screen 0 "800x600x$depth" -nolisten tcp -noreset 5>"$fifo" >"$LOGS/xvfb-$depth.txt" 2>&1 &
    XVFB_PIDS+=($!)
    read -r -t 15 number <"$fifo"
    rm -f "$fifo"
    [ -n "$number" ] || die "Xvfb did not start (see $LOGS/xvfb-$depth.txt)"
    printf -v "$var" ':%s' "$number"
}
start_xvfb 24 DISPLAY24
start_xvfb 8 DISPLAY8
export DISPLAY="$DISPLAY24"

# ---- the template prefix, made once per Wine version ------------------------
# Wine draws the window frames itself (there is no window manager on Xvfb) and
# never builds menu entries (common.sh disables winemenubuilder).
template_stamp="$(wine --version 2>/dev/null) $ARCH frames-by-wine"
if [ "$(cat "$TEMPLATE/.e2e-stamp" 2>/dev/null)" != "$template_stamp" ]; then
    echo "e2e: making the template Wine prefix $TEMPLATE"
    rm -rf "$TEMPLATE"
    (
        export WINEPREFIX="$TEMPLATE"
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
    )
    [ -f "$TEMPLATE/system.reg" ] || die "wineboot could not make $TEMPLATE"
    echo "$template_stamp" >"$TEMPLATE/.e2e-stamp"
fi

# new_prefix NAME: a fresh copy of the template. The large system folders are
# hard links (Wine only writes there when it updates a prefix, and the stamp
# above makes a new template for a new Wine); the rest is copied.
new_prefix() {
    local dst="$PREFIXES/$1" big
    rm -rf "$dst"
    mkdir -p "$dst"
    tar -C "$TEMPLATE" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
        --exclude=./drive_c/windows/winsxs -cf - . | tar -C "$dst" -xf -
    for big in system32 syswow64 winsxs; do
        if [ -d "$TEMPLATE/drive_c/windows/$big" ]; then
            cp -al "$TEMPLATE/drive_c/windows/$big" "$dst/drive_c/windows/$big"
        fi
    done
    export WINEPREFIX="$dst"
}

# ---- the products and their setups ------------------------------------------
# demo: the example product as it is (samples, no Startup shortcut).
# viewer: another configuration: the install folder "Tamberlyn" (so the
#   finished text is the plain one), no samples description, a help file
#   with an upper-case extension, a Start Menu subfolder, a Startup shortcut
#   with arguments, other name formats.
# big: the demo with a 10 MB sample, long enough to cancel while it decodes.
# Damaged copies of demo: the last bytes cut off, and one entry's data spoilt.
stage_products() {
    local demo="$ROOT/examples/demo"
    rm -rf "$STAGE/demo" "$STAGE/viewer" "$STAGE/big"
    mkdir -p "$STAGE/demo" "$STAGE/viewer" "$STAGE/big"
    cp "$demo"/setup.ini "$demo"/Help.txt "$demo"/License.txt "$demo"/Sample1.txt "$demo"/Sample2.txt \
        "$demo"/Pattern.bmp "$DEMO_EXE" "$STAGE/demo/"

    cp "$DEMO_EXE" "$demo"/License.txt "$demo"/Sample1.txt "$STAGE/viewer/"
    printf 'Tamb Viewer help (a stand-in for a WinHelp file)\r\n' >"$STAGE/viewer/Viewer.HLP"
    cat >"$STAGE/viewer/setup.ini" <<'EOF'
[Setup]
ProductName = Tamb Viewer
ProductVersion = 2.5b
InstallFolder = Tamberlyn
StartMenuSubfolder = Extras
RunningWindowClass = TambDemoWindow
SamplesDescription =
StartupArguments = -tray
UninstallShortcutFormat = Remove %s
InstallingLabelFormat = Setting up %s
[Files]
Uninstall.exe
Viewer.exe = Demo.exe
Viewer.HLP = Viewer.HLP
License.txt = License.txt
Sample1.txt = Sample1.txt
EOF

    cp "$STAGE/demo"/* "$STAGE/big/"
    # Text-like data: compresses to about half, and decodes at a few MB/s.
    awk 'BEGIN { srand(7); for (i = 0; i < 150000; i++) { line = i; for (j = 0; j < 10; j++) line = line " " sprintf("%x", int(rand() * 1000000)); print line } }' \
        >"$STAGE/big/Data.txt"
    printf 'Data.txt = Data.txt\n' >>"$STAGE/big/setup.ini"

    "$MKSETUP" build "$STAGE/demo/setup.ini" -o "$STAGE/DemoSetup.exe" --stub "$STUB" >"$LOGS/mksetup.txt" 2>&1 &&
        "$MKSETUP" build "$STAGE/viewer/setup.ini" -o "$STAGE/ViewerSetup.exe" --stub "$STUB" >>"$LOGS/mksetup.txt" 2>&1 &&
        "$MKSETUP" build "$STAGE/big/setup.ini" -o "$STAGE/BigSetup.exe" --stub "$STUB" >>"$LOGS/mksetup.txt" 2>&1 &&
        "$MKSETUP" build "$STAGE/big/setup.ini" -o "$STAGE/BigSetupInPlace.exe" --stub "$STUB_INPLACE" \
            >>"$LOGS/mksetup.txt" 2>&1 ||
        die "mksetup failed (see $LOGS/mksetup.txt)"

    local size
    size=$(stat -c %s "$STAGE/DemoSetup.exe")
    head -c $((size - 100)) "$STAGE/DemoSetup.exe" >"$STAGE/TruncatedSetup.exe"

    # Spoil the middle of the entry of Sample2.txt (File5, the second sample):
    # four files and the Samples folder exist by the time it is reached.
    local offset stored
    read -r offset stored < <("$MKSETUP" list "$STAGE/DemoSetup.exe" | awk '$1 == "File5" { print $8, $5 }')
    [ -n "$offset" ] || die "mksetup list shows no File5 in DemoSetup.exe"
    cp "$STAGE/DemoSetup.exe" "$STAGE/DamagedSetup.exe"
    printf '\x55\xaa\x55\xaa\x55\xaa\x55\xaa' |
        dd of="$STAGE/DamagedSetup.exe" bs=1 seek=$((offset + stored / 2)) conv=notrunc status=none
}

# ---- helpers for the scenarios ----------------------------------------------
# Each scenario runs in a subshell with its output in its log; fail lines go
# to the console too (fd 3).
exec 3>&1
SCENARIO=""
FAILS=0
log() { echo "$*"; }
fail() {
    FAILS=$((FAILS + 1))
    echo "FAIL: $*"
    echo "    FAIL [$SCENARIO]: $*" >&3
}

# drv ARGS: the driver under Wine; its output goes to the log and stdout.
# The driver's own exit codes are 0, 1 and 2. A run that never reached it
# (Wine's "wine client error" when its server was just shutting down, or any
# other code with no output at all) is started once more, with a note.
drv() {
    local attempt status output errors
    output=$(mktemp)
    errors=$(mktemp)
    for attempt in 1 2; do
        timeout 120 wine "$DRIVER_EXE" "$@" >"$output" 2>"$errors"
        status=$?
        [ "$attempt" = 1 ] || break
        if grep -q '^wine client error' "$errors" ||
            { [ "$status" -gt 2 ] && [ "$status" != 124 ] && [ ! -s "$output" ] && [ ! -s "$errors" ]; }; then
            echo "note: Wine did not run the driver (exit $status: $(head -1 "$errors")); trying again" >&2
            continue
        fi
        break
    done
    cat "$output"
    cat "$errors" >&2
    rm -f "$output" "$errors"
    return "$status"
}

# drv_log ARGS: the same, output only in the log; returns the driver's code.
drv_log() {
    echo "+ driver $*"
    drv "$@"
}

# unix_path WINPATH: where a C: path of the prefix lies on this machine.
unix_path() {
    local path="${1//\\//}"
    case "$path" in
    [Cc]:/*) printf '%s/drive_c/%s' "$WINEPREFIX" "${path:3}" ;;
    *) printf '%s' "$path" ;;
    esac
}

# reg_value KEY VALUE: the data of a REG_SZ/REG_DWORD value ("" and 1 if missing).
reg_value() {
    local line
    line=$(drv reg-query "$1" "$2") || return 1
    printf '%s' "${line#* }"
}

# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
    if [ "$2" != "$3" ]; then
        fail "$1 differs
      expected: $(printf '%q' "$2")
      actual:   $(printf '%q' "$3")"
        return 1
    fi
    log "ok: $1"
}

# expect_text TITLE ID EXPECTED: the control's text, exactly.
expect_text() {
    local actual
    actual=$(drv text "$1" "$2") || { fail "no control $2 in dialog \"$1\""; return 1; }
    expect_equal "text of control $2 of \"$1\"" "$3" "$actual"
}

# dialog TITLE NAME: waits for the dialog, logs its controls, saves a screenshot
# of the screen and of the dialog alone as NAME. Sets DIALOG (the listing) and
# DIALOG_RECT (x,y,w,h on the screen).
dialog() {
    local status
    DIALOG=$(drv wait-dialog "$1" --timeout "${3:-15000}")
    status=$?
    if [ "$status" != 0 ]; then
        [ -n "$DIALOG" ] && echo "$DIALOG"
        fail "dialog \"$1\" did not appear (driver exit $status)"
        return 1
    fi
    echo "$DIALOG"
    DIALOG_RECT=$(sed -n 's/^dialog .* rect=\([-0-9,]*\) .*/\1/p' <<<"$DIALOG")
    [ -n "$2" ] && screenshot "$2" "$DIALOG_RECT"
    return 0
}

# listing_text ID: the text of a control as DIALOG listed it, unescaped; for
# dialogs that may be gone before another look (the installing dialog of a
# small product).
listing_text() {
    local line escaped out="" c
    line=$(grep -m1 "^control $1 " <<<"$DIALOG") || return 1
    escaped="${line#* text=\"}"
    escaped="${escaped%\"}"
    while [ -n "$escaped" ]; do
        c="${escaped:0:1}"
        if [ "$c" = '\' ]; then
            case "${escaped:1:1}" in
            n) out+=$'\n' ;;
            r) out+=$'\r' ;;
            t) out+=$'\t' ;;
            *) out+="${escaped:1:1}" ;;
            esac
            escaped="${escaped:2}"
        else
            out+="$c"
            escaped="${escaped:1}"
        fi
    done
    printf '%s' "$out"
}

# control_field ID FIELD: a field (at, screen, style, ...) of a control of DIALOG.
control_field() {
    sed -n "s/^control $1 .* $2=\\([^ ]*\\) .*/\\1/p" <<<"$DIALOG" | head -1
}

# screenshot NAME [X,Y,W,H]: the whole screen as NAME-screen.png, and the
# rectangle cut out as NAME.png. Taken from the X server, or, with
# SHOT_THROUGH_GDI=1 (the palette screen, where X shows Wine's colours
# through a colormap it never installed), through GDI by the driver.
SHOT_THROUGH_GDI=0
screenshot() {
    local name="$1" rect="${2:-}" x y w h
    if [ "$SHOT_THROUGH_GDI" = 1 ]; then
        drv screenshot "$(winepath_of "$OUT/gdi.bmp")" && convert "$OUT/gdi.bmp" "$SHOTS/$name-screen.png"
    else
        import -display "$DISPLAY" -window root "$SHOTS/$name-screen.png"
    fi || { fail "screenshot $name failed"; return 1; }
    if [ -n "$rect" ]; then
        IFS=, read -r x y w h <<<"$rect"
        convert "$SHOTS/$name-screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$SHOTS/$name.png"
    fi
}

# check_background SHOT RECT [--palette]: pixels of the background outside the
# dialog against the bands and the decorative bitmaps.
check_background() {
    local shot="$1" rect="$2"
    shift 2
    convert "$SHOTS/$shot-screen.png" -type truecolor "bmp3:$OUT/screen.bmp" || { fail "cannot convert $shot"; return 1; }
    local winshot winroot windiff
    winshot=$(winepath_of "$OUT/screen.bmp")
    winroot=$(winepath_of "$DECORATION")
    windiff=$(winepath_of "$OUT/$shot-diff.bmp")
    if drv check-background "$winshot" "$winroot" --exclude "$rect" --diff "$windiff" "$@"; then
        log "ok: background pixels of $shot"
        rm -f "$OUT/$shot-diff.bmp"
    else
        convert "$OUT/$shot-diff.bmp" "$SHOTS/$shot-diff.png" 2>/dev/null
        fail "background pixels of $shot (wrong pixels in magenta: $SHOTS/$shot-diff.png)"
    fi
}

# winepath_of UNIXPATH: the same file through Wine's Z: drive.
winepath_of() {
    local path
    path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    printf 'Z:%s' "${path//\//\\}"
}

# picture_colours: how many colours the picture control of DIALOG shows (the
# 8-colour bitmap of palette mode or the full-colour one).
picture_colours() {
    local rect x y w h
    rect=$(sed -n 's/^control -1 .* screen=\([-0-9,]*\) style=0x5[0-9a-f]*0e .*/\1/p' <<<"$DIALOG" | head -1)
    [ -n "$rect" ] || { echo 0; return; }
    IFS=, read -r x y w h <<<"$rect"
    convert "$SHOTS/$1-screen.png" -crop "${w}x${h}+${x}+${y}" +repage -format %k info:
}

# start_setup EXE: copies the setup into the prefix's downloads folder and
# starts it there; sets PID.
start_setup() {
    mkdir -p "$WINEPREFIX/drive_c/Downloads"
    cp "$1" "$WINEPREFIX/drive_c/Downloads/"
    PID=$(drv start "C:\\Downloads\\$(basename "$1")") || { fail "cannot start $(basename "$1")"; return 1; }
    log "started $(basename "$1"), pid $PID"
}

# The special folders and the paths of the product, read from the prefix.
read_folders() {
    local folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
    PROGRAMS_WIN=$(reg_value "$folders" Programs)
    STARTUP_WIN=$(reg_value "$folders" StartUp)
    PROGRAM_FILES_WIN=$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion' ProgramFilesDir)
    PROGRAMS=$(unix_path "$PROGRAMS_WIN")
    STARTUP=$(unix_path "$STARTUP_WIN")
    [ -d "$PROGRAMS" ] && [ -d "$STARTUP" ] && [ -n "$PROGRAM_FILES_WIN" ] ||
        { fail "cannot read the Start Menu, Startup and Program Files folders"; return 1; }
    if [ "$ARCH" = win64 ] && [ "${1:-}" != any-program-files ]; then
        expect_equal "Program Files folder" 'C:\Program Files' "$PROGRAM_FILES_WIN"
    fi
    STARTUP_BEFORE=$(ls -A "$STARTUP")
    snapshot before
}

UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\UnInstall'

# expect_nothing_installed PRODUCT FOLDER: no install folder, no Start Menu
# group, no new Startup shortcut, no uninstall entry.
expect_nothing_installed() {
    local dir
    dir=$(unix_path "$PROGRAM_FILES_WIN\\$2")
    if [ -e "$dir" ]; then
        fail "the install folder remains: $(cd "$dir" && find . | sort | tr '\n' ' ')"
    else
        log "ok: no install folder"
    fi
    [ -e "$PROGRAMS/$2" ] && fail "the Start Menu group \"$2\" exists"
    [ "$(ls -A "$STARTUP")" != "$STARTUP_BEFORE" ] && fail "the Startup folder changed: $(ls -A "$STARTUP")"
    drv reg-query "$UNINSTALL_KEY\\$1" >/dev/null && fail "the uninstall entry of $1 exists"
    snapshot after
    expect_snapshot_unchanged before after
}

# snapshot NAME: what an install changes and a rollback (or, later, the
# uninstaller) must give back: every path under Program Files, the Start
# Menu programs and Startup folders, and the uninstall key with its subkeys.
snapshot() {
    {
        echo "[Program Files]"
        (cd "$(unix_path "$PROGRAM_FILES_WIN")" && find . | sort)
        echo "[Programs]"
        (cd "$PROGRAMS" && find . | sort)
        echo "[Startup]"
        (cd "$STARTUP" && find . | sort)
        echo "[$UNINSTALL_KEY]"
        drv reg-query "$UNINSTALL_KEY"
    } >"$OUT/snapshot-$SCENARIO-$1.txt" 2>&1
}

# expect_snapshot_unchanged BEFORE AFTER
expect_snapshot_unchanged() {
    local changes
    if changes=$(diff "$OUT/snapshot-$SCENARIO-$1.txt" "$OUT/snapshot-$SCENARIO-$2.txt"); then
        log "ok: Program Files, Start Menu, Startup and the uninstall key as before"
    else
        fail "the machine differs from before the setup:
$changes"
    fi
}

# finish_prefix: ends everything running in the prefix.
finish_prefix() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
}

# ---- checks of a completed install --------------------------------------------

# expect_files SOURCE_DIR FOLDER NAME=SOURCE... : every installed file, and no
# other, byte-identical to its source; index 4 and above under "Samples".
# The first name is the uninstaller (composed, no source).
expect_files() {
    local source_dir="$1" dir index=0 entry name source path expected=() actual
    dir=$(unix_path "$PROGRAM_FILES_WIN\\$2")
    shift 2
    for entry in "$@"; do
        name="${entry%%=*}"
        source="${entry#*=}"
        path="$name"
        [ "$index" -ge 4 ] && path="Samples/$name"
        expected+=("./$path")
        if [ ! -f "$dir/$path" ]; then
            fail "file $index $path was not installed"
        elif [ "$index" -gt 0 ] && ! cmp -s "$dir/$path" "$source_dir/$source"; then
            fail "file $index $path differs from its source $source"
        else
            log "ok: file $index $path"
        fi
        index=$((index + 1))
    done
    actual=$(cd "$dir" 2>/dev/null && find . -type f | sort)
    expect_equal "the files of the install folder" "$(printf '%s\n' "${expected[@]}" | sort)" "$actual"
}

# expect_uninstaller PATH SETUP: the composed uninstaller is the setup's MAIN
# entry followed by a package of exactly the eight bitmaps, all intact.
expect_uninstaller() {
    local listing names
    listing=$("$MKSETUP" list "$1" 2>&1) || { fail "mksetup list $1: $listing"; return 1; }
    echo "$listing"
    names=$(awk 'NR > 1 { printf "%s ", $1 }' <<<"$listing")
    expect_equal "entries of the uninstaller" "MAIN BLUE DIMENSION LOGO TAMBERLYN TOPSHADOW ORANGE BLUEWHITE WHITEBLUE " \
        "$names"
    # Extraction decodes every entry and checks its blocks.
    local tmp="$OUT/uninst-check" entry
    rm -rf "$tmp"
    mkdir -p "$tmp/setup" "$tmp/uninst"
    if ! "$MKSETUP" extract "$1" -d "$tmp/uninst" >"$tmp/log" 2>&1 ||
        ! "$MKSETUP" extract "$2" -d "$tmp/setup" >>"$tmp/log" 2>&1; then
        fail "mksetup extract: $(tail -3 "$tmp/log")"
        return 1
    fi
    for entry in MAIN BLUE DIMENSION LOGO TAMBERLYN TOPSHADOW ORANGE BLUEWHITE WHITEBLUE; do
        cmp -s "$tmp/uninst/$entry" "$tmp/setup/$entry" || fail "the uninstaller's $entry differs from the setup's"
    done
    cmp -s -n "$(stat -c %s "$tmp/setup/MAIN")" "$1" "$tmp/setup/MAIN" ||
        fail "the uninstaller does not begin with the setup program"
    log "ok: the uninstaller holds MAIN and the eight bitmaps of the setup"
    rm -rf "$tmp"
}

# expect_shortcut LNK TARGET DESCRIPTION ARGUMENTS ICON: a shortcut as the
# shell link object reads it back.
expect_shortcut() {
    local lnk="$1" listing
    if [ ! -f "$(unix_path "$lnk")" ]; then
        fail "shortcut $lnk is missing"
        return 1
    fi
    listing=$(drv read-shortcut "$lnk") || { fail "cannot read shortcut $lnk"; return 1; }
    echo "$listing"
    expect_equal "target of $lnk" "$2" "$(sed -n 's/^path=//p' <<<"$listing")"
    expect_equal "description of $lnk" "$3" "$(sed -n 's/^description=//p' <<<"$listing")"
    expect_equal "arguments of $lnk" "$4" "$(sed -n 's/^arguments=//p' <<<"$listing")"
    expect_equal "icon of $lnk" "$5" "$(sed -n 's/^icon=//p' <<<"$listing")"
}

# expect_uninstall_entry PRODUCT VERSION INSTALLDIR UNINSTALLER
expect_uninstall_entry() {
    local key="$UNINSTALL_KEY\\$1" dir="$3" uninst="$3\\$4" listing size kb
    listing=$(drv reg-query "$key") || { fail "no uninstall entry $key"; return 1; }
    echo "$listing"
    expect_equal "DisplayName" "REG_SZ $1" "$(grep '^DisplayName=' <<<"$listing" | cut -d= -f2-)"
    expect_equal "UninstallString (quoted)" "REG_SZ \"$uninst\"" "$(grep '^UninstallString=' <<<"$listing" | cut -d= -f2-)"
    expect_equal "DisplayVersion" "REG_SZ $2" "$(grep '^DisplayVersion=' <<<"$listing" | cut -d= -f2-)"
    local icon
    icon=$(grep '^DisplayIcon=' <<<"$listing" | cut -d= -f2-)
    if [ "$icon" != "REG_SZ $uninst,1" ] && [ "$icon" != "REG_SZ \"$uninst\",1" ]; then
        fail "DisplayIcon is $(printf '%q' "$icon"), not the uninstaller with icon index 1"
    fi
    expect_equal "InstallLocation" "REG_SZ $dir" "$(grep '^InstallLocation=' <<<"$listing" | cut -d= -f2-)"
    expect_equal "NoModify" "REG_DWORD 1" "$(grep '^NoModify=' <<<"$listing" | cut -d= -f2-)"
    expect_equal "NoRepair" "REG_DWORD 1" "$(grep '^NoRepair=' <<<"$listing" | cut -d= -f2-)"
    size=$(find "$(unix_path "$dir")" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
    kb=$(grep '^EstimatedSize=' <<<"$listing" | sed 's/^EstimatedSize=REG_DWORD //')
    if [ "$kb" != $((size / 1024)) ] && [ "$kb" != $(((size + 1023) / 1024)) ]; then
        fail "EstimatedSize is $(printf '%q' "$kb") KB, the files take $size bytes"
    else
        log "ok: EstimatedSize $kb KB for $size bytes"
    fi
}

# ---- the scenarios ----------------------------------------------------------

WELCOME_DEMO=$'Welcome to the Demo setup program.\n\nThis setup will install Demo V1.0 on your computer.\n\nWhen you are ready to start installing the program, click Finish.'
CONFIRM_TEXT='The setup is not finished! Do you really want to abort?'
TRUNCATED_TEXT="This setup program is truncated.  It's most likely that the download wasn't fully completed.  Please get a new copy."
DEMO_FILES=(Uninst.exe Demo.exe=Demo.exe Help.txt=Help.txt License.txt=License.txt Sample1.txt=Sample1.txt
    Sample2.txt=Sample2.txt Pattern.bmp=Pattern.bmp)

# Full install of the demo, "Run Demo" left ticked. Every text, file,
# shortcut and registry value; screenshots and pixel checks.
scenario_install() {
    new_prefix install
    read_folders || return 1
    # Bait for an unquoted start of "C:\Program Files\Demo Product\Demo.exe":
    # the system would run C:\Program.exe, whose window has the same class.
    cp "$DEMO_EXE" "$WINEPREFIX/drive_c/Program.exe"
    start_setup "$STAGE/DemoSetup.exe" || return 1
    dialog Install welcome || return 1
    expect_text Install 108 "$WELCOME_DEMO"
    expect_equal "welcome dialog size (dialog units)" "293x167" "$(sed -n 's/^dialog .* size=\([0-9x]*\).*/\1/p' <<<"$DIALOG")"
    local colours
    colours=$(picture_colours welcome)
    [ "$colours" -gt 8 ] || fail "the welcome picture shows $colours colours: not bitmap 103 (template 101)"
    screenshot background
    check_background background "$DIALOG_RECT"
    drv_log click Install 6 || return 1
    # The demo installs in a moment, so its installing dialog may be gone
    # before its texts are read; the cancel scenarios check the label on a
    # product that keeps the dialog up.
    dialog Installing "" || return 1
    dialog Finished finished 30000 || return 1
    local dir='C:\Program Files\Demo Product'
    [ "$ARCH" = win32 ] && dir="$PROGRAM_FILES_WIN\\Demo Product"
    expect_text Finished 108 "Setup is complete and Demo V1.0 is now installed on your computer!

Demo is accessible through the Start Menu, under Demo Product.

Some sample files can be found in $dir\\Samples

Click Finish."
    expect_text Finished 1001 "Run Demo"
    expect_equal "check box 1001 of the finished dialog (template 102)" "110,112,80,11" "$(control_field 1001 at)"
    expect_equal "Run Demo ticked" "1" "$(drv check Finished 1001 1)"
    check_background finished "$DIALOG_RECT"

    expect_files "$STAGE/demo" "Demo Product" "${DEMO_FILES[@]}"
    expect_uninstaller "$(unix_path "$dir\\Uninst.exe")" "$STAGE/DemoSetup.exe"
    expect_uninstall_entry Demo 1.0 "$dir" Uninst.exe
    expect_equal "shortcuts of the group" $'Demo.lnk\nUninstall Demo.lnk' "$(ls "$PROGRAMS/Demo Product")"
    expect_shortcut "$PROGRAMS_WIN\\Demo Product\\Demo.lnk" "$dir\\Demo.exe" Demo "" ",0"
    expect_shortcut "$PROGRAMS_WIN\\Demo Product\\Uninstall Demo.lnk" "$dir\\Uninst.exe" "Uninstall Demo" "" \
        "$dir\\Uninst.exe,1"
    expect_equal "Startup folder (StartupArguments \"|\")" "$STARTUP_BEFORE" "$(ls -A "$STARTUP")"

    # Finish with the box ticked: the product starts once the background has gone.
    drv_log click Finished 6 || return 1
    local window
    window=$(drv wait-window TambDemoWindow --without TambSetupClass --timeout 15000) ||
        { fail "Demo did not start after Finish, or started before the background had gone"; return 1; }
    echo "$window"
    expect_equal "the program started" "$dir\\Demo.exe" "$(sed -n 's/.* image=//p' <<<"$window")"
    drv_log wait-exit "$PID" --timeout 10000 || fail "the setup did not end"
    drv_log close-window TambDemoWindow
    drv_log wait-no-window TambDemoWindow --timeout 5000
}

# The other configuration: plain finished text (install folder "Tamberlyn",
# no samples), help shortcut, subfolder, Startup shortcut with arguments;
# "Run" unticked, so nothing starts.
scenario_install_viewer() {
    new_prefix install_viewer
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\Tamberlyn" group="$PROGRAMS_WIN\\Tamberlyn\\Extras"
    start_setup "$STAGE/ViewerSetup.exe" || return 1
    dialog Install "" || return 1
    expect_text Install 108 $'Welcome to the Tamb Viewer setup program.\n\nThis setup will install Tamb Viewer V2.5b on your computer.\n\nWhen you are ready to start installing the program, click Finish.'
    drv_log key Install enter || return 1
    dialog Installing "" || return 1
    expect_equal "label of the installing dialog" "Setting up Tamb Viewer" "$(listing_text 105)"
    dialog Finished viewer-finished 30000 || return 1
    expect_text Finished 108 $'Setup is complete and Tamb Viewer V2.5b is now installed on your computer!\n\nTamb Viewer is accessible through the Start Menu, under Tamberlyn.\n\nClick Finish.'
    expect_text Finished 1001 "Run Tamb Viewer"

    expect_files "$STAGE/viewer" Tamberlyn Uninstall.exe Viewer.exe=Demo.exe Viewer.HLP=Viewer.HLP \
        License.txt=License.txt Sample1.txt=Sample1.txt
    expect_uninstall_entry "Tamb Viewer" 2.5b "$dir" Uninstall.exe
    expect_equal "the Start Menu group" "Extras" "$(ls "$PROGRAMS/Tamberlyn")"
    expect_equal "shortcuts of the group" $'Remove Tamb Viewer.lnk\nTamb Viewer Help.lnk\nTamb Viewer.lnk' \
        "$(ls "$(unix_path "$group")")"
    expect_shortcut "$group\\Tamb Viewer.lnk" "$dir\\Viewer.exe" "Tamb Viewer" "" ",0"
    expect_shortcut "$group\\Tamb Viewer Help.lnk" "$dir\\Viewer.HLP" "Tamb Viewer Help" "" ",0"
    expect_shortcut "$group\\Remove Tamb Viewer.lnk" "$dir\\Uninstall.exe" "Remove Tamb Viewer" "" "$dir\\Uninstall.exe,1"
    expect_shortcut "$STARTUP_WIN\\Tamb Viewer.lnk" "$dir\\Viewer.exe" "Tamb Viewer" "-tray" ",0"

    expect_equal "Run unticked" "0" "$(drv check Finished 1001 0)"
    drv_log click Finished 6 || return 1
    drv_log wait-exit "$PID" --timeout 10000 || fail "the setup did not end"
    drv_log no-window TambDemoWindow --timeout 2000 || fail "the product started although Run was unticked"
}

# Cancel at the welcome dialog: No keeps it, Esc asks again, Yes ends the setup.
scenario_welcome_cancel() {
    new_prefix welcome_cancel
    read_folders || return 1
    start_setup "$STAGE/DemoSetup.exe" || return 1
    dialog Install "" || return 1
    drv_log click Install 7 || return 1
    screenshot confirm-welcome
    drv_log answer-msgbox Confirm IDNO --text "$CONFIRM_TEXT" || fail "the Cancel question"
    drv_log dialog-stays Install --timeout 1000 || fail "the welcome dialog closed after No"
    drv_log key Install esc || return 1
    drv_log answer-msgbox Confirm IDYES --text "$CONFIRM_TEXT" || fail "the Esc question"
    drv_log wait-exit "$PID" --timeout 10000 --no-dialog || fail "the setup did not end after Yes"
    expect_nothing_installed Demo "Demo Product"
}

# Cancel while the big sample decodes: No goes on, Yes stops, and the rollback
# removes every file and both folders; nothing is registered.
cancel_during_install() {
    start_setup "$1" || return 1
    dialog Install "" || return 1
    drv_log click Install 6 || return 1
    dialog Installing "${2:+installing}" || return 1
    expect_equal "label of the installing dialog" "Installing Demo..." "$(listing_text 105)"
    drv_log click Installing 2 || return 1
    # No: the install goes on, and Cancel is pressed again at once (the
    # dialog is still there and Cancel still enabled, or the click fails).
    drv_log answer-msgbox Confirm IDNO --text "$CONFIRM_TEXT" --then-click Installing:2 ||
        { fail "the Cancel question (No), then Cancel again"; return 1; }
    drv_log wait-msgbox Confirm || { fail "no question after the second Cancel"; return 1; }
    [ -n "$2" ] && screenshot "$2"
    # While the question is up the worker waits: the dialog names the file
    # of the install folder that it is writing.
    local file
    file=$(drv text Installing 106)
    case "$file" in
    "$PROGRAM_FILES_WIN\\Demo Product\\"?*) log "ok: the installing dialog shows $file" ;;
    *) fail "the installing dialog shows $(printf '%q' "$file") as the file being written" ;;
    esac
    drv_log answer-msgbox Confirm IDYES --text "$CONFIRM_TEXT" || { fail "the Cancel question (Yes)"; return 1; }
    drv_log wait-exit "$PID" --timeout 30000 --fail-on Finished --fail-on Install ||
        fail "the setup did not end with a rollback"
    expect_nothing_installed Demo "Demo Product"
}

scenario_install_cancel() {
    new_prefix install_cancel
    read_folders || return 1
    cancel_during_install "$STAGE/BigSetup.exe" confirm-installing
}

# The same with the worker run in place (as when no thread can be made): the
# abort must stay an abort.
scenario_install_cancel_inplace() {
    new_prefix install_cancel_inplace
    read_folders || return 1
    cancel_during_install "$STAGE/BigSetupInPlace.exe" ""
}

# A running copy of the product is closed before any file is written.
scenario_running_copy() {
    new_prefix running_copy
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\Demo Product" fake_log="$LOGS/running_copy-window.txt" fake_pid
    drv make-window TambDemoWindow --absent "$dir" --max-ms 30000 >"$fake_log" 2>&1 &
    fake_pid=$!
    drv_log wait-window TambDemoWindow || { fail "the stand-in window did not appear"; return 1; }
    start_setup "$STAGE/DemoSetup.exe" || return 1
    drv_log click Install 6 || return 1
    dialog Finished "" 30000 || return 1
    if wait "$fake_pid"; then
        log "ok: the running copy was closed before $dir existed"
    else
        fail "the running copy: $(tr '\n' ' ' <"$fake_log")"
    fi
    cat "$fake_log"
    drv_log check Finished 1001 0
    drv_log click Finished 6
    drv_log wait-exit "$PID" --timeout 10000 || fail "the setup did not end"
}

# The last bytes cut off: exactly one message box, then the end; nothing installed.
scenario_truncated() {
    new_prefix truncated
    read_folders || return 1
    start_setup "$STAGE/TruncatedSetup.exe" || return 1
    DIALOG=$(drv wait-msgbox Install --timeout 15000) || { fail "no message box"; return 1; }
    echo "$DIALOG"
    # The background shows the three bands alone: there was no package to
    # take the bitmaps from.
    local rect
    rect=$(sed -n 's/^msgbox [^=]* rect=\([-0-9,]*\) .*/\1/p' <<<"$DIALOG")
    screenshot truncated "$rect"
    check_background truncated "$rect" --bands-only
    drv_log answer-msgbox Install IDOK --text "$TRUNCATED_TEXT" || fail "the truncated message"
    drv_log wait-exit "$PID" --timeout 10000 --no-dialog || fail "the setup did not end after the one message box"
    expect_nothing_installed Demo "Demo Product"
}

# A damaged entry: one message box naming the file, then the rollback; never
# "Setup is complete".
scenario_damaged_entry() {
    new_prefix damaged_entry
    read_folders || return 1
    start_setup "$STAGE/DamagedSetup.exe" || return 1
    dialog Install "" || return 1
    drv_log click Install 6 || return 1
    local dir="$PROGRAM_FILES_WIN\\Demo Product"
    drv_log answer-msgbox Install IDOK --contains "$dir\\Samples\\Sample2.txt" --timeout 30000 ||
        fail "no message box naming the damaged file"
    drv_log wait-exit "$PID" --timeout 15000 --fail-on Finished --fail-on Install ||
        fail "the setup did not end with a rollback after the message"
    expect_nothing_installed Demo "Demo Product"
}

# A Program Files folder so long that the installed paths would not fit: a
# message, the end, and no file.
scenario_long_path() {
    new_prefix long_path
    local long='C:\Program Files Of A Machine Whose Administrator Chose A Very Long Folder Name'
    long="$long\\$(printf 'Sub%.0s' $(seq 1 50))"
    wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /d "$long" /f >/dev/null 2>&1
    read_folders any-program-files || return 1
    expect_equal "the long Program Files folder" "$long" "$PROGRAM_FILES_WIN"
    start_setup "$STAGE/DemoSetup.exe" || return 1
    drv_log answer-msgbox Install IDOK --contains "too long" --timeout 15000 || fail "no message about the long path"
    drv_log wait-exit "$PID" --timeout 10000 --no-dialog || fail "the setup did not end after the message"
    expect_nothing_installed Demo "Demo Product"
}

# A 256-colour screen: the welcome and finished dialogs are the palette
# templates 201 and 202, the background realizes the bitmaps' palette and
# shows the BLUE tiles.
scenario_palette() {
    export DISPLAY="$DISPLAY8"
    SHOT_THROUGH_GDI=1
    new_prefix palette
    read_folders || return 1
    local info
    info=$(drv screen-info)
    echo "$info"
    case "$info" in *bitspixel=8*) ;; *) fail "the palette display is not 8 bits deep: $info"; return 1 ;; esac
    start_setup "$STAGE/DemoSetup.exe" || return 1
    dialog Install palette-welcome || return 1
    expect_text Install 108 "$WELCOME_DEMO"
    local colours
    colours=$(picture_colours palette-welcome)
    [ "$colours" -ge 2 ] && [ "$colours" -le 8 ] ||
        fail "the welcome picture shows $colours colours: not the 8-colour bitmap 107 (template 201)"
    screenshot palette-background
    check_background palette-background "$DIALOG_RECT" --palette
    drv_log click Install 6 || return 1
    dialog Finished palette-finished 30000 || return 1
    expect_equal "check box 1001 of the finished dialog (template 202)" "110,112,71,11" "$(control_field 1001 at)"
    expect_text Finished 1001 "Run Demo"
    colours=$(picture_colours palette-finished)
    [ "$colours" -ge 2 ] && [ "$colours" -le 8 ] ||
        fail "the finished picture shows $colours colours: not the 8-colour bitmap 107 (template 202)"
    drv_log check Finished 1001 0
    drv_log click Finished 6
    drv_log wait-exit "$PID" --timeout 10000 || fail "the setup did not end"
}

# A COMCTL32.DLL planted next to the setup is never loaded. Wine prefers its
# own comctl32 whatever the search order, so the setup runs with Wine told to
# prefer a DLL file it finds, as Windows does; a plain LoadLibrary by the
# driver from the same folder shows that the plant works.
scenario_planted_dll() {
    new_prefix planted_dll
    read_folders || return 1
    local downloads="$WINEPREFIX/drive_c/Downloads" marker="$WINEPREFIX/drive_c/planted-dll-was-loaded.txt"
    mkdir -p "$downloads"
    cp "$PLANTED_DLL" "$downloads/comctl32.dll"
    cp "$DRIVER_EXE" "$downloads/driver.exe"
    local loaded
    loaded=$(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;comctl32=n,b" timeout 60 wine 'C:\Downloads\driver.exe' load-library COMCTL32.DLL)
    echo "plain LoadLibrary gives: $loaded"
    if [ ! -f "$marker" ]; then
        fail "the plant does not work here: a plain LoadLibrary did not load C:\\Downloads\\comctl32.dll"
        return 1
    fi
    rm -f "$marker" "$downloads/driver.exe"
    cp "$STAGE/DemoSetup.exe" "$downloads/"
    PID=$(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;comctl32=n,b" drv start 'C:\Downloads\DemoSetup.exe') ||
        { fail "cannot start the setup"; return 1; }
    dialog Install "" || return 1
    drv_log click Install 6 || return 1
    dialog Installing "" || return 1
    grep -q '^control 1002 class=msctls_progress32 ' <<<"$DIALOG" ||
        fail "the installing dialog has no progress bar: the common controls did not load"
    dialog Finished "" 30000 || return 1
    drv_log check Finished 1001 0
    drv_log click Finished 6
    drv_log wait-exit "$PID" --timeout 10000 || fail "the setup did not end"
    if [ -f "$marker" ]; then
        fail "the setup loaded the COMCTL32.DLL planted in its folder"
    else
        log "ok: the planted DLL was not loaded"
    fi
}

SCENARIOS=(install install_viewer welcome_cancel install_cancel install_cancel_inplace running_copy truncated
    damaged_entry long_path planted_dll palette)

# The uninstaller's scenarios live beside the driver and add their names.
UNINSTALL_SCENARIOS="$ROOT/tests/e2e/uninstall_scenarios.sh"
if [ -f "$UNINSTALL_SCENARIOS" ]; then
    # shellcheck source=../tests/e2e/uninstall_scenarios.sh
    . "$UNINSTALL_SCENARIOS"
fi

# ---- run ----------------------------------------------------------------------
step "e2e $ARCH: staging the demo setups"
stage_products
step_done staging

step "e2e $ARCH: scenarios"
passed=0
failed=0
failed_names=()
for name in "${SCENARIOS[@]}"; do
    if [ "${#ONLY[@]}" -gt 0 ] && [[ " ${ONLY[*]} " != *" $name "* ]]; then
        continue
    fi
    scenario_started=$SECONDS
    (
        SCENARIO="$name"
        FAILS=0
        "scenario_$name" || [ "$FAILS" -gt 0 ] || fail "the scenario stopped early"
        finish_prefix
        [ "$FAILS" -eq 0 ]
    ) >"$LOGS/$name.log" 2>&1
    result=$?
    # Whatever the scenario left running in its prefix ends here.
    WINEPREFIX="$PREFIXES/$name" wineserver -k >/dev/null 2>&1
    export DISPLAY="$DISPLAY24"
    if [ "$result" = 0 ]; then
        passed=$((passed + 1))
        echo "PASS $name ($((SECONDS - scenario_started)) s)"
        [ "$KEEP" = 1 ] || rm -rf "${PREFIXES:?}/$name"
    else
        failed=$((failed + 1))
        failed_names+=("$name")
        echo "FAIL $name ($((SECONDS - scenario_started)) s): log $LOGS/$name.log, prefix $PREFIXES/$name"
    fi
done
step_done scenarios
echo "e2e $ARCH: screenshots in $SHOTS"
echo "e2e $ARCH: $passed passed, $failed failed in $((SECONDS - started)) s"
[ "$failed" = 0 ]
