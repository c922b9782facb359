// uninstaller.h - the uninstaller mode: the setup window with its background,
// one question, the removal of what the install made, a final message, and
// the batch file that deletes the uninstaller and its folder once it has ended.
//
// States (a table over the setup window, ui/setupwindow.h):
//   decoration  the eight bitmaps, then -> welcome
//   3 welcome   dialog 301: Uninstall -> remove; Cancel, Esc, Enter: exit 2 -> close
//   2 remove    removeInstallation, prepareSelfDelete, dialog 302 (or the
//               files that stayed, the program itself when no batch could
//               be made: exit 4), startSelfDelete -> close
//   1 close     the window goes; the message loop ends
#ifndef INSTALL_UNINSTALLER_H
#define INSTALL_UNINSTALLER_H

#include <windows.h>

// Runs the uninstaller; returns the process exit code.
int runUninstaller(HINSTANCE instance, HINSTANCE previous);

#endif
