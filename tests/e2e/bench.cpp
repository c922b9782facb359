// bench.cpp - the driver's benchmark commands (bench/install_span.sh runs
// them; they are no tests): a full install clicked through, and the Cancel
// question timed in milliseconds.
//
// Timing waits poll every millisecond, so a figure is good to about 1-2 ms;
// every wait ends at a timeout and only for a state the setup reaches by
// itself or that the question holds in place.
#include "driver.h"
#include <commctrl.h>
#include <stdio.h>

enum {
    BENCH_POLL_MS = 1,
    QUESTION_WAIT_MS = 10000,
    RESUME_WAIT_MS = 10000,
    ROLLBACK_WAIT_MS = 60000
};

static double nowMs(void)
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return (double)count.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static HWND visibleConfirm(void)
{
    HWND box = FindWindowA("#32770", "Confirm");
    return box && IsWindowVisible(box) ? box : NULL;
}

// The bar's position through a timeout: the installing dialog's thread may be
// busy for a moment, never for long.
static bool progressPosition(HWND bar, DWORD_PTR* position)
{
    return SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, position) != 0;
}

// Welcome -> Install -> Finished ("Run" unticked) -> exit 0.
int benchInstall(const char* setupPath)
{
    HANDLE setup = startSetup(setupPath);
    Dialog dialog;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) || !click("Install", IDC_FINISH) ||
        !waitDialog("Finished", PLAIN_DIALOG, 300000, &dialog) || !setCheck("Finished", IDC_RUN_PRODUCT, 0) ||
        !click("Finished", IDC_FINISH))
        return fail("the install of %s did not go through", setupPath), 1;
    if (!waitExit(setup, "the setup", DEFAULT_WAIT_MS) || !expectExitCode("a completed install", EXIT_DONE))
        return 1;
    return 0;
}

// Clicks Cancel on the installing dialog and waits for the question: its
// latency in ms, or -1.
static double askQuestion(HWND installing)
{
    HWND cancel = GetDlgItem(installing, IDCANCEL);
    if (!cancel || !IsWindowEnabled(cancel)) {
        fail("Cancel of the installing dialog is not there or disabled (the install ended too soon)");
        return -1;
    }
    double clicked = nowMs();
    PostMessageA(cancel, BM_CLICK, 0, 0);
    while (!visibleConfirm()) {
        if (nowMs() - clicked > QUESTION_WAIT_MS) {
            fail("no Confirm question within %d ms of Cancel", QUESTION_WAIT_MS);
            return -1;
        }
        Sleep(BENCH_POLL_MS);
    }
    return nowMs() - clicked;
}

// cycles times: Cancel, question, No, the bar moves on; then Cancel, Yes,
// the rollback (the install folder gone) and the setup's end. One line per
// figure: question MS / resume MS / rollback MS / ended MS
int benchCancel(const char* setupPath, int cycles, const char* folder)
{
    HANDLE setup = startSetup(setupPath);
    Dialog dialog;
    if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Installing", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return 1;
    HWND installing = dialog.window;
    HWND bar = NULL;
    for (HWND child = GetWindow(installing, GW_CHILD); child && !bar; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = "";
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, PROGRESS_CLASSA) == 0)
            bar = child;
    }
    DWORD_PTR position = 0;
    if (!bar || !progressPosition(bar, &position))
        return fail("the installing dialog has no progress bar to read"), 1;
    // The worker starts on the dialog's first tick: wait until it writes.
    double started = nowMs();
    while (progressPosition(bar, &position) && position == 0) {
        if (nowMs() - started > DEFAULT_WAIT_MS)
            return fail("the progress bar did not move within %d ms", DEFAULT_WAIT_MS), 1;
        Sleep(BENCH_POLL_MS);
    }
    for (int cycle = 0; cycle < cycles; cycle++) {
        double question = askQuestion(installing);
        if (question < 0)
            return 1;
        HWND box = visibleConfirm();
        DWORD_PTR held = 0;
        progressPosition(bar, &held);
        HWND no = GetDlgItem(box, IDNO);
        double answered = nowMs();
        PostMessageA(no, BM_CLICK, 0, 0);
        // Going on: the bar passes the position it held while the question was up.
        while (progressPosition(bar, &position) && position == held) {
            if (nowMs() - answered > RESUME_WAIT_MS)
                return fail("the install did not go on within %d ms of No", RESUME_WAIT_MS), 1;
            Sleep(BENCH_POLL_MS);
        }
        double resume = nowMs() - answered;
        note("question %.1f", question);
        note("resume %.1f", resume);
    }
    double question = askQuestion(installing);
    if (question < 0)
        return 1;
    note("question %.1f", question);
    HWND yes = GetDlgItem(visibleConfirm(), IDYES);
    double answered = nowMs();
    PostMessageA(yes, BM_CLICK, 0, 0);
    // Rolled back: the install folder is gone; then the setup ends.
    while (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES) {
        if (nowMs() - answered > ROLLBACK_WAIT_MS)
            return fail("%s is still there %d ms after Yes", folder, ROLLBACK_WAIT_MS), 1;
        Sleep(BENCH_POLL_MS);
    }
    note("rollback %.1f", nowMs() - answered);
    if (WaitForSingleObject(setup, ROLLBACK_WAIT_MS) != WAIT_OBJECT_0)
        return fail("the setup did not end within %d ms of Yes", ROLLBACK_WAIT_MS), 1;
    note("ended %.1f", nowMs() - answered);
    DWORD code = 0;
    GetExitCodeProcess(setup, &code);
    CloseHandle(setup);
    return expect(code == EXIT_CANCELLED, "the cancelled setup ended with %lu", (unsigned long)code) ? 0 : 1;
}
