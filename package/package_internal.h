// package_internal.h - what the modules of the package library ask of each
// other (configuration patch <- operation frame <- reader <- transfer engine
// <- writer). Not part of the library's interface.
#ifndef PACKAGE_PACKAGE_INTERNAL_H
#define PACKAGE_PACKAGE_INTERNAL_H

#include <stdint.h>

#include "coding/fileio.h"
#include "package/entry.h"
#include "package/packageerror.h"

// ---- The configuration patch's (configpatch.cpp) ------------------------------
void startConfigPatch(int patching);  // a transfer begins: not complete unless not patching
int configPatchComplete(void);
int32_t configPatchPosition(void);    // the marker's position in the last transfer's data, or 0
void disarmConfigPatch(void);

// ---- The frame of every operation (operation.cpp) -----------------------------
// An operation runs as
//     PackageError problem = beginOperation(<its check of arguments and state>);
//     if (problem == PACKAGE_OK)
//         problem = <its work>;
//     return endOperation(problem);
// beginOperation: PACKAGE_STOPPED while the latch is set, else the check (which
// must change nothing). endOperation keeps the contract of operation.h on
// every path and returns 1 for PACKAGE_OK, else 0.
PackageError beginOperation(PackageError check);
int endOperation(PackageError problem);
// PACKAGE_OK for a step that succeeded, else the reason that the step recorded.
PackageError stepResult(int ok);

// ---- The reader's (package.cpp) -----------------------------------------------
// Finishes the package being written when handle is its handle: 1, or 0 when
// the directory could not be written; any other handle: -1.
typedef int (*WriterClose)(FileHandle handle);
// The writer registers this while it writes a package (null: none), so that
// closePackage finishes it without the reader calling up into the writer.
void registerPackageWriter(WriterClose close);
// Why an entry of the open package cannot be read: no package open, no such
// entry, or data outside the package; PACKAGE_OK when it can.
PackageError entryProblem(const PackageEntry* entry);
// Positions the open package at the entry's data; PACKAGE_CANNOT_READ if that fails.
PackageError seekEntryData(const PackageEntry* entry);

#endif
