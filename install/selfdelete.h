// selfdelete.h - a program cannot delete its own file while it runs: the
// uninstaller leaves a batch file behind that deletes it, its folder if
// empty, and itself once the uninstaller has ended.
#ifndef INSTALL_SELFDELETE_H
#define INSTALL_SELFDELETE_H

#include <windows.h>

enum {
    SELF_DELETE_ROUNDS = 60,       // about a second each: then the batch gives up
    BATCH_PATH_SIZE = MAX_PATH,
    BATCH_FORM_SIZE = 2 * MAX_PATH // a path in a double-byte OEM code page: two bytes a character at most
};

// Writes a new batch file in the root folder of the program's drive (see
// createBatchFile) and creates its process (the system's command interpreter
// without the user's AutoRun and delayed expansion), held until startSelfDelete, so
// the final text can say whether the program will go. Returns 1 when it is
// ready; 0 when no batch file could be made so that only administrators can
// change it, or a path cannot be written so that the command interpreter
// finds it: then nothing is started, and the program's own path is appended
// to leftovers (a line, as far as it fits capacity).
int prepareSelfDelete(char* leftovers, int capacity);
// Lets the prepared batch run, at idle priority; nothing when none is ready.
void startSelfDelete(void);

// Creates a new file "<folder>\DelUS<n>.bat" with the protected access list,
// for n = seed, seed + 1, ... (16 tries): a file or folder that already holds
// a name is left alone and the next name is tried. path gets the name made.
// Returns the handle for writing, or INVALID_HANDLE_VALUE.
HANDLE createBatchFile(const char* folder, int seed, char path[BATCH_PATH_SIZE]);

// The command interpreter reads a batch file in the console's (OEM) code
// page: the UTF-8 path in that code page, as its short (8.3) form where the
// volume keeps one and every character of that has an exact OEM form, else
// as it is where every character has one. Returns 1, or 0 (and "") when
// neither fits capacity or has an exact form: a near one might name another file.
int batchPathForm(const char* path, char* form, int capacity);

// The batch text for the uninstaller at path in folder, run from batchPath
// (all three as batchPathForm gives them): with delayed expansion off (a "!"
// is a plain character even where the user turned it on), it tries to delete path once a
// second for at most rounds rounds, stops as soon as it is gone, then
// removes folder if empty and deletes batchPath. "%" is doubled so the
// command interpreter takes every path as it is. Returns its length, or -1
// (and "") when it does not fit capacity.
int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder, const char* batchPath,
                        int rounds);

#endif
