#!/bin/sh
# start_unix.sh PATH - starts the Windows program PATH in the caller's Wine
# prefix, as "wine PATH" from the Unix side, detached and with its standard
# handles on /dev/null. The driver runs it (Wine runs a Unix program that
# CreateProcess is given) for a program whose path is longer than MAX_PATH:
# Wine's CreateProcess cannot start one, its loader can.
wine "$1" </dev/null >/dev/null 2>&1 &
