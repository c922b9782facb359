// transfer.h - the one engine that moves entry data: file or memory to file or
// memory, XOR-scrambled, compressed or decompressed on the way, and optionally
// seen by the configuration patch filter, which embeds a configuration block
// where it finds the marker. Extraction of entries of the open package.
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
enum : uint32_t {
    PATCH_STORE_POSITION = 0x1,      // payload's first 4 bytes := its position in the data
    PATCH_ENCIPHER = 0x2,            // PC1 with the default key; drops PATCH_KEEP_MARKER
    PATCH_KEEP_MARKER = 0x10000      // no header: the payload follows the marker
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
// a memory sink (decompress to memory); out: bytes written. 1 on success.
int transferData(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags);
int copyChunks(TransferEnd source, TransferEnd sink, int32_t* count, TransferFlags flags);
void xorBytes(uint8_t* buffer, int32_t length, uint8_t key);

// Entries of the open package (1 on success). Observe and update the latch.
int extractToFile(const char* name, const char* path);   // path may be null with a shared target
// Never writes past capacity; a compressed entry larger than capacity fails.
int extractToMemory(const char* name, uint8_t* destination, int32_t capacity);
// Path: later extractions append to this one file. Null: close it. 1 or 0.
int setSharedTarget(const char* path);

// Arms the patch for the next transfer. The payload's memory is written to only
// with PATCH_STORE_POSITION.
void setConfigPatch(uint8_t* payload, int32_t length, int encipher, uint32_t options);
// Arms it with the bytes between the last marker in [start, end) and end; 0 when
// no marker lies there (nothing armed).
int setConfigPatchAtMarker(uint8_t* start, uint8_t* end, uint32_t options);
// The data filter that transfers with XFER_PATCH install; 0 = wants no more data.
int configPatchFilter(uint8_t* chunk, int32_t length);

#endif
