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
#include "package/configpatch.h"
#include "package/operation.h"
#include "package/package_internal.h"

enum { FIRST_SLOT = PACKAGE_MAX_RECORDS - 1 };

static FileHandle writerHandle = INVALID_FILE;
static PackageEntry writerDirectory[PACKAGE_MAX_RECORDS];
static int writerRecordCount;
static int32_t writerPosition;
static char writerPath[FILE_PATH_SIZE];   // to delete a package whose directory failed
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
static int finishPackage(FileHandle handle)
{
    if (handle != writerHandle)
        return -1;
    int written = 1;
    if (writerRecordCount > 0) {
        int32_t bytes = writerRecordCount * ENTRY_SIZE;
        memcpy(directoryOut, recordNumber(writerRecordCount - 1), (size_t)bytes);
        setKey(PC1_DIRECTORY_KEY);
        crypt(directoryOut, bytes, 1);   // the whole directory is one stream
        written = fileWrite(writerHandle, directoryOut, bytes) == bytes;
    }
    fileClose(writerHandle);
    writerHandle = INVALID_FILE;
    registerPackageWriter(0);
    if (!written) {
        setPackageError(PACKAGE_CANNOT_WRITE);
        fileDelete(writerPath);   // a package without its directory must not look whole
    }
    return written;
}

// A path too long to be deleted again is refused.
static PackageError createFile(const char* path)
{
    size_t length = path ? strlen(path) : 0;
    if (!path || length >= sizeof writerPath)
        return PACKAGE_BAD_ARGUMENT;
    memcpy(writerPath, path, length + 1);
    writerHandle = createTargetFile(path);
    if (writerHandle == INVALID_FILE)
        return packageLastError();
    registerPackageWriter(finishPackage);
    return PACKAGE_OK;
}

