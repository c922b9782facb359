// transfer.cpp - the transfer engine, the configuration patch filter and the
// extraction of entries from the open package.
//
// Patch states, per transfer:
//   armed     - patchRemaining > 0; the filter scans each chunk for the marker.
//   continues - the payload did not fit behind the marker; the rest goes to the
//               start of the next chunk(s), the PC1 stream carried on.
//   complete  - the whole payload is written; the filter wants no more data.
// Every transfer operation disarms the patch when it ends.
#include "package/transfer.h"

#include <stddef.h>
#include <string.h>

#include "app/setupconfig.h"
#include "coding/blockstream.h"
#include "coding/codingerror.h"
#include "coding/littleendian.h"
#include "coding/pc1.h"
#include "package/package.h"
#include "package/package_internal.h"
#include "package/peimage.h"

// One buffer for every plain copy: one read and one write per 16 KB.
static uint8_t chunkBuffer[COPY_CHUNK_SIZE];
static int copyFilterOn;
static FileHandle sharedTarget = INVALID_FILE;

static uint8_t* patchSource;         // next payload byte to write
static int32_t patchRemaining;       // 0 = nothing armed
static uint32_t patchOptions;
static int patchComplete;
static int patchContinues;
static int32_t patchPosition;        // marker's position in this transfer's data
static int32_t patchDataSeen;        // bytes of this transfer the filter has seen

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

int32_t configPatchPosition(void)
{
    return patchPosition;
}

void resetConfigPatchPosition(void)
{
    patchPosition = 0;
}

