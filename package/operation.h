// operation.h - what every operation of the package library shares: the
// hooks a caller sets for one operation, the stop-after-failure latch, and
// the creation of output files.
//
// The contract of every operation (opening, creating, adding, copying,
// aliasing, renaming, padding, extracting, setting a shared target):
//   - while the latch is set it does nothing and fails with PACKAGE_STOPPED;
//   - a failure records its reason (packageLastError) and, with stop-on-error
//     on, sets the latch;
//   - when it ends, on every path, the three hooks are cleared and an armed
//     configuration patch is disarmed: both apply to one operation only.
#ifndef PACKAGE_OPERATION_H
#define PACKAGE_OPERATION_H

#include <stdint.h>

#include "coding/fileio.h"
#include "package/packageerror.h"

typedef int (*ConfirmOverwriteHook)(const char* path);           // non-zero: replace
typedef void (*BeforeTransferHook)(FileHandle file, int32_t count);
typedef void (*AfterTransferHook)(FileHandle file);
extern ConfirmOverwriteHook confirmOverwriteHook;
extern BeforeTransferHook beforeTransferHook;   // the file outside the package, before the data moves
extern AfterTransferHook afterTransferHook;     // the same file, after a transfer that succeeded

void setStopOnError(int on);                          // also clears the latch
int failureLatch(void);

// Writable, unshared file; an existing one is replaced unless confirmOverwriteHook
// refuses. Leaves the hook to the operation that calls it.
// Failures: PACKAGE_CANNOT_CREATE_TARGET, PACKAGE_OVERWRITE_REFUSED, PACKAGE_BAD_ARGUMENT.
FileHandle createTargetFile(const char* path);
// The package error for a file that fileOpenRead could not open.
PackageError openFailure(void);

#endif
