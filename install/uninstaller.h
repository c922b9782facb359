// uninstaller.h - the uninstaller mode: the installer's background, one
// question, the removal of what the install made, a final message, and a
// batch file that deletes the uninstaller and its folder once it has ended.
// runUninstaller is in entry.h.
//
// States, each dispatched by a 50 ms one-shot timer and a posted message:
//   decoration  timer 2 places the eight bitmaps, then -> welcome
//   3 welcome   dialog 301: Uninstall -> remove; Cancel, Esc, Enter -> end
//   2 remove    removeInstallation, dialog 302, launchSelfDelete -> end
//   1 end       destroy the window; the message loop ends
#ifndef UNINSTALLER_H
#define UNINSTALLER_H

#include <windows.h>

enum {
    UNINSTALL_END = 1,
    UNINSTALL_REMOVE = 2,
    UNINSTALL_WELCOME = 3
};

// Stores the state and sets timer 1 of the background window to 50 ms.
void scheduleUninstallState(int state);

// Deletes, in the folder of the running program only, the configured files
// (a ".hlp" with its ".gid" and ".fts"), "Samples" and the folder when empty,
// then the shortcuts the install made and the uninstall key. Failures are skipped.
void removeInstallation(void);

// Writes "\DelUS.bat" afresh, readable by users and writable by
// administrators and the system only, and starts it hidden at idle priority:
// it deletes the uninstaller, the folder if empty, and itself. Where the
// file cannot be made so, nothing is started.
void launchSelfDelete(void);

// 1 when name is a file right inside its folder: not empty, no "\", "/" or
// ":", not only dots and spaces. Other names are never deleted.
int isPlainFileName(const char* name);

// The batch text for the uninstaller at path in folder, "%" doubled so the
// command interpreter takes every path as it is. Returns its length, or -1
// when it does not fit capacity.
int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder);

// The batch file's access list: users may read it, only administrators and
// the system may change it. Returns a descriptor to LocalFree, or null where
// the system has no access lists.
PSECURITY_DESCRIPTOR makeBatchAccess(void);

// Removes any file at path and creates it new (never opens an existing one)
// with that access list. Returns the handle for writing, or
// INVALID_HANDLE_VALUE when that cannot be done.
HANDLE createPrivateFile(const char* path);

#endif
