// writer.cpp - the package writer.
//
// Writer states:
//   idle    - writerHandle invalid.
//   writing - writerHandle valid; writerPosition is the file's write position and
//             the next record's dataOffset. createPackage enters it (finishing any
//             package in progress), closePackage leaves it.
// Record r (r = 0 for the first appended) lives in slot 30 - r, so the newest
// writerRecordCount slots at the end of writerDirectory are the directory as
// it goes into the file, newest record first, and the file's last record is
// the first one appended: its byte 0 carries the count.
#include "package/writer.h"

#include <string.h>

#include "coding/pc1.h"
#include "package/package_internal.h"

enum { FIRST_SLOT = PACKAGE_MAX_RECORDS - 1 };

static FileHandle writerHandle = INVALID_FILE;
static PackageEntry writerDirectory[PACKAGE_MAX_RECORDS];
static int writerRecordCount;
static int32_t writerPosition;
static char writerPath[PACKAGE_PATH_SIZE];   // to delete a package whose directory failed
// The directory is enciphered in a copy, so the records stay readable in memory.
static uint8_t directoryOut[PACKAGE_MAX_RECORDS * ENTRY_SIZE];

FileHandle packageWriterHandle(void)
{
    return writerHandle;
}

static PackageEntry* recordNumber(int r)
{
    return &writerDirectory[FIRST_SLOT - r];
}

static void countRecord(void)
{
    writerRecordCount++;
    recordNumber(0)->inlineLength = (int8_t)writerRecordCount;
}

// Registered with the reader while a package is being written.
static int finishPackage(void)
{
    int result = 1;
    if (writerRecordCount > 0) {
        int32_t bytes = writerRecordCount * ENTRY_SIZE;
        memcpy(directoryOut, recordNumber(writerRecordCount - 1), (size_t)bytes);
        setKey(PC1_DIRECTORY_KEY);
        crypt(directoryOut, bytes, 1);   // the whole directory is one stream
        result = fileWrite(writerHandle, directoryOut, bytes) == bytes;
    }
    fileClose(writerHandle);
    writerHandle = INVALID_FILE;
    registerPackageWriter(INVALID_FILE, 0);
    if (!result)
        setPackageError(PACKAGE_CANNOT_WRITE);
    if (!result)
        fileDelete(writerPath);   // a package without its directory must not look whole
    return result;
}

FileHandle createPackage(const char* path)
{
    initPackageLibrary();
    if (writerHandle != INVALID_FILE)
        closePackage(writerHandle);
    writerRecordCount = 0;
    writerPosition = 0;
    if (failureLatch())
        setPackageError(PACKAGE_STOPPED);
    if (!failureLatch()) {
        size_t length = path ? strlen(path) : 0;
        if (path && length < sizeof writerPath) {   // a path we could not delete is refused
            memcpy(writerPath, path, length + 1);
            writerHandle = createTargetFile(path);
        } else {
            setPackageError(PACKAGE_BAD_ARGUMENT);
        }
        if (writerHandle != INVALID_FILE)
            registerPackageWriter(writerHandle, finishPackage);
        updateLatch(writerHandle != INVALID_FILE);
    }
    confirmOverwriteHook = 0;
    return writerHandle;
}

PackageEntry* nextFreeRecord(void)
{
    return writerRecordCount < PACKAGE_MAX_RECORDS ? recordNumber(writerRecordCount) : 0;
}

void appendRecord(const char* name, TransferFlags flags, int32_t stored, int32_t extracted,
                  int32_t offset, int32_t patch)
{
    PackageEntry* entry = nextFreeRecord();
    if (!entry)
        return;
    memset(entry, 0, sizeof *entry);
    setEntryName(entry, name);
    entry->mode = (flags & XFER_COMPRESS) ? ENTRY_COMPRESSED : ENTRY_STORED;
    entry->xorKey = (uint8_t)(flags & XFER_KEY);
    putLe32(entry->dataOffset, (uint32_t)offset);
    putLe32(entry->storedSize, (uint32_t)stored);
    putLe32(entry->extractedSize, (uint32_t)extracted);
    putLe32(entry->patchOffset, (uint32_t)((patch != 0 && patch < extracted) ? patch : -1));
    entry->recordLength = ENTRY_SIZE;
    putLe32(entry->magic, ENTRY_MAGIC);
    countRecord();
}

// Moves the write position past count bytes written; 0 when the package would
// pass 2 GB, where no record can address its data.
static int advanceWriter(int32_t count)
{
    int64_t end = (int64_t)writerPosition + count;
    writerPosition = end > INT32_MAX ? INT32_MAX : (int32_t)end;
    if (end > INT32_MAX)
        setPackageError(PACKAGE_TOO_LARGE);
    return end <= INT32_MAX;
}

int padPackageData(int32_t multiple)
{
    static const uint8_t zeros[8] = {0};
    if (writerHandle == INVALID_FILE) {
        setPackageError(PACKAGE_NOT_OPEN);
        return 0;
    }
    if (multiple < 1 || multiple > (int32_t)sizeof zeros) {
        setPackageError(PACKAGE_BAD_ARGUMENT);
        return 0;
    }
    int32_t count = (multiple - writerPosition % multiple) % multiple;
    if (fileWrite(writerHandle, zeros, count) != count) {
        setPackageError(PACKAGE_CANNOT_WRITE);
        return 0;
    }
    return advanceWriter(count);
}

