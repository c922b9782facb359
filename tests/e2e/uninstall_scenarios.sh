# shellcheck shell=bash
# shellcheck disable=SC2153,SC2034  # PID, DISPLAY8, SHOT_THROUGH_GDI: the harness's
# uninstall_scenarios.sh - end-to-end scenarios of the uninstaller, sourced by
# scripts/e2e.sh after its own scenarios: it uses that script's helpers
# (new_prefix, read_folders, drv, dialog, expect_*, screenshot,
# check_background, ...) and adds its scenario names to SCENARIOS.
#
# Each scenario installs a demo product first, then runs the uninstaller the
# way a user would: from the install folder, from a copy elsewhere, or through
# the "UninstallString" of the registry (Wine's list of programs).

UNINSTALL_WELCOME_DEMO=$'Welcome to the Demo uninstall program.\n\nThis program will remove all of the files, components and shortcuts that were installed on your computer by the Demo setup program.\n\nIf you do not want to remove the software, then click on Cancel.'
UNINSTALL_FINISHED_DEMO=$'The uninstall program has successfully removed the Demo 1.0 software from your computer.\n\nIf you would like to use this software again, you will need to run the setup program and re-install it.\n\nPress the OK button.'
DEMO_DIR_NAME="Demo Product"
SELF_DELETE_TIMEOUT_S=20

# wait_until SECONDS COMMAND...: polls the command every 0.1 s until it
# succeeds (0) or the time is up (1).
wait_until() {
    local limit=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$limit" ] && return 1
        sleep 0.1
    done
    return 0
}

absent() { [ ! -e "$1" ]; }

# install_quietly SETUP: a complete install, "Run" unticked.
install_quietly() {
    start_setup "$1" || return 1
    dialog Install "" || return 1
    drv_log click Install 6 || { fail "cannot click Finish on the welcome dialog"; return 1; }
    dialog Finished "" 30000 || return 1
    drv_log check Finished 1001 0 || { fail "cannot untick \"Run\""; return 1; }
    drv_log click Finished 6 || { fail "cannot click Finish on the finished dialog"; return 1; }
    drv_log wait-exit "$PID" --timeout 10000 || { fail "the setup did not end"; return 1; }
    log "installed $(basename "$1")"
}

# uninstall_quietly WINPATH: runs that uninstaller through both of its
# dialogs (Uninstall, then OK) and waits for it to end.
uninstall_quietly() {
    start_uninstaller "$1" || return 1
    dialog Uninstall "" || return 1
    drv_log click Uninstall 1 || { fail "cannot click Uninstall"; return 1; }
    dialog Finished "" || return 1
    drv_log click Finished 1 || { fail "cannot click OK on the finished dialog"; return 1; }
    drv_log wait-exit "$UPID" --timeout 10000 || fail "the uninstaller did not end"
}

# system_state: what an install changes and an uninstall must give back: the
# Program Files folder, the Start Menu, the Startup folder, the list of
# programs, and the root of drive C: (where the batch file goes).
system_state() {
    echo "-- Program Files"
    (cd "$(unix_path "$PROGRAM_FILES_WIN")" && find . | sort)
    echo "-- Start Menu"
    (cd "$PROGRAMS" && find . | sort)
    echo "-- Startup"
    (cd "$STARTUP" && find . | sort)
    echo "-- list of programs"
    wine reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r'
    echo "-- C:\\"
    (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 -maxdepth 1 ! -name Downloads | sort)   # setups start from Downloads
}

# start_uninstaller WINPATH: starts it (in its folder); sets UPID.
start_uninstaller() {
    UPID=$(drv start "$1") || { fail "cannot start $1"; return 1; }
    log "started $1, pid $UPID"
}