void disarmConfigPatch(void)
{
    patchRemaining = 0;
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

int copyChunks(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags)
{
    int32_t remaining = *count;
    *count = 0;
    const uint8_t key = (uint8_t)(flags & XFER_KEY);
    const uint8_t* from = source.memory;
    uint8_t* to = sink.memory;
    int result = remaining >= 0;
    if ((flags & XFER_FROM_MEMORY) && !from)
        result = 0;
    if ((flags & XFER_TO_MEMORY) && !to)
        result = 0;
    if (!result)
        failTransfer(PACKAGE_BAD_ARGUMENT);
    while (result && remaining != 0) {
        int32_t chunk = remaining < COPY_CHUNK_SIZE ? remaining : COPY_CHUNK_SIZE;
        remaining -= chunk;
        if (flags & XFER_FROM_MEMORY) {
            memcpy(chunkBuffer, from, (size_t)chunk);
            from += chunk;
        } else if (fileRead(source.file, chunkBuffer, chunk) != chunk) {
            result = failTransfer(PACKAGE_CANNOT_READ);   // cut short: what was written stays
            break;
        }
        if (flags & (XFER_UNSCRAMBLE | XFER_FILTER_PLAIN))
            xorBytes(chunkBuffer, chunk, key);
        if (copyFilterOn && dataFilterHook)
            copyFilterOn = dataFilterHook(chunkBuffer, chunk);
        // A copy of a signed program is no longer covered by its signature:
        // its headers, all in the first chunk, lose the table's directory
        // entry and the checksum, so it reads as a clean unsigned program.
        if ((flags & XFER_UNSIGN) && *count == 0)
            clearSignatureFields(chunkBuffer, chunk);
        if (!(flags & XFER_UNSCRAMBLE))
            xorBytes(chunkBuffer, chunk, key);
        if (flags & XFER_TO_MEMORY) {
            memcpy(to, chunkBuffer, (size_t)chunk);
            to += chunk;
            *count += chunk;
        } else {
            int32_t written = fileWrite(sink.file, chunkBuffer, chunk);
            *count += written;
            if (written != chunk)
                result = failTransfer(PACKAGE_CANNOT_WRITE);
        }
    }
    patchRemaining = 0;
    if (!patchComplete)
        result = 0;
    return result;
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
    patchComplete = !patching;
    patchContinues = 0;
    patchDataSeen = 0;
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
    if (!patchComplete)
        result = failTransfer(PACKAGE_PATCH_FAILED);
    if (!result)
        setPackageError(transferProblem != PACKAGE_OK ? transferProblem : PACKAGE_PATCH_FAILED);
    dataFilterHook = 0;
    copyFilterOn = readFilterOn = writeFilterOn = 0;
    inputXorKey = 0;
    return result;
}

static int isMarker(const uint8_t* at)
{
    return readLe32(at) == CONFIG_MARKER_1 && readLe32(at + 4) == CONFIG_MARKER_2;
}

void setConfigPatch(uint8_t* payload, int32_t length, int encipher, uint32_t options)
{
    patchSource = payload;
    patchRemaining = (payload && length > 0) ? length : 0;
    patchComplete = 0;
    patchOptions = options;
    if (encipher)
        patchOptions |= PATCH_ENCIPHER;
    if (patchOptions & PATCH_ENCIPHER)
        patchOptions &= ~(uint32_t)PATCH_KEEP_MARKER;
}

int setConfigPatchAtMarker(uint8_t* start, uint8_t* end, uint32_t options)
{
    if (!start || !end || end < start)
        return 0;
    for (ptrdiff_t after = end - start; after >= 8; after--) {
        if (!isMarker(start + after - 8))
            continue;
        ptrdiff_t length = (end - start) - after;
        if (length > INT32_MAX)
            return 0;
        setConfigPatch(start + after, (int32_t)length, 0, options);
        return 1;
    }
    return 0;
}

// Writes k payload bytes at out, enciphered when asked (the stream already started).
static void putPayload(uint8_t* out, int32_t k)
{
    memcpy(out, patchSource, (size_t)k);
    if (patchOptions & PATCH_ENCIPHER)
        crypt(out, k, 1);
    patchSource += k;
    patchRemaining -= k;
}

int configPatchFilter(uint8_t* chunk, int32_t n)
{
    if (!chunk || n <= 0)
        return 1;
    const int32_t chunkStart = patchDataSeen;
    patchDataSeen += n;
    if (patchContinues) {
        if (patchRemaining <= 0)
            return 1;
        int32_t k = patchRemaining < n ? patchRemaining : n;   // a long payload may span more chunks
        putPayload(chunk, k);
        if (patchRemaining > 0)
            return 1;
        patchComplete = 1;
        return 0;
    }
    // The marker must lie wholly in this chunk with at least one byte after it.
    for (int32_t p = 0; p + 8 < n; p++) {
        if (!isMarker(chunk + p))
            continue;
        patchPosition = chunkStart + p;
        if (patchRemaining <= 0)
            return 0;   // nothing armed: the transfer fails
        if ((patchOptions & PATCH_STORE_POSITION) && patchRemaining >= 4)
            writeLe32(patchSource, (uint32_t)(patchPosition + 8));
        const int32_t total = patchRemaining;
        const int32_t avail = n - p - 8;
        int32_t k = total;
        if (total > avail) {
            k = avail;
            patchContinues = 1;
        } else {
            patchComplete = 1;
        }
        if (!(patchOptions & PATCH_KEEP_MARKER)) {
            writeLe32(chunk + p, CONFIG_MAGIC);
            writeLe32(chunk + p + 4, (uint32_t)total);
        }
        if (patchOptions & PATCH_ENCIPHER)
            setKey(0);   // the default key
        putPayload(chunk + p + 8, k);
        return patchContinues;
    }
    return 1;
}

// Stored entries come back through their key, compressed ones through the decoder.
static TransferFlags readBackFlags(const PackageEntry* entry)
{
    return entry->mode == ENTRY_STORED ? (TransferFlags)entry->xorKey : (TransferFlags)XFER_DECOMPRESS;
}

static int extractValue(const char* name, FileHandle target)
{
    uint8_t value[ENTRY_VALUE_SIZE];
    int32_t length = 0;
    if (!readValue(name, value, &length)) {
        setPackageError(PACKAGE_NO_SUCH_ENTRY);
        return 0;
    }
    if (length == 0 || fileWrite(target, value, length) == length)
        return 1;
    setPackageError(PACKAGE_CANNOT_WRITE);
    return 0;
}

static int extractData(const PackageEntry* entry, FileHandle target)
{
    FileHandle package = packageReaderHandle();
    if (!fileSeek(package, getLe32(entry->dataOffset))) {
        setPackageError(PACKAGE_CANNOT_READ);
        return 0;
    }
    int32_t count = getLe32(entry->storedSize);
    if (beforeTransferHook)
        beforeTransferHook(target, count);
    return transferData(fileEnd(package), fileEnd(target), &count, readBackFlags(entry));
}

int extractToFile(const char* name, const char* path)
{
    initPackageLibrary();
    int result = 0;
    if (!failureLatch()) {
        PackageEntry* entry = findEntry(name, FIND_DATA | FIND_VALUE);
        if (!entry)
            setPackageError(packageReaderHandle() == INVALID_FILE ? PACKAGE_NOT_OPEN : PACKAGE_NO_SUCH_ENTRY);
        else if (entry->mode != ENTRY_VALUE && !entryDataFits(entry))
            setPackageError(PACKAGE_DAMAGED_ENTRY);
        else if (sharedTarget == INVALID_FILE && !path)
            setPackageError(PACKAGE_BAD_ARGUMENT);
        // An entry whose data lies outside the package creates no file.
        if (entry && (entry->mode == ENTRY_VALUE || entryDataFits(entry))) {
            FileHandle target = sharedTarget;
            if (target == INVALID_FILE && path)
                target = createTargetFile(path);
            if (target != INVALID_FILE) {
                result = entry->mode == ENTRY_VALUE ? extractValue(name, target)
                                                    : extractData(entry, target);
                if (target != sharedTarget) {
                    if (result && afterTransferHook)
                        afterTransferHook(target);
                    fileClose(target);
                }
            }
        }
        disarmConfigPatch();
        updateLatch(result);
    } else {
        setPackageError(PACKAGE_STOPPED);
    }
    beforeTransferHook = 0;
    afterTransferHook = 0;
    confirmOverwriteHook = 0;
    return result;
}

int extractToMemory(const char* name, uint8_t* destination, int32_t capacity)
{
    initPackageLibrary();
    if (failureLatch()) {
        setPackageError(PACKAGE_STOPPED);
        return 0;
    }
    int result = 0;
    PackageEntry* entry = findEntry(name, FIND_DATA);
    if (!entry)
        setPackageError(packageReaderHandle() == INVALID_FILE ? PACKAGE_NOT_OPEN : PACKAGE_NO_SUCH_ENTRY);
    else if (!destination || capacity < 0)
        setPackageError(PACKAGE_BAD_ARGUMENT);
    else if (!entryDataFits(entry))
        setPackageError(PACKAGE_DAMAGED_ENTRY);
    else if (entry->mode != ENTRY_STORED && !(getLe32(entry->extractedSize) >= 0 && getLe32(entry->extractedSize) <= capacity))
        setPackageError(PACKAGE_TOO_SMALL);
    if (entry && destination && capacity >= 0 && entryDataFits(entry) &&
        fileSeek(packageReaderHandle(), getLe32(entry->dataOffset))) {
        int32_t count;
        if (entry->mode == ENTRY_STORED) {
            int32_t stored = getLe32(entry->storedSize);
            count = stored < capacity ? stored : capacity;   // a stored entry may be cut
        } else {
            count = capacity;   // the room the decoder may fill
        }
        // A compressed entry is decoded whole or not at all.
        int32_t extracted = getLe32(entry->extractedSize);
        if (entry->mode == ENTRY_STORED || (extracted >= 0 && extracted <= capacity))
            result = transferData(fileEnd(packageReaderHandle()), memoryEnd(destination), &count,
                                  readBackFlags(entry) | XFER_TO_MEMORY);
    }
    disarmConfigPatch();
    updateLatch(result);
    return result;
}

int setSharedTarget(const char* path)
{
    initPackageLibrary();
    int result = 1;
    if (!path) {
        fileClose(sharedTarget);
        sharedTarget = INVALID_FILE;
    } else if (!failureLatch()) {
        fileClose(sharedTarget);   // a second path would otherwise leak the first file
        sharedTarget = createTargetFile(path);
        if (sharedTarget == INVALID_FILE) {
            result = 0;
            updateLatch(0);
        }
    }
    confirmOverwriteHook = 0;
    return result;
}