// Why an add or copy cannot start: latched, no package being written, or no
// room for a record; PACKAGE_OK when it can.
static PackageError cannotAdd(void)
{
    if (failureLatch())
        return PACKAGE_STOPPED;
    if (writerHandle == INVALID_FILE)
        return PACKAGE_NOT_OPEN;
    if (!nextFreeRecord())
        return PACKAGE_DIRECTORY_FULL;
    return PACKAGE_OK;
}

// Keeps the reason an operation cannot start; returns the failure result.
static int refuse(PackageError problem)
{
    setPackageError(problem);
    return 0;
}

// What the record says about data that went through a transfer with these
// flags: decompressed data is stored plain (the decoder ignores the key).
static TransferFlags recordFlags(TransferFlags flags)
{
    if (flags & XFER_DECOMPRESS)
        return 0;
    return flags & (XFER_COMPRESS | XFER_KEY);
}

int addFile(const char* path, const char* name, TransferFlags flags)
{
    initPackageLibrary();
    int result = 0;
    if (!failureLatch()) {
        FileHandle source = INVALID_FILE;
        PackageError problem = cannotAdd();
        if (problem == PACKAGE_OK && !path)
            problem = PACKAGE_BAD_ARGUMENT;
        if (problem == PACKAGE_OK) {
            source = fileOpenRead(path);
            if (source == INVALID_FILE)
                problem = openFailure();
        }
        int32_t size = source != INVALID_FILE ? fileSize(source) : -1;
        if (problem == PACKAGE_OK && size < 0)
            problem = PACKAGE_CANNOT_READ;
        if (problem != PACKAGE_OK)
            setPackageError(problem);
        if (size >= 0) {
            int32_t offset = writerPosition;
            int32_t count = size;
            if (beforeTransferHook)
                beforeTransferHook(source, size);
            resetConfigPatchPosition();
            if (flags & XFER_COMPRESS)
                flags &= ~(TransferFlags)XFER_KEY;   // the record's xorKey is 0
            result = transferData(fileEnd(source), fileEnd(writerHandle), &count, flags);
            if (!advanceWriter(count))   // failed bytes stay in the file, without a record
                result = 0;
            if (result && afterTransferHook)
                afterTransferHook(source);
            if (result)
                appendRecord(name, recordFlags(flags), count,
                             (flags & XFER_DECOMPRESS) ? count : size, offset, configPatchPosition());
        }
        fileClose(source);
        disarmConfigPatch();
        updateLatch(result);
    } else {
        setPackageError(PACKAGE_STOPPED);
    }
    beforeTransferHook = 0;
    afterTransferHook = 0;
    return result;
}

int addPrecompressed(const char* path, const char* name, int32_t extractedSize)
{
    initPackageLibrary();
    if (cannotAdd() != PACKAGE_OK)
        return refuse(cannotAdd());
    if (!path || extractedSize < 0)
        return refuse(PACKAGE_BAD_ARGUMENT);
    FileHandle source = fileOpenRead(path);
    if (source == INVALID_FILE)
        return refuse(openFailure());
    int32_t count = fileSize(source);
    int result = 0;
    if (count < 0) {
        setPackageError(PACKAGE_CANNOT_READ);
    } else {
        int32_t offset = writerPosition;
        result = transferData(fileEnd(source), fileEnd(writerHandle), &count, 0);
        if (!advanceWriter(count))
            result = 0;
        if (result)
            appendRecord(name, XFER_COMPRESS, count, extractedSize, offset, 0);
    }
    fileClose(source);
    updateLatch(result);
    return result;
}

int addMemory(const void* source, int32_t size, const char* name, TransferFlags flags)
{
    initPackageLibrary();
    if (cannotAdd() != PACKAGE_OK)
        return refuse(cannotAdd());
    int32_t offset = writerPosition;
    int32_t count = size;
    resetConfigPatchPosition();
    int result = transferData(memoryEnd(source), fileEnd(writerHandle), &count, flags | XFER_FROM_MEMORY);
    if (!advanceWriter(count))
        result = 0;
    if (result)
        appendRecord(name, recordFlags(flags), count, (flags & XFER_DECOMPRESS) ? count : size, offset,
                     configPatchPosition());
    disarmConfigPatch();
    updateLatch(result);
    return result;
}

// The first record carries the count in byte 0 and the magic that readers look
// for, both of which a value would overlay: a value is never first.
int addValue(const char* name, const uint8_t* bytes, int32_t length)
{
    if (writerHandle == INVALID_FILE)
        return refuse(PACKAGE_NOT_OPEN);
    if (writerRecordCount == 0)
        return refuse(PACKAGE_BAD_ARGUMENT);
    if (!nextFreeRecord())
        return refuse(PACKAGE_DIRECTORY_FULL);
    appendRecord(name, 0, 0, 0, 0, 0);
    PackageEntry* entry = recordNumber(writerRecordCount - 1);
    if (length < 0 || !bytes)
        length = 0;
    if (length > ENTRY_VALUE_SIZE)
        length = ENTRY_VALUE_SIZE;
    entry->inlineLength = (int8_t)length;
    if (length > 0)
        memcpy(entryInlineValue(entry), bytes, (size_t)length);
    entry->mode = ENTRY_VALUE;
    return 1;
}

