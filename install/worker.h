// worker.h - the install worker: on a thread of its own it closes a running
// copy of the product, writes every file of the configuration's list into the
// install folder, composes the uninstaller, and registers the product.
// It never calls a window function of the dialog: it reports through the
// slots the installing dialog fills, and moves the progress bar.
// The four variables below are all the two threads share, without locks: each
// is a plain 32-bit value that one side sets and the other only reads or clears.
#ifndef INSTALL_WORKER_H
#define INSTALL_WORKER_H

#include <windows.h>
#include <stdint.h>

enum {
    WORKER_INSTALLED = 1,
    WORKER_ABORTED = 2,      // the user confirmed the abort question
    WORKER_FAILED = 3,       // a file could not be written or moved aside; the user was told which
    WORKER_INCOMPLETE = 4    // installed, but a shortcut or the uninstall entry could not be made
};

extern HWND progressBar;                  // set by the dialog (or null); the worker moves it
extern volatile int abortRequested;       // Cancel pressed; the progress hook asks
extern volatile int abortLatch;           // abort confirmed, or all files written
extern volatile int installedFileCount;   // files finished (or tried); the rollback undoes these

// What the installing dialog fills before the worker starts. The worker calls
// them on its own thread; each may reach the dialog by window calls, which
// the interface thread serves from its modal loop.
struct WorkerReports {
    bool (*confirmAbort)(void);                  // the abort question; true: abort
    void (*showFile)(const char* path);          // the file being written now
    void (*showWriteFailure)(const char* path);  // it could not be written or moved aside
    void (*cancelOff)(void);                     // the files are written: Cancel has no effect now
    void (*ended)(void);                         // the worker is returning
};
extern WorkerReports workerReports;

enum { PROGRESS_INTERVAL_MS = 40 };       // the bar's moves come at least this far apart (25 a second look smooth)

// 1 when the configuration passes setupConfigProblem and the open setup
// package holds "MAIN" and every file's entry: only then is anything written.
int setupIsWhole(void);

// Starts the worker on a thread, or, when no thread can be created, runs it
// here to its end. Returns 1.
int startInstallWorker(void);
// After startInstallWorker: 0 while the worker runs, else WORKER_INSTALLED,
// WORKER_ABORTED or WORKER_FAILED. Waits up to waitMs for the thread to end.
int installWorkerOutcome(DWORD waitMs);
// Test builds: act as if no thread could be made.
void keepInstallWorkerInPlace(void);

// Block stream hooks while files are decoded: progress and the abort question,
// and a message pump for when the worker runs on the interface thread.
void installProgressHook(int32_t bytesWritten);
void installPumpHook(void);

// For tests: the shared variables, the progress and the pump as before a run.
void resetInstallWorker(void);

#endif
