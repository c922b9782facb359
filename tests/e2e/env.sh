# shellcheck shell=bash
# env.sh - the environment of an end-to-end test, sourced by stage.sh and
# run_scenario.sh: an Xvfb display of its own and Wine settings. The scenario
# logic itself lives in the driver (driver.cpp and the files beside it).

export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

XVFB_PID=""

# start_xvfb SCREEN LOG: an 800x600 screen of depth SCREEN, or a screen of
# SCREEN = WIDTHxHEIGHTxDEPTH, on a free display (Xvfb picks the number and
# tells it through -displayfd); sets DISPLAY.
start_xvfb() {
    local screen="$1" log="$2" fifo number=""
    case "$screen" in *x*) ;; *) screen="800x600x$screen" ;; esac
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/e2e-displayfd.XXXXXX")
    mkfifo "$fifo" || return 1
    Xvfb -displayfd 5 -screen 0 "$screen" -nolisten tcp -noreset 5>"$fifo" </dev/null >"$log" 2>&1 &
    XVFB_PID=$!
    read -r -t 30 number <"$fifo"
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "Xvfb did not start (see $log)"
        return 1
    fi
    export DISPLAY=":$number"
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    fi
}

# stop_wine: ends every process of this test's prefix (and its server).
stop_wine() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k </dev/null >/dev/null 2>&1
        wineserver -w </dev/null >/dev/null 2>&1
    fi
}

# winpath UNIXPATH: the same file through Wine's Z: drive.
winpath() {
    local path="$1"
    printf 'Z:%s' "${path//\//\\}"
}
