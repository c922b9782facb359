// entry.h - the 40-byte directory record of a package, the same on every
// platform: multi-byte fields are little-endian byte arrays. A value entry
// (mode 0xFF) keeps up to 16 value bytes at offset 23, over storedSize .. magic.
#ifndef PACKAGE_ENTRY_H
#define PACKAGE_ENTRY_H

#include <stdint.h>

#include "coding/littleendian.h"

enum {
    ENTRY_SIZE = 40,
    PACKAGE_MAX_RECORDS = 31,    // the count byte keeps five bits; 32 would read as 0
    ENTRY_NAME_SIZE = 16,        // a 16-character name has no terminator
    ENTRY_VALUE_SIZE = 16,       // inline value bytes at offset 23
    ENTRY_STORED = 0, ENTRY_COMPRESSED = 1, ENTRY_VALUE = 0xFF    // mode
};
#define ENTRY_MAGIC 0x474C5545u

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

#endif