# uninstall_welcome NAME: waits for dialog 301 over the uninstaller's window
# and checks its layout and text; screenshots as NAME when NAME is given.
uninstall_welcome() {
    dialog Uninstall "$1" || return 1
    expect_equal "welcome dialog size (dialog units)" "227x125" "$(sed -n 's/^dialog .* size=\([0-9x]*\).*/\1/p' <<<"$DIALOG")"
    expect_equal "welcome controls in tab order" "-1 108 2 1" "$(awk '$1 == "control" { printf "%s%s", sep, $2; sep = " " }' <<<"$DIALOG")"
    expect_equal "button 2" "Cancel" "$(sed -n 's/^control 2 .* text="\(.*\)"$/\1/p' <<<"$DIALOG")"
    expect_equal "button 1" "Uninstall" "$(sed -n 's/^control 1 .* text="\(.*\)"$/\1/p' <<<"$DIALOG")"
    # BS_DEFPUSHBUTTON on Cancel, a plain push button for Uninstall; the icon is SS_ICON.
    expect_equal "Cancel is the default button" "1" "$(($(control_field 2 style) & 15))"
    expect_equal "Uninstall is a plain button" "0" "$(($(control_field 1 style) & 15))"
    expect_equal "the icon control" "3" "$(($(control_field -1 style) & 31))"
    expect_text Uninstall 108 "$UNINSTALL_WELCOME_DEMO"
}

uninstall_finished() {
    dialog Finished "$1" || return 1
    expect_equal "finished dialog size (dialog units)" "227x125" "$(sed -n 's/^dialog .* size=\([0-9x]*\).*/\1/p' <<<"$DIALOG")"
    expect_equal "finished controls" "-1 108 1" "$(awk '$1 == "control" { printf "%s%s", sep, $2; sep = " " }' <<<"$DIALOG")"
    expect_equal "button 1" "OK" "$(sed -n 's/^control 1 .* text="\(.*\)"$/\1/p' <<<"$DIALOG")"
    expect_text Finished 108 "$UNINSTALL_FINISHED_DEMO"
}

# expect_self_deleted UNINSTALLER_UNIX FOLDER_UNIX: within a bounded time the
# batch file has deleted the uninstaller, the folder and itself.
expect_self_deleted() {
    local batch="$WINEPREFIX/drive_c/DelUS.bat"
    if wait_until "$SELF_DELETE_TIMEOUT_S" absent "$1"; then
        log "ok: the uninstaller deleted itself"
    else
        fail "the uninstaller $1 is still there after $SELF_DELETE_TIMEOUT_S s"
    fi
    if [ -z "$2" ]; then
        :
    elif wait_until "$SELF_DELETE_TIMEOUT_S" absent "$2"; then
        log "ok: the folder went"
    else
        fail "the folder remains: $(cd "$2" 2>/dev/null && find . | sort | tr '\n' ' ')"
    fi
    if wait_until "$SELF_DELETE_TIMEOUT_S" absent "$batch"; then
        log "ok: the batch file deleted itself"
    else
        fail "the batch file $batch remains"
    fi
}

# expect_demo_registration_gone: no shortcut, no Start Menu group, no uninstall key.
expect_demo_registration_gone() {
    [ -e "$PROGRAMS/$DEMO_DIR_NAME" ] && fail "the Start Menu group remains: $(ls -A "$PROGRAMS/$DEMO_DIR_NAME")"
    drv reg-query "$UNINSTALL_KEY\\Demo" >/dev/null 2>&1 && fail "the uninstall entry remains"
    log "checked: no Start Menu group, no uninstall entry"
}

# Install, uninstall from the install folder: texts, screenshots, background
# pixels; then nothing is left, the uninstaller and the batch file delete
# themselves, and the machine is as it was before the install.
scenario_uninstall() {
    new_prefix uninstall
    read_folders || return 1
    local before after dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME" dir_unix
    dir_unix=$(unix_path "$dir")
    before=$(system_state)
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    expect_files "$STAGE/demo" "$DEMO_DIR_NAME" "${DEMO_FILES[@]}"

    start_uninstaller "$dir\\Uninst.exe" || return 1
    local window
    window=$(drv wait-window UnInstallProg) || { fail "no window of class UnInstallProg"; return 1; }
    echo "$window"
    expect_equal "the uninstaller's window" "rect=0,0,800,600 image=$dir\\Uninst.exe" \
        "$(sed -n 's/.* \(rect=.*\)/\1/p' <<<"$window")"
    uninstall_welcome uninstall-welcome || return 1
    check_background uninstall-welcome "$DIALOG_RECT"
    drv_log click Uninstall 1 || return 1

    # The removal is done by the time the finished dialog shows; the
    # uninstaller itself is still running.
    uninstall_finished uninstall-finished || return 1
    check_background uninstall-finished "$DIALOG_RECT"
    expect_equal "the install folder while the finished dialog shows" "./Uninst.exe" \
        "$(cd "$dir_unix" && find . -mindepth 1 | sort)"
    expect_demo_registration_gone
    [ -e "$WINEPREFIX/drive_c/DelUS.bat" ] && fail "the batch file exists before OK"
    drv_log click Finished 1 || return 1
    drv_log wait-exit "$UPID" --timeout 10000 --no-dialog || fail "the uninstaller did not end after OK"
    expect_self_deleted "$dir_unix/Uninst.exe" "$dir_unix"
    after=$(system_state)
    expect_equal "Program Files, Start Menu, Startup, list of programs and C:\\ against before the install" \
        "$before" "$after"
}

