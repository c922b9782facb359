// runningcopy.cpp - asking running copies of the product to close.
#include "install/runningcopy.h"

#include <windows.h>

#include "app/setuptext.h"
#include "coding/widetext.h"

enum {
    CLOSE_PASSES = 8,
    CLOSE_REPEATS = 4,          // requests to one window that does not go away
    CLOSE_WAIT_MS = 200,
    CLOSE_EXIT_WAIT_MS = 5000   // for closed copies to end, all together
};

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

// A top-level window of exactly that class that belongs to another process:
// the setup's own windows are never asked, whatever the class is called.
static HWND findOtherProcessWindow(const wchar_t* className)
{
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, className, NULL)) != NULL) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId != GetCurrentProcessId())
            return window;
    }
    return NULL;
}

void closeRunningInstance(void)
{
    wchar_t className[WIDE_UNITS_FOR_UTF8(sizeof setupText.runningWindowClass)];
    if (utf8ToWide(setupText.runningWindowClass, className, (int)(sizeof className / sizeof className[0])) <= 0)
        return;
    HWND windows[CLOSE_PASSES];
    HANDLE processes[CLOSE_PASSES];
    int count = 0;
    int repeats = 0;
    while (count < CLOSE_PASSES) {
        HWND window = findOtherProcessWindow(className);
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
        PostMessageW(window, WM_CLOSE, 0, 0);
        Sleep(CLOSE_WAIT_MS);
    }
    waitForClosedProcesses(processes, count);
}
