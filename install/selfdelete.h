// selfdelete.h - a program cannot delete its own file while it runs: the
// uninstaller leaves a batch file behind that deletes it, its folder if
// empty, and itself once the uninstaller has ended.
#ifndef INSTALL_SELFDELETE_H
#define INSTALL_SELFDELETE_H

#include <windows.h>

enum {
    SELF_DELETE_ROUNDS = 60,       // about a second each: then the batch gives up
    BATCH_PATH_SIZE = MAX_PATH
};

// Writes a new batch file in the root folder of the current drive (see
// createBatchFile) and starts it hidden at idle priority. Returns 1 when it
// was started; 0 when no batch file could be made so that only
// administrators can change it (then nothing is started).
int launchSelfDelete(void);

// Creates a new file "<folder>\DelUS<n>.bat" with the protected access list,
// for n = seed, seed + 1, ... (16 tries): a file or folder that already holds
// a name is left alone and the next name is tried. path gets the name made.
// Returns the handle for writing, or INVALID_HANDLE_VALUE.
HANDLE createBatchFile(const char* folder, int seed, char path[BATCH_PATH_SIZE]);

// The batch text for the uninstaller at path in folder, run from batchPath:
// it tries to delete path once a second for at most rounds rounds, stops as
// soon as it is gone, then removes folder if empty and deletes batchPath.
// "%" is doubled so the command interpreter takes every path as it is.
// Returns its length, or -1 (and "") when it does not fit capacity.
int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder, const char* batchPath,
                        int rounds);

#endif
