// package.cpp - the package directory and reader.
//
// Reader states:
//   closed  - readerHandle invalid; lookups find nothing.
//   open    - readerHandle valid; readerDirectory holds the deciphered records of
//             the open package at its end. openPackage always passes through closed.
#include "package/package.h"

#include <string.h>

#include "coding/pc1.h"
#include "package/operation.h"
#include "package/package_internal.h"
#include "package/peimage.h"

// Every slot a directory can have: k = size / 40 records are read, at most 32,
// though a package holds at most 31 (the count byte keeps five bits).
enum { DIRECTORY_SLOTS = 32, LAST_SLOT = DIRECTORY_SLOTS - 1 };

static FileHandle readerHandle = INVALID_FILE;
static PackageEntry readerDirectory[DIRECTORY_SLOTS];
static uint8_t directoryRead[DIRECTORY_SLOTS * ENTRY_SIZE];   // as read: each trial deciphers a copy
static int readerEntryCount;
static int32_t readerDataEnd;        // where the open package's directory begins
static int32_t presetSize;           // 0, or the size the next open uses
static WriterClose writerClose;      // registered by the writer while it writes

void presetPackageSize(int32_t size)
{
    presetSize = size;
}

FileHandle packageReaderHandle(void)
{
    return readerHandle;
}

int packageEntryCount(void)
{
    return readerEntryCount;
}

PackageEntry* packageRecord(int index)
{
    if (readerHandle == INVALID_FILE || index < 0 || index >= readerEntryCount)
        return 0;
    return &readerDirectory[LAST_SLOT - index];
}

// Deciphers the last `records` records read into the last slots, as one stream;
// reports whether the last record then shows the magic.
static int trialShowsMagic(int32_t records)
{
    const int32_t skip = (DIRECTORY_SLOTS - records) * ENTRY_SIZE;
    uint8_t* slots = (uint8_t*)readerDirectory;
    memcpy(slots + skip, directoryRead + skip, (size_t)(records * ENTRY_SIZE));
    setKey(PC1_DIRECTORY_KEY);
    crypt(slots + skip, records * ENTRY_SIZE, 0);
    return (uint32_t)getLe32(readerDirectory[LAST_SLOT].magic) == ENTRY_MAGIC;
}

static void takeDirectory(int32_t size, int32_t records)
{
    // A damaged count cannot reach records that are not part of this directory.
    int count = readerDirectory[LAST_SLOT].inlineLength & 0x1F;
    readerEntryCount = count < records ? count : records;
    readerDataEnd = size - records * ENTRY_SIZE;
}

// Reads the last k records of a package of the given size and finds where the
// directory starts by trial decipherment: the trial that starts at the
// directory's first record shows the magic in the last one.
//
// The cipher carries little state from byte to byte (the key bytes all move by
// the XOR of the plaintext so far, plus one 16-bit sum), so a trial that starts
// late can fall into step with the true stream and show the magic as well:
// about one directory of 31 records in 200. The count byte tells the true start
// apart, since the writer stores the number of records there; a directory whose
// count does not match is still taken at the first trial that shows the magic.
static PackageError readDirectory(FileHandle file, int32_t size)
{
    if (size < 0)
        return PACKAGE_CANNOT_READ;
    if (size < ENTRY_SIZE)
        return PACKAGE_NO_DIRECTORY;
    int32_t k = size / ENTRY_SIZE;
    if (k > DIRECTORY_SLOTS)
        k = DIRECTORY_SLOTS;
    int32_t bytes = k * ENTRY_SIZE;
    if (!fileSeek(file, size - bytes) ||
        fileRead(file, directoryRead + (DIRECTORY_SLOTS - k) * ENTRY_SIZE, bytes) != bytes)
        return PACKAGE_CANNOT_READ;
    int32_t firstMagic = 0;
    for (int32_t records = 1; records <= k; records++) {
        if (trialShowsMagic(records)) {
            if ((readerDirectory[LAST_SLOT].inlineLength & 0x1F) == records) {
                takeDirectory(size, records);
                return PACKAGE_OK;
            }
            if (!firstMagic)
                firstMagic = records;
        }
    }
    if (!firstMagic)
        return PACKAGE_NO_DIRECTORY;
    trialShowsMagic(firstMagic);
    takeDirectory(size, firstMagic);
    return PACKAGE_OK;
}

