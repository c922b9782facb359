// tool.h - what every mksetup command shares: the -q switch, error lines on
// stderr, the package library's reason for a failure, and entry names.
#ifndef MKSETUP_TOOL_H
#define MKSETUP_TOOL_H

#include <string>

// -q: no table, no progress, no listing; errors and warnings still go to stderr.
void setQuiet(bool on);
bool isQuiet();

// "error: ..." on stderr, control characters escaped.
void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Why the package library's last operation failed, in words: the system's
// reason for a file, the codec's for damaged data.
std::string packageReason();

// The package entry of installed file index ("File1", ...).
std::string entryFileName(int index);

// A confirmOverwriteHook that never lets the library open an existing file.
int refuseOverwrite(const char* path);

double secondsNow();

#endif