# Cancel, Esc, and Enter on the default button: nothing removed, no batch file.
scenario_uninstall_cancel() {
    new_prefix uninstall_cancel
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME" how installed
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    installed=$(system_state)
    for how in "click Uninstall 2" "key Uninstall esc" "key Uninstall enter"; do
        start_uninstaller "$dir\\Uninst.exe" || return 1
        dialog Uninstall "" >/dev/null || return 1
        # shellcheck disable=SC2086
        drv_log $how || return 1
        drv_log wait-exit "$UPID" --timeout 10000 --no-dialog || fail "the uninstaller did not end after $how"
        [ -e "$WINEPREFIX/drive_c/DelUS.bat" ] && fail "$how: a batch file was written"
        expect_equal "everything installed after $how" "$installed" "$(system_state)"
    done
    # A batch started after all would have deleted the uninstaller by now.
    expect_files "$STAGE/demo" "$DEMO_DIR_NAME" "${DEMO_FILES[@]}"
    expect_uninstall_entry Demo 1.0 "$dir" Uninst.exe
}

# Files the user added to the install folder and to Samples stay, and so do
# the folders that hold them; everything installed goes.
scenario_uninstall_user_files() {
    new_prefix uninstall_user_files
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME" dir_unix
    dir_unix=$(unix_path "$dir")
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    echo "my notes" >"$dir_unix/Notes.txt"
    mkdir -p "$dir_unix/Samples/Mine"
    echo "my sample" >"$dir_unix/Samples/Mine/Sample3.txt"
    uninstall_quietly "$dir\\Uninst.exe" || return 1
    expect_self_deleted "$dir_unix/Uninst.exe" ""
    expect_equal "what is left of the install folder" \
        $'.\n./Notes.txt\n./Samples\n./Samples/Mine\n./Samples/Mine/Sample3.txt' "$(cd "$dir_unix" && find . | sort)"
    expect_equal "the user's files" "my notes|my sample" \
        "$(cat "$dir_unix/Notes.txt")|$(cat "$dir_unix/Samples/Mine/Sample3.txt")"
    expect_demo_registration_gone
}

# A copy of the uninstaller in another folder removes the product's files of
# that folder only; the install folder keeps every file. The folder's name
# has spaces and "%" signs, which the batch file must take literally.
scenario_uninstall_copy() {
    new_prefix uninstall_copy
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME" copy='C:\Old copy 100% %PATH% %% été' copy_unix
    copy_unix=$(unix_path "$copy")
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    mkdir -p "$copy_unix/Samples"
    cp "$(unix_path "$dir")/Uninst.exe" "$copy_unix/Uninst.exe"
    echo "old help" >"$copy_unix/Help.txt"
    echo "old sample" >"$copy_unix/Samples/Sample1.txt"
    uninstall_quietly "$copy\\Uninst.exe" || return 1
    expect_self_deleted "$copy_unix/Uninst.exe" "$copy_unix"
    expect_files "$STAGE/demo" "$DEMO_DIR_NAME" "${DEMO_FILES[@]}"
}

