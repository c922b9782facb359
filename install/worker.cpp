// worker.cpp - the install worker thread and its block stream hooks.
//
// The worker, by phase:
//   closing   ask running copies of the product to close (runningcopy.h)
//   copying   file 0 composed, files 1.. extracted; stops when abortLatch is
//             set (abort confirmed) or a file could not be written
//   register  abortLatch set, the dialog told (cancelOff): shortcuts,
//             uninstall entry, Startup shortcut; cannot be aborted
#include "install/worker.h"

#include "app/configcheck.h"
#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "coding/widetext.h"
#include "coding/blockstream.h"
#include "install/keptfiles.h"
#include "install/runningcopy.h"
#include "install/shell.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"

#include <windows.h>
#include <commctrl.h>

HWND progressBar;
volatile int abortRequested;
volatile int abortLatch;
volatile int installedFileCount;
WorkerReports workerReports;

static struct {
    int32_t total;                   // decoded bytes written since the worker began
    int32_t shown;                   // the bar's position as last sent
    DWORD shownTick;                 // GetTickCount when it was sent
} progress;
static int pumpCounter;
static HANDLE workerThread;          // null when the worker ran in place
static volatile int workerResult;    // of a run in place
static int workerInPlace;

enum {
    ENTRY_NAME_BUFFER = 32,
    PUMP_INTERVAL = 128,        // pump calls between two drains of the queue
    PAINTS_PER_DRAIN = 3,       // a drain stops at the third paint in a row
    PROGRESS_STEPS = 256        // finer than any progress bar's pixels
};

void installProgressHook(int32_t bytesWritten)
{
    if (abortRequested) {
        if (workerReports.confirmAbort && workerReports.confirmAbort()) {
            abortStream();
            abortLatch = 1;
        }
        abortRequested = 0;   // presses while the question was up count as this one
    }
    progress.total += bytesWritten;
    // Each PBM_SETPOS waits for the interface thread to repaint the bar (under
    // Wine a server round trip and an X drawing as well), and the hook runs for
    // every block written: the bar moves by a visible step at most every
    // PROGRESS_INTERVAL_MS, and always to its last position. Posting instead
    // of sending saves little: the paint still takes CPU from the decoder.
    int32_t step = setupConfig.progressRange / PROGRESS_STEPS;
    int32_t position = progress.total;
    int atEnd = position >= setupConfig.progressRange;
    if (!atEnd && position - progress.shown < (step > 0 ? step : 1))
        return;
    if (position == progress.shown)
        return;
    DWORD now = GetTickCount();
    if (!atEnd && now - progress.shownTick < PROGRESS_INTERVAL_MS)
        return;
    progress.shown = position;
    progress.shownTick = now;
    if (progressBar)
        SendMessageA(progressBar, PBM_SETPOS, (WPARAM)position, 0);
    MSG message;
    PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
}

