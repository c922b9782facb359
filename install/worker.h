// worker.h - the install worker: on a thread of its own it closes a running
// copy of the product, writes every file of the configuration's list into the
// install folder, composes the uninstaller, and registers the product.
// The flags below are shared with the installing dialog without locks: each
// is a plain 32-bit value that one side sets and the other only reads or clears.
#ifndef WORKER_H
#define WORKER_H

#include <windows.h>
#include <stdint.h>

enum {
    WORKER_INSTALLED = 1,
    WORKER_ABORTED = 2,      // the user confirmed the abort question
    WORKER_FAILED = 3,       // a file could not be written; the user was told which
    SAMPLES_FIRST_INDEX = 4, // files from here on go into "Samples"
    INSTALLING_FILE_CONTROL = 106
};

extern HWND progressBar;                  // control 1002 of the dialog, or null
extern volatile int abortRequested;       // Cancel pressed; the progress hook asks
extern volatile int abortLatch;           // abort confirmed, or all files written
extern volatile int installedFileCount;   // files finished (or tried); the rollback deletes these
extern int32_t progressTotal;             // decoded bytes written since the worker began
extern int pumpCounter;
extern HANDLE workerThread;               // null when the worker ran in place
extern volatile int workerResult;

// The name at index in the configuration's file list, "" past its end.
const char* fileNameAt(int index);
// fileCount, kept to the names the list really holds.
int configFileCount(void);
// installDir, "\Samples" from index 4 on, "\" and the name. Returns 1, or 0
// when it does not fit (buffer then holds a cut path that must not be used).
int formInstalledPath(char* buffer, int capacity, int index);

// Fills installDir from the Program Files folder and installFolderName.
// Returns 1, or 0 when the folder or an installed path would not fit 255 characters.
int resolveInstallDir(void);

// Starts InstallWorker on a thread for the installing dialog, or, when no
// thread can be created, runs it here to its end (workerResult then holds the
// result). Returns 1.
int startInstallWorker(HWND dialog);
// WORKER_INSTALLED, WORKER_ABORTED or WORKER_FAILED; also the thread's exit code.
DWORD WINAPI InstallWorker(LPVOID dialog);

// Block stream hooks while files are decoded: progress and the abort question,
// and a message pump for when the worker runs on the interface thread.
void installProgressHook(int32_t bytesWritten);
void installPumpHook(void);

// Asks running copies of the product (runningWindowClass) to close; gives up
// on a window after four requests.
void closeRunningInstance(void);

// "The setup is not finished! Do you really want to abort?"; true on Yes.
bool confirmAbort(HWND owner);

#endif
