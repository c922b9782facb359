// package_internal.h - what the reader, the transfer engine and the writer
// ask of each other. Not part of the library's interface.
#ifndef PACKAGE_INTERNAL_H
#define PACKAGE_INTERNAL_H

#include <stdint.h>
#include "fileio.h"

// At the end of an operation that updates the latch: latch = failed and stopOnError.
void updateLatch(int result);

// Writes the directory and closes the package being written; 0 (file deleted) on failure.
int finishPackage(void);

// Configuration patch state that the add operations read and reset.
int32_t configPatchPosition(void);
void resetConfigPatchPosition(void);
void disarmConfigPatch(void);

#endif
