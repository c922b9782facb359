#!/bin/bash
# screenshots.sh - refreshes the pictures of docs/screenshots/: what a user of
# the demo setup sees at 800x600, and on screens of 144 and 192 DPI, taken by
# the end-to-end scenarios of the shipped i686 setup program under Wine
# (install, install_cancel, uninstall, install_dpi144, install_dpi192).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"
cd "$ROOT"

"$ROOT/scripts/e2e.sh" --arch win32 install install_cancel uninstall install_dpi144 install_dpi192
shots="$E2E_OUT/screenshots/win32"
docs="$ROOT/docs/screenshots"
mkdir -p "$docs"
# source picture -> name in the docs
while read -r from to; do
    [ -f "$shots/$from" ] || die "the scenarios did not save $shots/$from"
    cp "$shots/$from" "$docs/$to"
done <<'LIST'
install/welcome-screen.png             welcome.png
install_cancel/confirm-installing-screen.png cancel-question.png
install/finished-screen.png            finished.png
uninstall/uninstall-welcome-screen.png uninstall-welcome.png
uninstall/uninstall-finished-screen.png uninstall-finished.png
install_dpi144/welcome-144dpi-screen.png welcome-144dpi.png
install_dpi144/finished-144dpi-screen.png finished-144dpi.png
install_dpi192/welcome-192dpi-screen.png welcome-192dpi.png
install_dpi192/finished-192dpi-screen.png finished-192dpi.png
LIST
echo "screenshots refreshed in $docs"
