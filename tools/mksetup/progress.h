// progress.h - the build's progress bar on stderr: shown only when stderr is
// a terminal and the build has run for a second, and cleared at its end.
#ifndef MKSETUP_PROGRESS_H
#define MKSETUP_PROGRESS_H

#include <stdint.h>

// Starts counting towards total bytes and hooks the package library's ticks.
void startProgress(int64_t total, bool terminal);
// Sets the transfer hooks that follow the file being added; each package
// operation clears them, so this goes before every one.
void followNextTransfer();
// A file of size bytes is finished.
void progressFileDone(int64_t size);
// Unhooks and clears the bar's line when it was shown.
void stopProgress();

#endif
