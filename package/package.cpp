// package.cpp - the package directory and reader, the stop-after-failure latch
// and the output-file creation that every package operation shares.
//
// Reader states:
//   closed  - readerHandle invalid; lookups find nothing.
//   open    - readerHandle valid; readerDirectory holds the deciphered records of
//             the open package at its end. openPackage always passes through closed.
#include "package/package.h"

#include <string.h>

#include "app/nocase.h"
#include "coding/codingerror.h"
#include "coding/pc1.h"
#include "package/package_internal.h"
#include "package/peimage.h"

// Every slot a directory can have: k = size / 40 records are read, at most 32,
// though a package holds at most 31 (the count byte keeps five bits).
enum { DIRECTORY_SLOTS = 32, LAST_SLOT = DIRECTORY_SLOTS - 1 };

// All state is constant-initialised: handles invalid, hooks unset, latch clear.
static FileHandle readerHandle = INVALID_FILE;
static PackageEntry readerDirectory[DIRECTORY_SLOTS];
static uint8_t directoryRead[DIRECTORY_SLOTS * ENTRY_SIZE];   // as read: each trial deciphers a copy
static int readerEntryCount;
static int32_t readerDataEnd;        // where the open package's directory begins
static int32_t presetSize;           // 0, or the size the next open uses
static int stopOnError;
static int latch;

// The package being written and how to finish it, registered by the writer:
// closePackage finishes it without the reader calling into the writer.
static FileHandle writerHandle = INVALID_FILE;
static WriterFinish writerFinish;

ConfirmOverwriteHook confirmOverwriteHook;
BeforeTransferHook beforeTransferHook;
AfterTransferHook afterTransferHook;

uint8_t* entryInlineValue(PackageEntry* entry)
{
    return entry->storedSize;   // the value overlays the record from offset 23 on
}

// The stored name ends at its first NUL or at the end of its 16-byte field; the
// comparison never leaves the field (a 16-character name has no terminator).
int entryNameEquals(const PackageEntry* entry, const char* name)
{
    if (!name)
        return 0;
    for (int i = 0; i < ENTRY_NAME_SIZE; i++) {
        if (lowerAscii(entry->name[i]) != lowerAscii(name[i]))
            return 0;
        if (name[i] == 0)
            return 1;
    }
    return name[ENTRY_NAME_SIZE] == 0;
}

void setEntryName(PackageEntry* entry, const char* name)
{
    memset(entry->name, 0, sizeof entry->name);
    for (int i = 0; name && i < ENTRY_NAME_SIZE && name[i]; i++)
        entry->name[i] = name[i];
}

void initPackageLibrary(void)
{
    // Nothing is left to do at run time: every handle starts invalid and every
    // hook unset through constant initialisation, so the state is ready before
    // any code runs and a hook set before the first operation is not lost.
}

void setStopOnError(int on)
{
    latch = 0;
    stopOnError = on != 0;
}

int failureLatch(void)
{
    return latch;
}

void updateLatch(int result)
{
    latch = !result && stopOnError;
}

PackageError openFailure(void)
{
    return codingLastError() == CODING_NO_SUCH_FILE ? PACKAGE_NO_SUCH_FILE : PACKAGE_CANNOT_OPEN;
}

FileHandle createTargetFile(const char* path)
{
    if (!path) {
        setPackageError(PACKAGE_BAD_ARGUMENT);
        return INVALID_FILE;
    }
    FileHandle file;
    int exists = 0;
    if (!confirmOverwriteHook) {
        file = fileCreate(path, 0, 0);
    } else {
        file = fileCreate(path, 1, &exists);
        if (file == INVALID_FILE && exists) {
            if (!confirmOverwriteHook(path)) {
                setPackageError(PACKAGE_OVERWRITE_REFUSED);
                return INVALID_FILE;
            }
            file = fileCreate(path, 0, 0);
        }
    }
    if (file == INVALID_FILE)
        setPackageError(PACKAGE_CANNOT_CREATE_TARGET);
    return file;
}

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
static int readDirectory(FileHandle file, int32_t size)
{
    if (size < 0) {
        setPackageError(PACKAGE_CANNOT_READ);
        return 0;
    }
    setPackageError(PACKAGE_NO_DIRECTORY);   // unless one is found below
    if (size < ENTRY_SIZE)
        return 0;
    int32_t k = size / ENTRY_SIZE;
    if (k > DIRECTORY_SLOTS)
        k = DIRECTORY_SLOTS;
    int32_t bytes = k * ENTRY_SIZE;
    if (!fileSeek(file, size - bytes) ||
        fileRead(file, directoryRead + (DIRECTORY_SLOTS - k) * ENTRY_SIZE, bytes) != bytes) {
        setPackageError(PACKAGE_CANNOT_READ);
        return 0;
    }
    int32_t firstMagic = 0;
    for (int32_t records = 1; records <= k; records++) {
        if (trialShowsMagic(records)) {
            if ((readerDirectory[LAST_SLOT].inlineLength & 0x1F) == records) {
                takeDirectory(size, records);
                setPackageError(PACKAGE_OK);
                return 1;
            }
            if (!firstMagic)
                firstMagic = records;
        }
    }
    if (!firstMagic)
        return 0;
    trialShowsMagic(firstMagic);
    takeDirectory(size, firstMagic);
    setPackageError(PACKAGE_OK);
    return 1;
}

FileHandle openPackage(const char* path)
{
    initPackageLibrary();
    if (readerHandle != INVALID_FILE)
        closePackage(readerHandle);
    if (latch) {
        setPackageError(PACKAGE_STOPPED);
        return INVALID_FILE;
    }
    char ownPath[PACKAGE_PATH_SIZE];
    if (!path && getModulePath(ownPath, sizeof ownPath))
        path = ownPath;
    FileHandle file = path ? fileOpenRead(path) : INVALID_FILE;
    if (file == INVALID_FILE)
        setPackageError(path ? openFailure() : PACKAGE_CANNOT_OPEN);
    if (file != INVALID_FILE) {
        int32_t size = presetSize;
        presetSize = 0;
        if (!size) {
            // A signer appends its certificate table to the program: the
            // package then ends where the table starts.
            PeSignature signature;
            if (findPackageEnd(file, fileSize(file), &size, &signature) == SIGNATURE_MISPLACED)
                setPackageError(PACKAGE_BAD_SIGNATURE);
        }
        if (size >= 0 && readDirectory(file, size))
            readerHandle = file;
        else
            fileClose(file);
    }
    updateLatch(readerHandle != INVALID_FILE);
    return readerHandle;
}

int closePackage(FileHandle handle)
{
    initPackageLibrary();
    if (handle == INVALID_FILE)
        return 0;
    if (handle == readerHandle) {
        fileClose(readerHandle);
        readerHandle = INVALID_FILE;
        return 1;
    }
    if (handle == writerHandle && writerFinish)
        return writerFinish();
    setPackageError(PACKAGE_NOT_OPEN);
    return 0;
}

void registerPackageWriter(FileHandle handle, WriterFinish finish)
{
    writerHandle = handle;
    writerFinish = finish;
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