int copyValue(const char* name)
{
    initPackageLibrary();
    if (failureLatch())
        return refuse(PACKAGE_STOPPED);
    uint8_t value[ENTRY_VALUE_SIZE];
    int32_t length = 0;
    int found = readValue(name, value, &length);
    if (!found)
        setPackageError(packageReaderHandle() == INVALID_FILE ? PACKAGE_NOT_OPEN : PACKAGE_NO_SUCH_ENTRY);
    int result = found && addValue(name, value, length);
    updateLatch(result);
    return result;
}

// The first record of the name, in the order of appending, or null.
static PackageEntry* findWritten(const char* name)
{
    for (int r = 0; r < writerRecordCount; r++)
        if (entryNameEquals(recordNumber(r), name))
            return recordNumber(r);
    return 0;
}

int aliasEntry(const char* newName, const char* existingName)
{
    if (failureLatch() || writerHandle == INVALID_FILE)
        return refuse(failureLatch() ? PACKAGE_STOPPED : PACKAGE_NOT_OPEN);
    PackageEntry* found = findWritten(existingName);
    PackageEntry* slot = nextFreeRecord();
    if (!found || !slot)
        return refuse(found ? PACKAGE_DIRECTORY_FULL : PACKAGE_NO_SUCH_ENTRY);
    memcpy(slot, found, sizeof *slot);
    setEntryName(slot, newName);
    countRecord();
    return 1;
}

int renameEntry(const char* existingName, const char* newName)
{
    if (failureLatch() || writerHandle == INVALID_FILE)
        return refuse(failureLatch() ? PACKAGE_STOPPED : PACKAGE_NOT_OPEN);
    PackageEntry* found = findWritten(existingName);
    if (!found)
        return refuse(PACKAGE_NO_SUCH_ENTRY);
    setEntryName(found, newName);
    return 1;
}

int copyEntry(const char* name, TransferFlags flags)
{
    initPackageLibrary();
    if (failureLatch())
        return refuse(PACKAGE_STOPPED);
    int result = 0;
    PackageEntry* entry = findEntry(name, FIND_DATA);
    if (cannotAdd() != PACKAGE_OK)
        setPackageError(cannotAdd());
    else if (!entry)
        setPackageError(packageReaderHandle() == INVALID_FILE ? PACKAGE_NOT_OPEN : PACKAGE_NO_SUCH_ENTRY);
    else if (!entryDataFits(entry))
        setPackageError(PACKAGE_DAMAGED_ENTRY);
    if (entry && writerHandle != INVALID_FILE && nextFreeRecord() && entryDataFits(entry)) {
        const int stored = entry->mode == ENTRY_STORED;
        const uint8_t key = stored ? entry->xorKey : 0;   // compressed data is never keyed
        TransferFlags f = flags & ~(TransferFlags)XFER_KEY;   // the key always comes from the entry
        // What cannot apply is dropped: stored data is not decompressed, nor compressed data compressed.
        if (stored)
            f &= ~(TransferFlags)XFER_DECOMPRESS;
        else
            f &= ~(TransferFlags)XFER_COMPRESS;
        TransferFlags t = f;
        if (!(f & (XFER_COMPRESS | XFER_DECOMPRESS))) {
            if (f & XFER_UNSCRAMBLE)
                t |= key;                         // the copy comes out plain
            else if ((f & XFER_PATCH) && key)
                t |= key | XFER_FILTER_PLAIN;     // the filter sees plain bytes, the copy keeps the key
        } else {
            t &= ~(TransferFlags)XFER_UNSCRAMBLE;
            if (t & XFER_COMPRESS)
                t |= key;                         // unscrambled before it is compressed
        }
        // The new record's mode and key.
        TransferFlags kept;
        if (t & XFER_COMPRESS)
            kept = XFER_COMPRESS;
        else if ((t & XFER_DECOMPRESS) || ((t & XFER_UNSCRAMBLE) && stored))
            kept = 0;
        else
            kept = (stored ? 0u : (TransferFlags)XFER_COMPRESS) | entry->xorKey;

        int32_t offset = writerPosition;
        int32_t count = getLe32(entry->storedSize);
        FileHandle package = packageReaderHandle();
        if (fileSeek(package, getLe32(entry->dataOffset))) {
            result = transferData(fileEnd(package), fileEnd(writerHandle), &count, t);
            if (!advanceWriter(count))
                result = 0;
        } else {
            setPackageError(PACKAGE_CANNOT_READ);
        }
        if (result)
            appendRecord(name, kept, count, getLe32(entry->extractedSize), offset,
                         getLe32(entry->patchOffset));
    }
    disarmConfigPatch();
    updateLatch(result);
    return result;
}