void installPumpHook(void)
{
    if (++pumpCounter % PUMP_INTERVAL != 0)
        return;
    // Paint messages come back as long as their area stays invalid; a run of
    // them ends the drain, and after other messages the next call drains again.
    int paints = 0;
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_PAINT) {
            if (++paints == PAINTS_PER_DRAIN)
                return;
        } else {
            if (paints)
                pumpCounter = PUMP_INTERVAL - 1;
            paints = 0;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The uninstaller: the program's own image (entry "MAIN") followed by a
// package of the eight bitmaps, all in their stored form. 1 when written.
static int composeUninstaller(const char* path)
{
    FileHandle package = createPackage(path);
    if (package == INVALID_FILE)
        return 0;
    // The setup may be signed; the uninstaller is not, so its headers must not
    // name a certificate table it does not carry.
    int written = copyEntry(MAIN_ENTRY_NAME, XFER_UNSIGN);
    for (int i = 0; i < DECORATION_COUNT; i++) {
        // A setup without a bitmap gives an uninstaller without it, as it is.
        if (getStoredSize(decorativeBitmapNames[i]) >= 0 && !copyEntry(decorativeBitmapNames[i], 0))
            written = 0;
    }
    if (!closePackage(package))
        written = 0;
    return written;
}

int setupIsWhole(void)
{
    if (setupConfigProblem(&setupConfig, NULL) != CONFIG_OK || getStoredSize(MAIN_ENTRY_NAME) < 0)
        return 0;
    for (int index = 1; index < setupConfig.fileCount; index++) {
        char entryName[ENTRY_NAME_BUFFER];
        formatText(entryName, sizeof entryName, FILE_ENTRY_FORMAT, index);
        if (getStoredSize(entryName) < 0)
            return 0;
    }
    return 1;
}

// Kilobytes of the installed files, for the list of programs.
static uint32_t installedKilobytes(void)
{
    uint64_t total = 0;
    int count = configFileCount();
    for (int index = 0; index < count; index++) {
        char path[sizeof installDir];
        wchar_t wide[MAX_PATH];
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (formInstalledPath(path, sizeof path, index) && utf8ToWide(path, wide, MAX_PATH) >= 0 &&
            GetFileAttributesExW(wide, GetFileExInfoStandard, &data))
            total += ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    total = (total + 1023) / 1024;
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)total;
}

// Returns 1 when every shortcut and the uninstall entry were made.
static int registerProduct(void)
{
    char path[sizeof installDir];
    int made = 1;
    int count = configFileCount();
    for (int index = 0; index < count; index++) {
        if (!formInstalledPath(path, sizeof path, index))
            continue;
        // Every further program gets the product's name: the last one wins.
        const char* format = shortcutNameFormat(path, index, setupText.uninstallShortcutFormat);
        if (!format)
            continue;
        if (index == 0)
            useUninstallIcon = 1;
        made &= createShortcut(path, setupText.productName, format, NULL, 0);
    }
    made &= writeUninstallEntry(installedKilobytes());
    if (setupText.startupArguments[0] != '|' && formInstalledPath(path, sizeof path, 1))
        made &= createShortcut(path, setupText.productName, "%s", setupText.startupArguments, 1);
    return made;
}

static DWORD installFiles(void)
{
    closeRunningInstance();
    int failed = 0;
    int count = configFileCount();
    for (int index = 0; index < count && !abortLatch && !failed; index++) {
        char path[sizeof installDir] = "";
        if ((index == 0 || index == SAMPLES_FIRST_INDEX) && formFolderPath(path, sizeof path, index))
            createFolder(path);   // it may be there already
        int written = formInstalledPath(path, sizeof path, index);
        // An old file that cannot be moved aside is left alone, and not counted:
        // the rollback must not delete it.
        if (written && !keepAside(index, path)) {
            workerReports.showWriteFailure(path);
            failed = 1;
            break;
        }
        if (written) {
            workerReports.showFile(path);
            char entryName[ENTRY_NAME_BUFFER];
            formatText(entryName, sizeof entryName, FILE_ENTRY_FORMAT, index);
            writeHook = installProgressHook;
            tickHook = installPumpHook;
            written = index == 0 ? composeUninstaller(path) : extractToFile(entryName, path);
        }
        // Counted either way: the rollback removes a partly written file too.
        installedFileCount++;
        if (!written && !abortLatch) {
            workerReports.showWriteFailure(path);
            failed = 1;
        }
    }
    if (abortLatch)
        return WORKER_ABORTED;
    if (failed)
        return WORKER_FAILED;
    abortLatch = 1;   // from here on Cancel has no effect
    workerReports.cancelOff();
    if (!registerProduct())
        return WORKER_INCOMPLETE;
    discardKept(count);
    return WORKER_INSTALLED;
}

// The dialog hears of the end at once, not at its next tick: a confirmed
// abort goes on to the rollback without waiting. The result is the thread's
// exit code.
static DWORD WINAPI InstallWorker(LPVOID)
{
    DWORD result = installFiles();
    workerReports.ended();
    return result;
}

int startInstallWorker(void)
{
    DWORD threadId;
    workerThread = workerInPlace ? NULL : CreateThread(NULL, 0, InstallWorker, NULL, CREATE_SUSPENDED, &threadId);
    workerResult = WORKER_INSTALLED;
    if (!workerThread) {
        workerResult = (int)InstallWorker(NULL);
        return 1;
    }
    // Copying goes before painting; the interface thread stays at idle for good.
    SetThreadPriority(workerThread, THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    ResumeThread(workerThread);
    return 1;
}

int installWorkerOutcome(DWORD waitMs)
{
    if (!workerThread)
        return workerResult;
    if (waitMs)
        WaitForSingleObject(workerThread, waitMs);
    DWORD exitCode;
    if (!GetExitCodeThread(workerThread, &exitCode))
        return workerResult;
    return exitCode == STILL_ACTIVE ? 0 : (int)exitCode;
}

void keepInstallWorkerInPlace(void)
{
    workerInPlace = 1;
}

void resetInstallWorker(void)
{
    abortRequested = 0;
    abortLatch = 0;
    installedFileCount = 0;
    progress = {};
    pumpCounter = 0;
}