FileHandle createPackage(const char* path)
{
    if (writerHandle != INVALID_FILE)
        closePackage(writerHandle);
    writerRecordCount = 0;
    writerPosition = 0;
    PackageError problem = beginOperation(PACKAGE_OK);
    if (problem == PACKAGE_OK)
        problem = createFile(path);
    endOperation(problem);
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

// Why the package being written cannot take what an operation adds: none is
// being written, or (records 1) no record is free.
static PackageError writerProblem(int records)
{
    if (writerHandle == INVALID_FILE)
        return PACKAGE_NOT_OPEN;
    if (records && !nextFreeRecord())
        return PACKAGE_DIRECTORY_FULL;
    return PACKAGE_OK;
}

// Moves the write position past count bytes written; the package must stay
// below 2 GB, where a record can address its data.
static PackageError advanceWriter(int32_t count)
{
    int64_t end = (int64_t)writerPosition + count;
    writerPosition = end > INT32_MAX ? INT32_MAX : (int32_t)end;
    return end > INT32_MAX ? PACKAGE_TOO_LARGE : PACKAGE_OK;
}

// Moves a new entry's data into the package being written. The write position
// passes what was written also when the transfer failed: those bytes stay in
// the file, without a record.
static PackageError writeEntryData(TransferEnd source, int32_t* count, TransferFlags flags)
{
    int moved = transferData(source, fileEnd(writerHandle), count, flags);
    PackageError problem = advanceWriter(*count);
    return problem != PACKAGE_OK ? problem : stepResult(moved);
}

static PackageError writeZeros(int32_t multiple)
{
    static const uint8_t zeros[8] = {0};
    if (multiple < 1 || multiple > (int32_t)sizeof zeros)
        return PACKAGE_BAD_ARGUMENT;
    int32_t count = (multiple - writerPosition % multiple) % multiple;
    if (fileWrite(writerHandle, zeros, count) != count)
        return PACKAGE_CANNOT_WRITE;
    return advanceWriter(count);
}

int padPackageData(int32_t multiple)
{
    PackageError problem = beginOperation(writerProblem(0));
    if (problem == PACKAGE_OK)
        problem = writeZeros(multiple);
    return endOperation(problem);
}

// What the record says about data that went through a transfer with these
// flags: decompressed data is stored plain (the decoder ignores the key).
static TransferFlags recordFlags(TransferFlags flags)
{
    if (flags & XFER_DECOMPRESS)
        return 0;
    return flags & (XFER_COMPRESS | XFER_KEY);
}

// An added file or memory block of size bytes, moved with the flags and
// recorded: extractedSize is the size unless the data was decompressed,
// patchOffset the position of an embedded configuration.
static PackageError addData(TransferEnd source, int32_t size, const char* name, TransferFlags flags)
{
    const int32_t offset = writerPosition;
    int32_t count = size;
    PackageError problem = writeEntryData(source, &count, flags);
    if (problem == PACKAGE_OK)
        appendRecord(name, recordFlags(flags), count, (flags & XFER_DECOMPRESS) ? count : size, offset,
                     configPatchPosition());
    return problem;
}

// A file to add, opened for reading, and its size.
static PackageError openSource(const char* path, FileHandle* source, int32_t* size)
{
    *source = fileOpenRead(path);
    if (*source == INVALID_FILE)
        return openFailure();
    *size = fileSize(*source);
    return *size < 0 ? PACKAGE_CANNOT_READ : PACKAGE_OK;
}

static PackageError addFromFile(const char* path, const char* name, TransferFlags flags)
{
    FileHandle source;
    int32_t size = 0;
    PackageError problem = openSource(path, &source, &size);
    if (problem == PACKAGE_OK) {
        if (beforeTransferHook)
            beforeTransferHook(source, size);
        if (flags & XFER_COMPRESS)
            flags &= ~(TransferFlags)XFER_KEY;   // the record's xorKey is 0
        problem = addData(fileEnd(source), size, name, flags);
        if (problem == PACKAGE_OK && afterTransferHook)
            afterTransferHook(source);
    }
    fileClose(source);
    return problem;
}

int addFile(const char* path, const char* name, TransferFlags flags)
{
    PackageError check = writerProblem(1);
    if (check == PACKAGE_OK && !path)
        check = PACKAGE_BAD_ARGUMENT;
    PackageError problem = beginOperation(check);
    if (problem == PACKAGE_OK)
        problem = addFromFile(path, name, flags);
    return endOperation(problem);
}

// The block stream is copied as it is and recorded as if compressed here.
static PackageError addBlockStream(const char* path, const char* name, int32_t extractedSize)
{
    FileHandle source;
    int32_t count = 0;
    PackageError problem = openSource(path, &source, &count);
    const int32_t offset = writerPosition;
    if (problem == PACKAGE_OK)
        problem = writeEntryData(fileEnd(source), &count, 0);
    if (problem == PACKAGE_OK)
        appendRecord(name, XFER_COMPRESS, count, extractedSize, offset, 0);
    fileClose(source);
    return problem;
}

int addPrecompressed(const char* path, const char* name, int32_t extractedSize)
{
    PackageError check = writerProblem(1);
    if (check == PACKAGE_OK && (!path || extractedSize < 0))
        check = PACKAGE_BAD_ARGUMENT;
    PackageError problem = beginOperation(check);
    if (problem == PACKAGE_OK)
        problem = addBlockStream(path, name, extractedSize);
    return endOperation(problem);
}

int addMemory(const void* source, int32_t size, const char* name, TransferFlags flags)
{
    PackageError problem = beginOperation(writerProblem(1));
    if (problem == PACKAGE_OK)
        problem = addData(memoryEnd(source), size, name, flags | XFER_FROM_MEMORY);
    return endOperation(problem);
}

// The first record carries the count in byte 0 and the magic that readers look
// for, both of which a value would overlay: a value is never first.
static PackageError valueProblem(void)
{
    PackageError problem = writerProblem(0);
    if (problem == PACKAGE_OK && writerRecordCount == 0)
        problem = PACKAGE_BAD_ARGUMENT;
    return problem == PACKAGE_OK ? writerProblem(1) : problem;
}

static void appendValue(const char* name, const uint8_t* bytes, int32_t length)
{
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
}

int addValue(const char* name, const uint8_t* bytes, int32_t length)
{
    PackageError problem = beginOperation(valueProblem());
    if (problem == PACKAGE_OK)
        appendValue(name, bytes, length);
    return endOperation(problem);
}

int copyValue(const char* name)
{
    PackageError check = entryProblem(findEntry(name, FIND_VALUE));
    PackageError problem = beginOperation(check == PACKAGE_OK ? valueProblem() : check);
    if (problem == PACKAGE_OK) {
        uint8_t value[ENTRY_VALUE_SIZE];
        int32_t length = 0;
        readValue(name, value, &length);
        appendValue(name, value, length);
    }
    return endOperation(problem);
}

// The first record of the name, in the order of appending, or null.
static PackageEntry* findWritten(const char* name)
{
    for (int r = 0; r < writerRecordCount; r++)
        if (entryNameEquals(recordNumber(r), name))
            return recordNumber(r);
    return 0;
}

// Why the package being written has no record of that name to alias or
// rename; PACKAGE_OK with the record in *found.
static PackageError writtenProblem(const char* name, PackageEntry** found)
{
    PackageError problem = writerProblem(0);
    *found = problem == PACKAGE_OK ? findWritten(name) : 0;
    if (problem == PACKAGE_OK && !*found)
        problem = PACKAGE_NO_SUCH_ENTRY;
    return problem;
}

int aliasEntry(const char* newName, const char* existingName)
{
    PackageEntry* found;
    PackageError check = writtenProblem(existingName, &found);
    PackageError problem = beginOperation(check == PACKAGE_OK ? writerProblem(1) : check);
    if (problem == PACKAGE_OK) {
        PackageEntry* slot = nextFreeRecord();
        memcpy(slot, found, sizeof *slot);
        setEntryName(slot, newName);
        countRecord();
    }
    return endOperation(problem);
}

int renameEntry(const char* existingName, const char* newName)
{
    PackageEntry* found;
    PackageError problem = beginOperation(writtenProblem(existingName, &found));
    if (problem == PACKAGE_OK)
        setEntryName(found, newName);
    return endOperation(problem);
}

// How copyEntry moves an entry, by what the caller asks of the copy (the row)
// and whether the entry is compressed or stored (the column). The entry's own
// key k is the only key: a caller's key byte is ignored.
enum CopyAction {
    COPY_AS_IS,         // nothing asked: the stored bytes as they are
    COPY_UNSCRAMBLED,   // XFER_UNSCRAMBLE: plain bytes out
    COPY_PATCHED,       // XFER_PATCH: the filter must see plain bytes
    COPY_CONVERTED,     // XFER_COMPRESS of a stored entry, XFER_DECOMPRESS of a compressed one
    COPY_ACTIONS
};
enum {
    MOVE_KEY = 0x01,            // the transfer applies k
    MOVE_FILTER_PLAIN = 0x02,   // ... around the filter, so the copy keeps it (XFER_FILTER_PLAIN)
    MOVE_NO_UNSCRAMBLE = 0x04,  // XFER_UNSCRAMBLE dropped: the codec sees the data whole
    RECORD_COMPRESSED = 0x10,   // the new record is compressed ...
    RECORD_ENTRY_KEY = 0x20     // ... and keeps the entry's xorKey
};
static const uint8_t copyRules[COPY_ACTIONS][2] = {
    //  compressed entry                       stored entry
    {RECORD_COMPRESSED | RECORD_ENTRY_KEY, RECORD_ENTRY_KEY},
    {RECORD_COMPRESSED | RECORD_ENTRY_KEY, MOVE_KEY},                        // nothing to unscramble
    {RECORD_COMPRESSED | RECORD_ENTRY_KEY, MOVE_KEY | MOVE_FILTER_PLAIN | RECORD_ENTRY_KEY},
    {MOVE_NO_UNSCRAMBLE, MOVE_KEY | MOVE_NO_UNSCRAMBLE | RECORD_COMPRESSED},  // k removed before compressing
};

static PackageError copyData(const char* name, const PackageEntry* entry, TransferFlags flags)
{
    const int stored = entry->mode == ENTRY_STORED;
    // What cannot apply is dropped: stored data is not decompressed, nor compressed data compressed.
    const TransferFlags convert = stored ? XFER_COMPRESS : XFER_DECOMPRESS;
    TransferFlags move = flags & ~(TransferFlags)(XFER_KEY | (stored ? XFER_DECOMPRESS : XFER_COMPRESS));
    const int action = (move & convert)             ? COPY_CONVERTED
                       : (move & XFER_UNSCRAMBLE) ? COPY_UNSCRAMBLED
                       : (move & XFER_PATCH)      ? COPY_PATCHED
                                                  : COPY_AS_IS;
    const uint8_t rule = copyRules[action][stored];
    if (rule & MOVE_KEY)
        move |= entry->xorKey;
    if (rule & MOVE_FILTER_PLAIN)
        move |= XFER_FILTER_PLAIN;
    if (rule & MOVE_NO_UNSCRAMBLE)
        move &= ~(TransferFlags)XFER_UNSCRAMBLE;
    const TransferFlags kept = ((rule & RECORD_COMPRESSED) ? (TransferFlags)XFER_COMPRESS : 0) |
                               ((rule & RECORD_ENTRY_KEY) ? entry->xorKey : 0);

    const int32_t offset = writerPosition;
    int32_t count = getLe32(entry->storedSize);
    PackageError problem = seekEntryData(entry);
    if (problem == PACKAGE_OK)
        problem = writeEntryData(fileEnd(packageReaderHandle()), &count, move);
    if (problem == PACKAGE_OK)
        appendRecord(name, kept, count, getLe32(entry->extractedSize), offset, getLe32(entry->patchOffset));
    return problem;
}

int copyEntry(const char* name, TransferFlags flags)
{
    PackageEntry* entry = findEntry(name, FIND_DATA);
    PackageError check = writerProblem(1);
    PackageError problem = beginOperation(check == PACKAGE_OK ? entryProblem(entry) : check);
    if (problem == PACKAGE_OK)
        problem = copyData(name, entry, flags);
    return endOperation(problem);
}
