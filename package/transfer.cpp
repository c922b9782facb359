// transfer.cpp - the transfer engine and the extraction of entries from the
// open package.
#include "package/transfer.h"

#include <string.h>

#include "coding/blockstream.h"
#include "coding/codingerror.h"
#include "package/configpatch.h"
#include "package/operation.h"
#include "package/package.h"
#include "package/package_internal.h"
#include "package/peimage.h"

// One buffer for every plain copy: one read and one write per 16 KB.
static uint8_t chunkBuffer[COPY_CHUNK_SIZE];
static int copyFilterOn;
static FileHandle sharedTarget = INVALID_FILE;

// Why the running transfer failed; set where it failed, reported at its end.
static PackageError transferProblem;

static int failTransfer(PackageError problem)
{
    if (transferProblem == PACKAGE_OK)
        transferProblem = problem;
    return 0;
}

// What a failed run of the block stream means for the package operation.
static PackageError fromCodingError(CodingError error)
{
    switch (error) {
    case CODING_CANNOT_WRITE: return PACKAGE_CANNOT_WRITE;
    case CODING_OUTPUT_FULL: return PACKAGE_TOO_SMALL;
    case CODING_SOURCE_SHORT: return PACKAGE_CANNOT_READ;
    case CODING_NO_ENCODER: return PACKAGE_NO_COMPRESSION;
    case CODING_ABORTED: return PACKAGE_ABORTED;
    case CODING_BAD_SIZE: return PACKAGE_BAD_ARGUMENT;
    default: return PACKAGE_DAMAGED_ENTRY;   // the blocks or the coded data
    }
}

TransferEnd fileEnd(FileHandle file)
{
    TransferEnd end = {file, 0};
    return end;
}

TransferEnd memoryEnd(const void* memory)
{
    // The engine writes only through a sink; a source's memory is only read.
    TransferEnd end = {INVALID_FILE, (uint8_t*)memory};
    return end;
}

void xorBytes(uint8_t* buffer, int32_t length, uint8_t key)
{
    if (key == 0)
        return;
    for (int32_t i = 0; i < length; i++)
        buffer[i] ^= key;
}

// Where a plain copy applies its key around the filter, by XFER_UNSCRAMBLE
// (bit 0) and XFER_FILTER_PLAIN (bit 1) of its flags: before the filter (which
// then sees plain bytes), after it (the output is scrambled), or both.
enum { KEY_BEFORE = 1, KEY_AFTER = 2 };
static const uint8_t keyPlacement[4] = {
    KEY_AFTER,                // neither: plain input comes out scrambled
    KEY_BEFORE,               // unscramble: scrambled input comes out plain
    KEY_BEFORE | KEY_AFTER,   // filter plain: the filter sees plain bytes, the output keeps the key
    KEY_BEFORE,               // both: unscramble wins
};

static int copyChunks(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags)
{
    int32_t remaining = *count;
    *count = 0;
    const uint8_t key = (uint8_t)(flags & XFER_KEY);
    const int placement = keyPlacement[((flags & XFER_UNSCRAMBLE) ? 1 : 0) | ((flags & XFER_FILTER_PLAIN) ? 2 : 0)];
    const uint8_t keyBefore = (placement & KEY_BEFORE) ? key : 0;
    const uint8_t keyAfter = (placement & KEY_AFTER) ? key : 0;
    const uint8_t* from = source.memory;
    uint8_t* to = sink.memory;
    if (remaining < 0 || ((flags & XFER_FROM_MEMORY) && !from) || ((flags & XFER_TO_MEMORY) && !to))
        return failTransfer(PACKAGE_BAD_ARGUMENT);
    while (remaining != 0) {
        int32_t chunk = remaining < COPY_CHUNK_SIZE ? remaining : COPY_CHUNK_SIZE;
        remaining -= chunk;
        if (flags & XFER_FROM_MEMORY) {
            memcpy(chunkBuffer, from, (size_t)chunk);
            from += chunk;
        } else if (fileRead(source.file, chunkBuffer, chunk) != chunk) {
            return failTransfer(PACKAGE_CANNOT_READ);   // cut short: what was written stays
        }
        xorBytes(chunkBuffer, chunk, keyBefore);
        if (copyFilterOn && dataFilterHook)
            copyFilterOn = dataFilterHook(chunkBuffer, chunk);
        // A copy of a signed program is no longer covered by its signature:
        // its headers, all in the first chunk, lose the table's directory
        // entry and the checksum, so it reads as a clean unsigned program.
        if ((flags & XFER_UNSIGN) && *count == 0)
            clearSignatureFields(chunkBuffer, chunk);
        xorBytes(chunkBuffer, chunk, keyAfter);
        if (flags & XFER_TO_MEMORY) {
            memcpy(to, chunkBuffer, (size_t)chunk);
            to += chunk;
            *count += chunk;
        } else {
            int32_t written = fileWrite(sink.file, chunkBuffer, chunk);
            *count += written;
            if (written != chunk)
                return failTransfer(PACKAGE_CANNOT_WRITE);
        }
    }
    return 1;
}

static int decompressData(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags)
{
    int32_t room = *count;
    *count = 0;
    if (flags & XFER_FROM_MEMORY)
        return failTransfer(PACKAGE_BAD_ARGUMENT);   // the block stream reads only files
    if (flags & XFER_TO_MEMORY) {
        if (!sink.memory || room < 0)
            return failTransfer(PACKAGE_BAD_ARGUMENT);
        memorySink = sink.memory;
        memorySinkCapacity = room;
    }
    int result = decompressStream(source.file, sink.file);
    if (!result)
        failTransfer(fromCodingError(codingLastError()));
    *count = totalWritten;
    memorySink = 0;
    memorySinkCapacity = 0;
    return result;
}

