// transfer.h - the one engine that moves entry data: file or memory to file or
// memory, XOR-scrambled, compressed or decompressed on the way, and optionally
// seen by the configuration patch filter (package/configpatch.h). Extraction
// of entries of the open package.
#ifndef PACKAGE_TRANSFER_H
#define PACKAGE_TRANSFER_H

#include <stdint.h>

#include "coding/fileio.h"

typedef uint32_t TransferFlags;
enum : uint32_t {
    XFER_KEY = 0xFF,                 // XOR key byte; 0 = none
    XFER_COMPRESS = 0x100,
    XFER_DECOMPRESS = 0x200,         // wins over XFER_COMPRESS
    XFER_PATCH = 0x1000,             // fails unless the configuration was written in full
    XFER_UNSCRAMBLE = 0x2000,        // plain copy: key before the filter, not after
    XFER_UNSIGN = 0x4000,            // plain copy: a program image's signature fields cleared
    XFER_TO_MEMORY = 0x1000000,
    XFER_FROM_MEMORY = 0x2000000,
    XFER_FILTER_PLAIN = 0x8000000    // plain copy: key before the filter and after it
};
enum { COPY_CHUNK_SIZE = 16384 };

// One end of a transfer: the file, or the memory when the flags say so.
struct TransferEnd {
    FileHandle file;
    uint8_t* memory;
};
TransferEnd fileEnd(FileHandle file);
TransferEnd memoryEnd(const void* memory);

// *count in: bytes to move (plain copy), input size (compress), or the room at
// a memory sink (decompress to memory); out: bytes written. 1 on success, else
// 0 with the reason recorded. Disarms the configuration patch when it ends.
int transferData(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags);
void xorBytes(uint8_t* buffer, int32_t length, uint8_t key);

// Entries of the open package (1 on success); operations (package/operation.h).
int extractToFile(const char* name, const char* path);   // path may be null with a shared target
// Never writes past capacity; a compressed entry larger than capacity fails.
int extractToMemory(const char* name, uint8_t* destination, int32_t capacity);
// Path: later extractions append to this one file (while the latch is set:
// nothing, 1). Null: close it. 1 or 0.
int setSharedTarget(const char* path);

#endif
