// worker.cpp - the install worker thread, its block stream hooks, the install
// folder and the closing of a running copy of the product.
//
// The worker, by phase:
//   closing   ask a running copy of the product to close (about 0.8 s at most)
//   copying   file 0 composed, files 1.. extracted; stops when abortLatch is
//             set (abort confirmed) or a file could not be written
//   register  abortLatch set, Cancel disabled: shortcuts, uninstall entry,
//             Startup shortcut; cannot be aborted
#include "worker.h"

#include "background.h"
#include "blockstream.h"
#include "entry.h"
#include "package.h"
#include "shell.h"
#include "textformat.h"
#include "transfer.h"
#include "writer.h"

#include <windows.h>
#include <commctrl.h>

HWND progressBar;
volatile int abortRequested;
volatile int abortLatch;
volatile int installedFileCount;
int32_t progressTotal;
int pumpCounter;
HANDLE workerThread;
volatile int workerResult;

// The installing dialog: owner of the worker's message boxes.
static HWND workerDialog;

enum {
    ENTRY_NAME_BUFFER = 32,
    PUMP_INTERVAL = 128,        // pump calls between two drains of the queue
    PAINTS_PER_DRAIN = 3,       // a drain stops at the third paint in a row
    CLOSE_PASSES = 8,
    CLOSE_REPEATS = 4,          // requests to one window that does not go away
    CLOSE_WAIT_MS = 200,
    CLOSE_EXIT_WAIT_MS = 5000   // for closed copies to end, all together
};

const char* fileNameAt(int index)
{
    const char* name = setupConfig.fileNames;
    const char* end = name + sizeof setupConfig.fileNames;
    for (int i = 0; i < index && name < end; i++) {
        while (name < end && *name)
            name++;
        name++;
    }
    const char* last = name;
    while (last < end && *last)
        last++;
    return last < end ? name : "";   // a name without its NUL inside the list is no name
}

int configFileCount(void)
{
    // A damaged count never makes the list longer than the names it holds.
    int count = 0;
    while (count < setupConfig.fileCount && fileNameAt(count)[0])
        count++;
    return count;
}

int formInstalledPath(char* buffer, int capacity, int index)
{
    const char* name = fileNameAt(index);
    const char* format = index >= SAMPLES_FIRST_INDEX ? "%s\\Samples\\%s" : "%s\\%s";
    return name[0] && formatText(buffer, capacity, format, installDir, name) > 0;
}

static int endsWithNoCase(const char* text, const char* suffix)
{
    int textLength = lstrlenA(text), suffixLength = lstrlenA(suffix);
    return textLength >= suffixLength && findNoCase(text + textLength - suffixLength, suffix) == 1;
}