// Opens the file (null: the running program's) and reads its directory; the
// reader handle is set only when both worked.
static PackageError openReader(const char* path)
{
    char ownPath[FILE_PATH_SIZE];
    if (!path && getModulePath(ownPath, sizeof ownPath))
        path = ownPath;
    if (!path)
        return PACKAGE_CANNOT_OPEN;
    FileHandle file = fileOpenRead(path);
    if (file == INVALID_FILE)
        return openFailure();
    int32_t size = presetSize;
    presetSize = 0;
    PackageError problem = PACKAGE_OK;
    PeSignature signature;
    // A signer appends its certificate table to the program: the package then
    // ends where the table starts.
    if (!size && findPackageEnd(file, fileSize(file), &size, &signature) == SIGNATURE_MISPLACED)
        problem = PACKAGE_BAD_SIGNATURE;
    else
        problem = readDirectory(file, size);
    if (problem == PACKAGE_OK)
        readerHandle = file;
    else
        fileClose(file);
    return problem;
}

FileHandle openPackage(const char* path)
{
    if (readerHandle != INVALID_FILE)
        closePackage(readerHandle);
    PackageError problem = beginOperation(PACKAGE_OK);
    if (problem == PACKAGE_OK)
        problem = openReader(path);
    endOperation(problem);
    return readerHandle;
}

int closePackage(FileHandle handle)
{
    if (handle == INVALID_FILE)
        return 0;
    if (handle == readerHandle) {
        fileClose(readerHandle);
        readerHandle = INVALID_FILE;
        return 1;
    }
    int finished = writerClose ? writerClose(handle) : -1;
    if (finished >= 0)
        return finished;
    setPackageError(PACKAGE_NOT_OPEN);
    return 0;
}

void registerPackageWriter(WriterClose close)
{
    writerClose = close;
}

// Records are visited in the order the writer appended them: from the last
// record of the file towards the front. Only the first record of a name counts.
PackageEntry* findEntry(const char* name, int kinds)
{
    if (readerHandle == INVALID_FILE || !name)
        return 0;
    for (int r = 0; r < readerEntryCount; r++) {
        PackageEntry* entry = &readerDirectory[LAST_SLOT - r];
        if (!entryNameEquals(entry, name))
            continue;
        if ((kinds & FIND_DATA) && entry->mode != ENTRY_VALUE)
            return entry;
        if ((kinds & FIND_VALUE) && entry->mode == ENTRY_VALUE)
            return entry;
        return 0;
    }
    return 0;
}

int32_t getStoredSize(const char* name)
{
    PackageEntry* entry = findEntry(name, FIND_DATA);
    return entry ? getLe32(entry->storedSize) : -1;
}

int32_t getExtractedSize(const char* name)
{
    PackageEntry* entry = findEntry(name, FIND_DATA);
    return entry ? getLe32(entry->extractedSize) : -1;
}

int readValue(const char* name, uint8_t* buffer, int32_t* length)
{
    if (length)
        *length = 0;
    PackageEntry* entry = findEntry(name, FIND_VALUE);
    if (!entry)
        return 0;
    int32_t count = entry->inlineLength;
    if (count < 0 || count > ENTRY_VALUE_SIZE || !buffer)
        count = 0;
    if (count > 0)
        memcpy(buffer, entryInlineValue(entry), (size_t)count);
    if (length)
        *length = count;
    return 1;
}

int isSameData(const char* nameA, const char* nameB)
{
    PackageEntry* a = findEntry(nameA, FIND_DATA);
    PackageEntry* b = findEntry(nameB, FIND_DATA);
    return a && b && getLe32(a->dataOffset) == getLe32(b->dataOffset);
}

int entryDataFits(const PackageEntry* entry)
{
    if (readerHandle == INVALID_FILE || !entry)
        return 0;
    int32_t offset = getLe32(entry->dataOffset);
    int32_t stored = getLe32(entry->storedSize);
    return offset >= 0 && stored >= 0 && (int64_t)offset + stored <= readerDataEnd;
}

PackageError entryProblem(const PackageEntry* entry)
{
    if (readerHandle == INVALID_FILE)
        return PACKAGE_NOT_OPEN;
    if (!entry)
        return PACKAGE_NO_SUCH_ENTRY;
    if (entry->mode != ENTRY_VALUE && !entryDataFits(entry))
        return PACKAGE_DAMAGED_ENTRY;   // no file is created for it, nothing is read
    return PACKAGE_OK;
}

PackageError seekEntryData(const PackageEntry* entry)
{
    return fileSeek(readerHandle, getLe32(entry->dataOffset)) ? PACKAGE_OK : PACKAGE_CANNOT_READ;
}
