// selfdelete.h - a program cannot delete its own file while it runs: the
// uninstaller leaves a batch file behind that deletes it, its folder if
// empty, and itself once the uninstaller has ended.
#ifndef INSTALL_SELFDELETE_H
#define INSTALL_SELFDELETE_H

// Writes "\DelUS.bat" afresh with the protected access list and starts it
// hidden at idle priority. Where the file cannot be made so, nothing is started.
void launchSelfDelete(void);

// The batch text for the uninstaller at path in folder, "%" doubled so the
// command interpreter takes every path as it is. Returns its length, or -1
// (and "") when it does not fit capacity.
int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder);

#endif
