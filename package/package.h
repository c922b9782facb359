// package.h - the package reader. A package is entry data followed by a
// PC1-enciphered directory of 40-byte records (package/entry.h) at the very
// end of the file, so a package can be appended to any file. One package open
// for reading at a time; process-wide state.
#ifndef PACKAGE_PACKAGE_H
#define PACKAGE_PACKAGE_H

#include <stdint.h>

#include "coding/fileio.h"
#include "package/entry.h"

enum { FIND_DATA = 1, FIND_VALUE = 2 };   // findEntry kinds

// Closes any open package, then opens path (null: the running program's file).
// Returns the new reader handle or INVALID_FILE (no package open then; why:
// PACKAGE_NO_SUCH_FILE, PACKAGE_CANNOT_OPEN, PACKAGE_CANNOT_READ, PACKAGE_NO_DIRECTORY,
// PACKAGE_STOPPED). An operation (package/operation.h).
FileHandle openPackage(const char* path);
// The next openPackage takes this as the package size instead of the file's size.
void presetPackageSize(int32_t size);
// Reader handle: closes it (1). Writer handle: writes the directory and closes;
// 0 (and the file deleted) when that failed. Any other handle: ignored, 0.
int closePackage(FileHandle handle);
FileHandle packageReaderHandle(void);
int packageEntryCount(void);                          // records of the open package
// Record index (0 = first appended) of the open package, or null.
PackageEntry* packageRecord(int index);

// Lookups and queries: no package open finds nothing; the latch is not consulted.
// First record of that name; null if it is not of a wanted kind.
PackageEntry* findEntry(const char* name, int kinds);
int32_t getStoredSize(const char* name);              // data entries; -1 if none
int32_t getExtractedSize(const char* name);
// Copies the value (buffer of 16 bytes) and its length; 1 if a value entry was found.
int readValue(const char* name, uint8_t* buffer, int32_t* length);
int isSameData(const char* nameA, const char* nameB); // two data entries, one dataOffset
// 1 when the entry's data lies wholly inside the open package, before its directory.
int entryDataFits(const PackageEntry* entry);

#endif
