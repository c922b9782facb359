// progress.cpp - the bar, drawn from the package library's ticks and from
// finished files.
#include "progress.h"

#include <stdio.h>
#include <string.h>

#include "coding/blockstream.h"
#include "coding/fileio.h"
#include "package/operation.h"
#include "package/package.h"
#include "tool.h"

enum { BAR_WIDTH = 40, TICKS_PER_DRAW = 64 };

static struct {
    double start;
    int64_t total;
    int64_t done;            // bytes of the files finished
    FileHandle source;       // the file being added
    int ticks;
    bool shown;
    bool terminal;
} progress;

static void drawProgress(int64_t done)
{
    if (!progress.terminal || progress.total <= 0 || secondsNow() - progress.start < 1.0)
        return;
    int filled = (int)(done * BAR_WIDTH / progress.total);
    if (filled > BAR_WIDTH)
        filled = BAR_WIDTH;
    char bar[BAR_WIDTH + 1];
    memset(bar, '#', (size_t)filled);
    memset(bar + filled, '.', (size_t)(BAR_WIDTH - filled));
    bar[BAR_WIDTH] = 0;
    fprintf(stderr, "\r[%s] %3d%%", bar, (int)(done * 100 / progress.total));
    progress.shown = true;
}

static void progressTick(void)
{
    if (++progress.ticks % TICKS_PER_DRAW == 0 && progress.source != INVALID_FILE)
        drawProgress(progress.done + fileTell(progress.source));
}

static void progressBefore(FileHandle source, int32_t)
{
    progress.source = source;
}

static void progressAfter(FileHandle)
{
    progress.source = INVALID_FILE;
}

void startProgress(int64_t total, bool terminal)
{
    progress.start = secondsNow();
    progress.total = total;
    progress.done = 0;
    progress.source = INVALID_FILE;
    progress.ticks = 0;
    progress.shown = false;
    progress.terminal = terminal;
    tickHook = progressTick;
}

void followNextTransfer()
{
    beforeTransferHook = progressBefore;
    afterTransferHook = progressAfter;
}

void progressFileDone(int64_t size)
{
    progress.done += size;
    progress.source = INVALID_FILE;
    drawProgress(progress.done);
}

void stopProgress()
{
    tickHook = nullptr;
    if (progress.shown)
        fprintf(stderr, "\r%60s\r", "");
}