# The list of programs starts the quoted "UninstallString" (Wine's
# uninstaller --remove, started from C:\windows\system32 as the system would).
# The viewer: a Program Files path with a space, a ".HLP" file whose WinHelp
# companions go too, a Start Menu subfolder and a Startup shortcut.
scenario_uninstall_registry() {
    new_prefix uninstall_registry
    read_folders || return 1
    local before dir="$PROGRAM_FILES_WIN\\Tamberlyn" dir_unix list_pid
    dir_unix=$(unix_path "$dir")
    before=$(system_state)
    install_quietly "$STAGE/ViewerSetup.exe" || return 1
    echo "index" >"$dir_unix/Viewer.GID"
    echo "search" >"$dir_unix/viewer.fts"
    [ -f "$STARTUP/Tamb Viewer.lnk" ] || fail "the install made no Startup shortcut to remove"
    (cd "$WINEPREFIX/drive_c/windows/system32" && timeout 120 wine uninstaller --remove "Tamb Viewer") &
    list_pid=$!
    dialog Uninstall "" >/dev/null || return 1
    expect_text Uninstall 108 $'Welcome to the Tamb Viewer uninstall program.\n\nThis program will remove all of the files, components and shortcuts that were installed on your computer by the Tamb Viewer setup program.\n\nIf you do not want to remove the software, then click on Cancel.'
    drv_log click Uninstall 1 || return 1
    dialog Finished "" >/dev/null || return 1
    expect_text Finished 108 $'The uninstall program has successfully removed the Tamb Viewer 2.5b software from your computer.\n\nIf you would like to use this software again, you will need to run the setup program and re-install it.\n\nPress the OK button.'
    drv_log click Finished 1 || return 1
    wait "$list_pid" || fail "Wine's uninstaller did not end well"
    expect_self_deleted "$dir_unix/Uninstall.exe" "$dir_unix"
    expect_equal "Program Files, Start Menu, Startup, list of programs and C:\\ against before the install" \
        "$before" "$(system_state)"
}

# The batch file's name is taken by something else. A planted file is
# replaced by a new one, and the self-deletion works; a folder of that name
# cannot be replaced: then no batch runs, and the uninstaller stays.
scenario_uninstall_planted_batch() {
    new_prefix uninstall_planted_batch
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME" dir_unix batch="$WINEPREFIX/drive_c/DelUS.bat"
    dir_unix=$(unix_path "$dir")
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    mkdir "$batch"
    uninstall_quietly "$dir\\Uninst.exe" || return 1
    [ -d "$batch" ] || fail "the folder named DelUS.bat was touched"
    expect_equal "the install folder with no batch to finish it" "./Uninst.exe" "$(cd "$dir_unix" && find . -mindepth 1 | sort)"
    rmdir "$batch"

    install_quietly "$STAGE/DemoSetup.exe" || return 1
    printf 'echo planted\r\n' >"$batch"
    ln "$batch" "$WINEPREFIX/drive_c/planted-link.bat"
    uninstall_quietly "$dir\\Uninst.exe" || return 1
    expect_self_deleted "$dir_unix/Uninst.exe" "$dir_unix"
    expect_equal "the planted file, through its other name" "echo planted" \
        "$(tr -d '\r' <"$WINEPREFIX/drive_c/planted-link.bat")"
}

# A 256-colour screen: the uninstaller realizes the bitmaps' palette and
# shows the BLUE tiles, as the installer does.
scenario_uninstall_palette() {
    export DISPLAY="$DISPLAY8"
    SHOT_THROUGH_GDI=1
    new_prefix uninstall_palette
    read_folders || return 1
    local dir="$PROGRAM_FILES_WIN\\$DEMO_DIR_NAME"
    install_quietly "$STAGE/DemoSetup.exe" || return 1
    start_uninstaller "$dir\\Uninst.exe" || return 1
    dialog Uninstall uninstall-palette-welcome || return 1
    check_background uninstall-palette-welcome "$DIALOG_RECT" --palette
    drv_log click Uninstall 2
    drv_log wait-exit "$UPID" --timeout 10000 || fail "the uninstaller did not end"
}

SCENARIOS+=(uninstall uninstall_cancel uninstall_user_files uninstall_copy uninstall_registry uninstall_planted_batch
    uninstall_palette)
