// package.h - the package container: entry data followed by a PC1-enciphered
// directory of 40-byte records at the very end of the file, so a package can be
// appended to any file. One package open for reading at a time; process-wide state.
#ifndef PACKAGE_PACKAGE_H
#define PACKAGE_PACKAGE_H

#include <stdint.h>

#include "coding/fileio.h"
#include "coding/littleendian.h"
#include "package/packageerror.h"

enum {
    ENTRY_SIZE = 40,
    PACKAGE_MAX_RECORDS = 31,    // the count byte keeps five bits; 32 would read as 0
    ENTRY_NAME_SIZE = 16,        // a 16-character name has no terminator
    ENTRY_VALUE_SIZE = 16,       // inline value bytes at offset 23
    ENTRY_STORED = 0, ENTRY_COMPRESSED = 1, ENTRY_VALUE = 0xFF,   // mode
    FIND_DATA = 1, FIND_VALUE = 2,                                // findEntry kinds
    PACKAGE_PATH_SIZE = 260
};
#define ENTRY_MAGIC 0x474C5545u

// One directory record. Multi-byte fields are little-endian byte arrays (getLe32),
// so the record is the same on every platform. A value entry (mode 0xFF) keeps
// up to 16 value bytes at offset 23, over storedSize .. magic.
struct PackageEntry {
    int8_t inlineLength;         // value bytes; in the file's last record: the record count
    uint8_t mode;                // ENTRY_STORED, ENTRY_VALUE, anything else is compressed
    uint8_t xorKey;              // stored entries: every data byte XORed with it
    char name[ENTRY_NAME_SIZE];  // NUL-padded
    uint8_t dataOffset[4];       // absolute file position of the data
    uint8_t storedSize[4];       // bytes in the file
    uint8_t extractedSize[4];    // bytes that extraction yields
    uint8_t patchOffset[4];      // embedded configuration's position in the content, or -1
    uint8_t recordLength;        // 40, never read
    uint8_t magic[4];            // ENTRY_MAGIC
};
static_assert(sizeof(PackageEntry) == ENTRY_SIZE, "record layout");
static_assert(__builtin_offsetof(PackageEntry, name) == 3, "record layout");
static_assert(__builtin_offsetof(PackageEntry, dataOffset) == 19, "record layout");
static_assert(__builtin_offsetof(PackageEntry, storedSize) == 23, "record layout");
static_assert(__builtin_offsetof(PackageEntry, extractedSize) == 27, "record layout");
static_assert(__builtin_offsetof(PackageEntry, patchOffset) == 31, "record layout");
static_assert(__builtin_offsetof(PackageEntry, recordLength) == 35, "record layout");
static_assert(__builtin_offsetof(PackageEntry, magic) == 36, "record layout");

// A record's 32-bit fields, signed as the sizes and offsets they hold.
inline int32_t getLe32(const uint8_t field[4])
{
    return (int32_t)readLe32(field);
}
inline void putLe32(uint8_t field[4], uint32_t value)
{
    writeLe32(field, value);
}
uint8_t* entryInlineValue(PackageEntry* entry);      // the 16 bytes at offset 23
int entryNameEquals(const PackageEntry* entry, const char* name);   // ASCII case ignored
void setEntryName(PackageEntry* entry, const char* name);           // first 16, NUL-padded

// ---- Hooks: set before one operation, cleared by it --------------------------
typedef int (*ConfirmOverwriteHook)(const char* path);           // non-zero: replace
typedef void (*BeforeTransferHook)(FileHandle file, int32_t count);
typedef void (*AfterTransferHook)(FileHandle file);
extern ConfirmOverwriteHook confirmOverwriteHook;
extern BeforeTransferHook beforeTransferHook;
extern AfterTransferHook afterTransferHook;

void initPackageLibrary(void);                        // idempotent
// Stop-after-failure: while the latch is set, operations that observe it fail at once.
void setStopOnError(int on);                          // also clears the latch
int failureLatch(void);
// Writable, unshared file; an existing one is replaced unless confirmOverwriteHook refuses.
// Failures: PACKAGE_CANNOT_CREATE_TARGET, PACKAGE_OVERWRITE_REFUSED, PACKAGE_BAD_ARGUMENT.
FileHandle createTargetFile(const char* path);
// The package error for a file that fileOpenRead could not open.
PackageError openFailure(void);

// ---- Reader -------------------------------------------------------------------
// Closes any open package, then opens path (null: the running program's file).
// Returns the new reader handle or INVALID_FILE (no package open then; why:
// PACKAGE_NO_SUCH_FILE, PACKAGE_CANNOT_OPEN, PACKAGE_CANNOT_READ, PACKAGE_NO_DIRECTORY,
// PACKAGE_STOPPED).
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

// First record of that name; null if it is not of a wanted kind or no package is open.
PackageEntry* findEntry(const char* name, int kinds);
int32_t getStoredSize(const char* name);              // data entries; -1 if none
int32_t getExtractedSize(const char* name);
// Copies the value (buffer of 16 bytes) and its length; 1 if a value entry was found.
int readValue(const char* name, uint8_t* buffer, int32_t* length);
int isSameData(const char* nameA, const char* nameB); // two data entries, one dataOffset
// 1 when the entry's data lies wholly inside the open package, before its directory.
int entryDataFits(const PackageEntry* entry);

#endif
