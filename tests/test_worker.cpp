// The install worker's progress hook: the bar moves by visible steps only,
// at a bounded rate, ends at the last position, and every call still sees the
// Cancel button.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/setupstate.h"
#include "install/worker.h"

namespace {

int positionsSent;
WPARAM lastPosition;

LRESULT CALLBACK countingBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETPOS) {
        positionsSent++;
        lastPosition = wParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeCountingBar()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = countingBar;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "CountingProgressBar";
    RegisterClassA(&windowClass);
    // A message-only window: no display is needed to count what it receives.
    return CreateWindowA("CountingProgressBar", "", 0, 0, 0, 10, 10, HWND_MESSAGE, NULL, windowClass.hInstance, NULL);
}

int abortQuestions;
bool refuseAbort() { abortQuestions++; return false; }

// Waits until the interval has passed since now, as GetTickCount sees it.
void letIntervalPass()
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start <= PROGRESS_INTERVAL_MS)
        Sleep(1);
}

}  // namespace

TEST(Worker, ProgressBarMovesByVisibleStepsAndEndsFull)
{
    HWND bar = makeCountingBar();
    ASSERT_TRUE(bar != NULL);
    const struct {
        int32_t range;
        int32_t block;
        int maxSends;
    } cases[] = {
        {19300000, 10240, 257},    // a 19 MB product in 10 KB blocks: about 1900 writes
        {1000, 10240, 1},          // one write passes the whole range
        {100, 1, 100},             // a range below 256 bytes: every byte is a visible step
        {0, 4096, 1},              // nothing to decode: the bar is set once
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        setupConfig.progressRange = c.range;
        resetInstallWorker();
        progressBar = bar;
        workerReports.confirmAbort = refuseAbort;
        positionsSent = 0;
        abortQuestions = 0;
        int32_t remaining = c.range > 0 ? c.range : c.block;
        int32_t written = 0;
        int presses = 0;
        DWORD started = GetTickCount();
        while (remaining > 0) {
            int32_t n = remaining < c.block ? remaining : c.block;
            // Cancel between any two writes is seen by the very next one.
            if (presses < 3 && written > 0) {
                abortRequested = 1;
                presses++;
            }
            installProgressHook(n);
            written += n;
            EXPECT_EQ(abortRequested, 0);
            EXPECT_EQ(abortLatch, 0);   // refused: the install goes on
            remaining -= n;
        }
        EXPECT_EQ(abortQuestions, presses);
        EXPECT_LE(positionsSent, c.maxSends);
        // The first move, one per interval after it, and the last.
        EXPECT_LE(positionsSent, 2 + (int)((GetTickCount() - started) / PROGRESS_INTERVAL_MS));
        EXPECT_GE(positionsSent, 1);
        EXPECT_EQ((int32_t)lastPosition, written);   // the bar ends where the writing ended
    }
    workerReports.confirmAbort = NULL;
    progressBar = NULL;
    DestroyWindow(bar);
}

// A visible step waits for the interval, and moves the bar once it has passed.
TEST(Worker, ProgressBarMovesAgainOnceTheIntervalHasPassed)
{
    HWND bar = makeCountingBar();
    ASSERT_TRUE(bar != NULL);
    setupConfig.progressRange = 1000000;
    resetInstallWorker();
    progressBar = bar;
    positionsSent = 0;
    installProgressHook(10240);
    EXPECT_EQ(positionsSent, 1);
    installProgressHook(10240);   // a visible step at once after the last move: held back
    EXPECT_EQ(positionsSent, 1);
    letIntervalPass();
    installProgressHook(10240);
    EXPECT_EQ(positionsSent, 2);
    EXPECT_EQ((int32_t)lastPosition, 30720);
    installProgressHook(1000000 - 30720);   // the end moves the bar whatever the time
    EXPECT_EQ(positionsSent, 3);
    EXPECT_EQ((int32_t)lastPosition, 1000000);
    progressBar = NULL;
    DestroyWindow(bar);
}