static int compressData(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags)
{
    int32_t size = *count;
    *count = 0;
    if ((flags & (XFER_FROM_MEMORY | XFER_TO_MEMORY)) || size < 0)
        return failTransfer(PACKAGE_BAD_ARGUMENT);   // the block stream compresses from file to file only
    inputXorKey = (uint16_t)(flags & XFER_KEY);   // scrambled input is compressed unscrambled
    int result = compressIfEnabled(source.file, sink.file, size);   // the program may have no encoder
    if (!result)
        failTransfer(fromCodingError(codingLastError()));
    *count = totalWritten;
    return result;
}

int transferData(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags)
{
    const int patching = (flags & XFER_PATCH) != 0;
    copyFilterOn = readFilterOn = writeFilterOn = patching;
    startConfigPatch(patching);
    transferProblem = PACKAGE_OK;
    if (patching)
        dataFilterHook = configPatchFilter;
    int result;
    if (flags & XFER_DECOMPRESS)
        result = decompressData(source, sink, count, flags);
    else if (flags & XFER_COMPRESS)
        result = compressData(source, sink, count, flags);
    else
        result = copyChunks(source, sink, count, flags);
    if (!configPatchComplete())
        result = failTransfer(PACKAGE_PATCH_FAILED);
    if (!result)
        setPackageError(transferProblem);
    dataFilterHook = 0;
    copyFilterOn = readFilterOn = writeFilterOn = 0;
    inputXorKey = 0;
    disarmConfigPatch();
    return result;
}

// Stored entries come back through their key, compressed ones through the decoder.
static TransferFlags readBackFlags(const PackageEntry* entry)
{
    return entry->mode == ENTRY_STORED ? (TransferFlags)entry->xorKey : (TransferFlags)XFER_DECOMPRESS;
}

// An entry found as a value (entryProblem passed) into the target.
static PackageError extractValue(const char* name, FileHandle target)
{
    uint8_t value[ENTRY_VALUE_SIZE];
    int32_t length = 0;
    readValue(name, value, &length);
    return (length == 0 || fileWrite(target, value, length) == length) ? PACKAGE_OK : PACKAGE_CANNOT_WRITE;
}

static PackageError extractData(const PackageEntry* entry, FileHandle target)
{
    PackageError problem = seekEntryData(entry);
    if (problem != PACKAGE_OK)
        return problem;
    int32_t count = getLe32(entry->storedSize);
    if (beforeTransferHook)
        beforeTransferHook(target, count);
    return stepResult(transferData(fileEnd(packageReaderHandle()), fileEnd(target), &count, readBackFlags(entry)));
}

// Into the shared target, or into a file of its own that it closes.
static PackageError extractEntry(const char* name, const PackageEntry* entry, const char* path)
{
    FileHandle target = sharedTarget != INVALID_FILE ? sharedTarget : createTargetFile(path);
    if (target == INVALID_FILE)
        return packageLastError();
    PackageError problem = entry->mode == ENTRY_VALUE ? extractValue(name, target) : extractData(entry, target);
    if (target != sharedTarget) {
        if (problem == PACKAGE_OK && afterTransferHook)
            afterTransferHook(target);
        fileClose(target);
    }
    return problem;
}

int extractToFile(const char* name, const char* path)
{
    PackageEntry* entry = findEntry(name, FIND_DATA | FIND_VALUE);
    PackageError check = entryProblem(entry);
    if (check == PACKAGE_OK && sharedTarget == INVALID_FILE && !path)
        check = PACKAGE_BAD_ARGUMENT;
    PackageError problem = beginOperation(check);
    if (problem == PACKAGE_OK)
        problem = extractEntry(name, entry, path);
    return endOperation(problem);
}

// A stored entry may be cut at the capacity; a compressed one is decoded
// whole or not at all.
static PackageError extractIntoMemory(const PackageEntry* entry, uint8_t* destination, int32_t capacity)
{
    const int32_t extracted = getLe32(entry->extractedSize);
    const int stored = entry->mode == ENTRY_STORED;
    if (!destination || capacity < 0)
        return PACKAGE_BAD_ARGUMENT;
    if (!stored && !(extracted >= 0 && extracted <= capacity))
        return PACKAGE_TOO_SMALL;
    PackageError problem = seekEntryData(entry);
    if (problem != PACKAGE_OK)
        return problem;
    int32_t count = capacity;   // compressed: the room the decoder may fill
    if (stored && getLe32(entry->storedSize) < capacity)
        count = getLe32(entry->storedSize);
    return stepResult(transferData(fileEnd(packageReaderHandle()), memoryEnd(destination), &count,
                                   readBackFlags(entry) | XFER_TO_MEMORY));
}

int extractToMemory(const char* name, uint8_t* destination, int32_t capacity)
{
    PackageEntry* entry = findEntry(name, FIND_DATA);
    PackageError problem = beginOperation(entryProblem(entry));
    if (problem == PACKAGE_OK)
        problem = extractIntoMemory(entry, destination, capacity);
    return endOperation(problem);
}

// While the latch is set a path makes no target and the result is 1; closing
// always works.
int setSharedTarget(const char* path)
{
    PackageError problem = PACKAGE_OK;
    if (!path || !failureLatch()) {
        fileClose(sharedTarget);   // a second path would otherwise leak the first file
        sharedTarget = path ? createTargetFile(path) : INVALID_FILE;
        if (path && sharedTarget == INVALID_FILE)
            problem = packageLastError();
    }
    return endOperation(problem);
}