int resolveInstallDir(void)
{
    installDir[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS) {
        char value[sizeof installDir + 1];
        DWORD type = 0, size = sizeof installDir;
        if (RegQueryValueExA(key, "ProgramFilesDir", NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS) {
            value[size <= sizeof installDir ? size : sizeof installDir] = 0;   // stored without NUL, perhaps
            if (type == REG_EXPAND_SZ) {
                DWORD length = ExpandEnvironmentStringsA(value, installDir, sizeof installDir);
                if (length == 0 || length > sizeof installDir)
                    installDir[0] = 0;
            } else if (type == REG_SZ) {
                formatText(installDir, sizeof installDir, "%s", value);
            }
        }
        RegCloseKey(key);
    }
    if (!installDir[0])
        formatText(installDir, sizeof installDir, "%s", "C:\\Program Files");
    int length = lstrlenA(installDir);
    if (length > 0 && installDir[length - 1] == '\\')
        installDir[length - 1] = 0;   // "C:\" would give "C:\\name"
    CreateDirectoryA(installDir, NULL);
    if (setupConfig.installFolderName[0] &&
        (appendText(installDir, sizeof installDir, "\\") < 0 ||
         appendText(installDir, sizeof installDir, setupConfig.installFolderName) < 0))
        return 0;
    // Every path the worker and the rollback will form must fit now.
    char path[sizeof installDir];
    if (formatText(path, sizeof path, "%s\\Samples", installDir) < 0)
        return 0;
    int count = configFileCount();
    for (int index = 0; index < count; index++)
        if (!formInstalledPath(path, sizeof path, index))
            return 0;
    return 1;
}

bool confirmAbort(HWND owner)
{
    return MessageBoxA(owner, "The setup is not finished! Do you really want to abort?", "Confirm",
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void installProgressHook(int32_t bytesWritten)
{
    if (abortRequested) {
        if (confirmAbort(workerDialog)) {
            abortStream();
            abortLatch = 1;
        }
        abortRequested = 0;   // presses while the question was up count as this one
    }
    progressTotal += bytesWritten;
    if (progressBar)
        SendMessageA(progressBar, PBM_SETPOS, (WPARAM)progressTotal, 0);
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
}

void installPumpHook(void)
{
    if (++pumpCounter % PUMP_INTERVAL != 0)
        return;
    // Paint messages come back as long as their area stays invalid; a run of
    // them ends the drain, and after other messages the next call drains again.
    int paints = 0;
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_PAINT) {
            if (++paints == PAINTS_PER_DRAIN)
                return;
        } else {
            if (paints)
                pumpCounter = PUMP_INTERVAL - 1;
            paints = 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Asked to close, a copy may take a moment to end and keeps its program file
// open until it has: the files are written once every copy asked has ended,
// or after CLOSE_EXIT_WAIT_MS in all, whichever comes first.
static void waitForClosedProcesses(const HANDLE* processes, int count)
{
    DWORD start = GetTickCount();
    for (int i = 0; i < count; i++) {
        if (!processes[i])
            continue;
        DWORD waited = GetTickCount() - start;
        if (waited < (DWORD)CLOSE_EXIT_WAIT_MS)
            WaitForSingleObject(processes[i], CLOSE_EXIT_WAIT_MS - waited);
        CloseHandle(processes[i]);
    }
}

void closeRunningInstance(void)
{
    if (!setupConfig.runningWindowClass[0])
        return;
    HWND windows[CLOSE_PASSES];
    HANDLE processes[CLOSE_PASSES];
    int count = 0;
    int repeats = 0;
    while (count < CLOSE_PASSES) {
        HWND window = FindWindowA(setupConfig.runningWindowClass, NULL);
        if (!window)
            break;
        if (count > 0 && window == windows[count - 1]) {
            if (++repeats == CLOSE_REPEATS)
                break;
        } else {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            windows[count] = window;
            processes[count] = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : NULL;
            count++;
            repeats = 0;
        }
        PostMessageA(window, WM_CLOSE, 0, 0);
        Sleep(CLOSE_WAIT_MS);
    }
    waitForClosedProcesses(processes, count);
}

// The uninstaller: the program's own image (entry "MAIN") followed by a
// package of the eight bitmaps, all in their stored form. 1 when written.
static int composeUninstaller(const char* path)
{
    FileHandle package = createPackage(path);
    if (package == INVALID_FILE)
        return 0;
    int written = copyEntry("MAIN", 0);
    for (int i = 0; i < DECORATION_STEPS; i++) {
        // A setup without a bitmap gives an uninstaller without it, as it is.
        if (getStoredSize(decorativeBitmapNames[i]) >= 0 && !copyEntry(decorativeBitmapNames[i], 0))
            written = 0;
    }
    if (!closePackage(package))
        written = 0;
    return written;
}

static void reportWriteFailure(const char* path)
{
    char text[sizeof installDir + 96];
    formatText(text, sizeof text,
               "Setup could not write the file\n\n%s\n\nThe files installed so far will be removed.", path);
    MessageBoxA(workerDialog, text, "Install", MB_OK | MB_ICONERROR);
}

// Kilobytes of the installed files, for the list of programs.
static uint32_t installedKilobytes(void)
{
    uint64_t total = 0;
    int count = configFileCount();
    for (int index = 0; index < count; index++) {
        char path[sizeof installDir];
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (formInstalledPath(path, sizeof path, index) &&
            GetFileAttributesExA(path, GetFileExInfoStandard, &data))
            total += ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    total = (total + 1023) / 1024;
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)total;
}

static void registerProduct(void)
{
    char path[sizeof installDir];
    int count = configFileCount();
    for (int index = 0; index < count; index++) {
        if (!formInstalledPath(path, sizeof path, index))
            continue;
        if (endsWithNoCase(path, ".exe")) {
            // Every further program gets the product's name: the last one wins.
            if (index == 0)
                useUninstallIcon = 1;
            createShortcut(path, setupConfig.productName, index == 0 ? setupConfig.uninstallShortcutFormat : "%s",
                           NULL, 0);
        } else if (endsWithNoCase(path, ".hlp")) {
            createShortcut(path, setupConfig.productName, "%s Help", NULL, 0);
        }
    }
    writeUninstallEntry(installedKilobytes());
    if (setupConfig.startupArguments[0] != '|' && formInstalledPath(path, sizeof path, 1))
        createShortcut(path, setupConfig.productName, "%s", setupConfig.startupArguments, 1);
}

DWORD WINAPI InstallWorker(LPVOID dialog)
{
    workerDialog = (HWND)dialog;
    closeRunningInstance();
    int failed = 0;
    int count = configFileCount();
    for (int index = 0; index < count && !abortLatch && !failed; index++) {
        char path[sizeof installDir] = "";
        if (index == 0 || index == SAMPLES_FIRST_INDEX) {
            formatText(path, sizeof path, index == 0 ? "%s" : "%s\\Samples", installDir);
            CreateDirectoryA(path, NULL);   // it may be there already
        }
        int written = 0;
        if (formInstalledPath(path, sizeof path, index)) {
            SetDlgItemTextA(workerDialog, INSTALLING_FILE_CONTROL, path);
            char entryName[ENTRY_NAME_BUFFER];
            formatText(entryName, sizeof entryName, "File%d", index);
            writeHook = installProgressHook;
            tickHook = installPumpHook;
            written = index == 0 ? composeUninstaller(path) : extractToFile(entryName, path);
        }
        // Counted either way: the rollback removes a partly written file too.
        installedFileCount++;
        if (!written && !abortLatch) {
            reportWriteFailure(path);
            failed = 1;
        }
    }
    if (abortLatch)
        return WORKER_ABORTED;
    if (failed)
        return WORKER_FAILED;
    abortLatch = 1;   // from here on Cancel has no effect
    EnableWindow(GetDlgItem(workerDialog, IDCANCEL), FALSE);
    registerProduct();
    return WORKER_INSTALLED;
}

int startInstallWorker(HWND dialog)
{
    DWORD threadId;
#ifdef TAMB_WORKER_IN_PLACE
    // Test build: behave as if the system could not create the thread.
    workerThread = NULL;
    (void)threadId;
#else
    workerThread = CreateThread(NULL, 0, InstallWorker, dialog, CREATE_SUSPENDED, &threadId);
#endif
    workerResult = WORKER_INSTALLED;
    if (!workerThread) {
        workerResult = (int)InstallWorker(dialog);
        return 1;
    }
    // Copying goes before painting; the interface thread stays at idle for good.
    SetThreadPriority(workerThread, THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    ResumeThread(workerThread);
    return 1;
}
