// installer.h - the installer mode: the setup window with its background, and
// four modal dialogs over it (welcome, installing, finished, rollback).
//
// States (a table over the setup window, ui/setupwindow.h):
//   decoration  the eight bitmaps, then -> welcome
//   4 welcome   open the package; a damaged setup (no package, a bad
//               configuration, a missing entry): error box, exit 3 -> close;
//               no room for the install folder: error box, exit 4 -> close;
//               Finish -> install, Cancel confirmed: exit 2 -> close
//   2 install   installing dialog and the worker -> finished (1) or
//               rollback (aborted: exit 2; failed: exit 4)
//   3 finished  finished dialog -> close
//   5 rollback  delete the files written, put back the ones they replaced -> close
//   1 close     close the package, the window goes; after the loop, maybe
//               run the product
#ifndef UI_INSTALLER_H
#define UI_INSTALLER_H

#include <windows.h>

// Runs the installer; returns the process exit code.
int runInstaller(HINSTANCE instance, HINSTANCE previous);

#endif
