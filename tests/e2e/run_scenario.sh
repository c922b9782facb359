#!/bin/bash
# run_scenario.sh ARCH NAME DISPLAY LOCALE OUT DRIVER SHOTS - one end-to-end
# scenario as one test: its own Xvfb display (DISPLAY 24, or 8 for the
# palette ones, on 800x600; or WIDTHxHEIGHTxDEPTH), a fresh copy of the template prefix (its own Wine server) started
# under LOCALE ("-": the caller's; Wine takes its ANSI code page from it),
# then one run of the driver, which does the whole scenario; then the
# prefix's processes end and the screenshots become PNG files in SHOTS/NAME.
#
# The log is OUT/logs/NAME.log; a failed scenario keeps its prefix in
# OUT/prefixes/NAME and gets a picture of the screen as it was at the end.
set -u
ARCH="$1" NAME="$2" SCREEN="$3" LOCALE="$4" OUT="$5" DRIVER="$6" SHOTS="$7/$2"
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
. "$HERE/env.sh"

# The driver's own limit stays below the test's TIMEOUT, so that a hung
# scenario still ends its Wine processes and shows its log.
LIMIT="${E2E_SCENARIO_LIMIT:-240}"
TEMPLATE="$OUT/template"
PREFIX="$OUT/prefixes/$NAME"
LOG="$OUT/logs/$NAME.log"
started=$SECONDS

cleanup() {
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
trap 'exit 143' TERM INT

mkdir -p "$OUT/logs" "$OUT/prefixes"
rm -rf "$PREFIX" "$SHOTS"
mkdir -p "$SHOTS"
: >"$LOG"
[ -f "$TEMPLATE/.e2e-stamp" ] || { echo "FAIL: no template prefix in $TEMPLATE (the stage test makes it)"; exit 1; }

# A fresh copy of the template. The large system folders are hard links
# (Wine only writes there when it updates a prefix, and a new Wine makes a
# new template); the rest is copied.
mkdir -p "$PREFIX"
tar -C "$TEMPLATE" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
    --exclude=./drive_c/windows/winsxs -cf - . | tar -C "$PREFIX" -xf -
for big in system32 syswow64 winsxs; do
    if [ -d "$TEMPLATE/drive_c/windows/$big" ]; then
        cp -al "$TEMPLATE/drive_c/windows/$big" "$PREFIX/drive_c/windows/$big"
    fi
done
export WINEARCH="$ARCH" WINEPREFIX="$PREFIX"
if [ "$LOCALE" != - ]; then
    locale -a 2>/dev/null | grep -qix "$(echo "$LOCALE" | sed 's/UTF-8$/utf8/I')" ||
        { echo "FAIL: the locale $LOCALE does not exist (scripts/bootstrap.sh makes it)"; exit 1; }
    export LC_ALL="$LOCALE"
fi

# For programs whose path Wine's CreateProcess cannot start (driver.h).
export E2E_START_UNIX="$HERE/start_unix.sh"

start_xvfb "$SCREEN" "$OUT/logs/$NAME-xvfb.txt" || exit 1

timeout -k 10 "$LIMIT" wine "$DRIVER" scenario "$NAME" --stage "$(winpath "$OUT/stage")" \
    --decor "$(winpath "$ROOT/resources/decoration")" --shots "$(winpath "$SHOTS")" </dev/null >>"$LOG" 2>&1
result=$?
case "$result" in
0 | 1) ;;
124 | 137) echo "FAIL: the scenario did not end within $LIMIT s" >>"$LOG" ;;
*) grep -q "^scenario $NAME" "$LOG" ||
    echo "FAIL: Wine did not run the driver (exit $result)" >>"$LOG" ;;
esac
if [ "$result" != 0 ] && command -v import >/dev/null 2>&1; then
    import -display "$DISPLAY" -window root "$SHOTS/end-x11.png" </dev/null >/dev/null 2>&1
fi
cleanup

for bmp in "$SHOTS"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" </dev/null >/dev/null 2>&1 && rm -f "$bmp"
done

cat "$LOG"
echo "log: $LOG"
echo "screenshots: $SHOTS"
if [ "$result" = 0 ]; then
    rm -rf "$PREFIX"
    echo "PASS $ARCH $NAME in $((SECONDS - started)) s"
else
    echo "FAIL $ARCH $NAME in $((SECONDS - started)) s (exit $result); prefix kept in $PREFIX"
fi
exit "$result"
