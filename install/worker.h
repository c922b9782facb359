// worker.h - the install worker: on a thread of its own it closes a running
// copy of the product, writes every file of the configuration's list into the
// install folder, composes the uninstaller, and registers the product.
// It reaches the installing dialog only through the slots the flow fills.
// The flags below are shared with the installing dialog without locks: each
// is a plain 32-bit value that one side sets and the other only reads or clears.
#ifndef INSTALL_WORKER_H
#define INSTALL_WORKER_H

#include <windows.h>
#include <stdint.h>

enum {
    WORKER_INSTALLED = 1,
    WORKER_ABORTED = 2,      // the user confirmed the abort question
    WORKER_FAILED = 3        // a file could not be written or moved aside; the user was told which
};

// What the installing dialog lends the worker, filled before it starts.
struct WorkerSlots {
    HWND dialog;                          // owns its message boxes; its Cancel goes grey at the end
    HWND progressBar;                     // or null
    int fileLabelControl;                 // the dialog's control that names the file being written
    bool (*confirmAbort)(HWND owner);     // the abort question; true: abort
    UINT doneMessage;                     // posted to the dialog as the worker ends (0: none)
};
extern WorkerSlots workerSlots;

extern volatile int abortRequested;       // Cancel pressed; the progress hook asks
extern volatile int abortLatch;           // abort confirmed, or all files written
extern volatile int installedFileCount;   // files finished (or tried); the rollback deletes these
extern int32_t progressTotal;             // decoded bytes written since the worker began
extern int32_t progressShown;             // the bar's position as last sent
extern DWORD progressShownTick;           // GetTickCount when it was sent
enum { PROGRESS_INTERVAL_MS = 40 };       // the bar's moves come at least this far apart (25 a second look smooth)
extern int pumpCounter;
extern HANDLE workerThread;               // null when the worker ran in place
extern volatile int workerResult;
extern int workerInPlace;                 // test builds: act as if no thread could be made

// 1 when the configuration passes setupConfigProblem and the open setup
// package holds "MAIN" and every file's entry: only then is anything written.
int setupIsWhole(void);

// Starts InstallWorker on a thread, or, when no thread can be created, runs
// it here to its end (workerResult then holds the result). Returns 1.
int startInstallWorker(void);
// WORKER_INSTALLED, WORKER_ABORTED or WORKER_FAILED; also the thread's exit code.
DWORD WINAPI InstallWorker(LPVOID unused);

// Block stream hooks while files are decoded: progress and the abort question,
// and a message pump for when the worker runs on the interface thread.
void installProgressHook(int32_t bytesWritten);
void installPumpHook(void);

#endif
