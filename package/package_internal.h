// package_internal.h - what the modules of the package library ask of the
// ones below them (reader <- transfer engine <- writer). Not part of the
// library's interface.
#ifndef PACKAGE_PACKAGE_INTERNAL_H
#define PACKAGE_PACKAGE_INTERNAL_H

#include <stdint.h>

#include "coding/fileio.h"

// ---- The reader's (package.cpp) ----------------------------------------------
// At the end of an operation that updates the latch: latch = failed and stopOnError.
void updateLatch(int result);

// Writes the directory and closes the package being written; 0 (file deleted) on failure.
typedef int (*WriterFinish)(void);
// The writer registers the package it writes (INVALID_FILE: none) and its
// finish routine, so that closePackage(handle) of that handle finishes it.
void registerPackageWriter(FileHandle handle, WriterFinish finish);

// ---- The transfer engine's (transfer.cpp) -------------------------------------
// Configuration patch state that the add operations read and reset.
int32_t configPatchPosition(void);
void resetConfigPatchPosition(void);
void disarmConfigPatch(void);

#endif
