// writer.h - writes packages: the data of each entry goes to the file at once,
// the records collect in memory and closePackage writes them, enciphered, as the
// directory at the end. Entries come from files, memory, inline values, or as
// copies of entries of the open package. One package written at a time.
#ifndef PACKAGE_WRITER_H
#define PACKAGE_WRITER_H

#include <stdint.h>

#include "coding/fileio.h"
#include "package/package.h"   // closePackage finishes what the writer writes
#include "package/transfer.h"

// Finishes any package being written, then creates path (createTargetFile rules).
// Returns the writer handle or INVALID_FILE. closePackage (package/package.h)
// finishes it. This and the adding, copying, padding, alias and rename
// operations below keep the contract of package/operation.h.
FileHandle createPackage(const char* path);

FileHandle packageWriterHandle(void);                  // the package being written, or invalid

// The slot for the next record, or null when 31 records exist.
PackageEntry* nextFreeRecord(void);
// Adds a record (nothing when the directory is full); not an operation.
// patch becomes -1 unless it is non-zero and below extracted.
void appendRecord(const char* name, TransferFlags flags, int32_t stored, int32_t extracted,
                  int32_t offset, int32_t patch);

// Each returns 1 when a record was added, else 0.
int addFile(const char* path, const char* name, TransferFlags flags);
// A block stream that a compressor wrote to path (another process, say),
// copied as it is and recorded as addFile(..., XFER_COMPRESS) records the
// source it came from: compressed, key 0, extractedSize the source's size.
int addPrecompressed(const char* path, const char* name, int32_t extractedSize);
int addMemory(const void* source, int32_t size, const char* name, TransferFlags flags);
// Up to 16 inline bytes. Never the first record: that one carries the count.
int addValue(const char* name, const uint8_t* bytes, int32_t length);
int copyValue(const char* name);                       // value entry of the open package
// The open package's data entry of that name, copied under the same name;
// XFER_COMPRESS, XFER_DECOMPRESS, XFER_UNSCRAMBLE and XFER_PATCH change it on the way.
int copyEntry(const char* name, TransferFlags flags);
// Zero bytes up to the next multiple (1..8) of the write position. The
// directory's records are 40 bytes, so a package padded before it is closed
// ends on that multiple too: a signer then appends its table right after it.
int padPackageData(int32_t multiple);
int aliasEntry(const char* newName, const char* existingName);   // shares the data
int renameEntry(const char* existingName, const char* newName);

#endif
