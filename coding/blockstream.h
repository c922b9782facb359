// blockstream.h - connects the LZHUF codec to files and memory and frames the
// coded stream in checksummed blocks (magic 0x4352, checksum, length, payload):
// a 10-byte first block with the size, then 10240-byte blocks, then a shorter
// last block. One run at a time; all state is process-wide.
#ifndef BLOCKSTREAM_H
#define BLOCKSTREAM_H

#include <stdint.h>
#include "fileio.h"

enum {
    BLOCK_MAGIC = 0x4352,
    BLOCK_HEADER_SIZE = 6,
    BLOCK_SIZE = 10240,          // one full block, also the read and write buffer size
    FIRST_BLOCK_SIZE = 10,       // header + the four size bytes
    BLOCK_CHECKSUM_SEED = 0x68A5
};

// ---- Hooks (the caller's; they stay installed across runs) ------------------
typedef void (*TickHook)(void);
typedef void (*WriteHook)(int32_t bytesWritten);
// Sees (and may change) uncompressed bytes; returns non-zero to be called again.
typedef int (*DataFilterHook)(uint8_t* buffer, int32_t length);

extern TickHook tickHook;             // every 1024 bytes moved, every read and write
extern WriteHook writeHook;           // after every write of the output buffer
extern DataFilterHook dataFilterHook;

// ---- Per-run settings (set just before a run; the run clears them) ----------
extern int readFilterOn;              // compress: filter each raw input read
extern int writeFilterOn;             // decompress: filter each output buffer
extern uint16_t inputXorKey;          // compress: XOR every input byte with the low byte
extern uint8_t* memorySink;           // decompress: copy output here, not to the sink file
extern int32_t memorySinkCapacity;    // bytes memorySink may take; more fails the run

// Bytes written to the sink (or memory) by the last run.
extern int32_t totalWritten;

// ---- Drivers: 1 on success, 0 when the stream failed or was aborted ---------
// Compresses size bytes from the source's current position into blocks.
int compressStream(FileHandle source, FileHandle sink, int32_t size);
// Decodes one compressed entry from the source's current position.
int decompressStream(FileHandle source, FileHandle sink);
// From inside a hook: end the running stream as soon as possible, as a failure.
void abortStream(void);

// 0x68A5 plus the sum of the bytes, modulo 65536.
uint16_t blockChecksum(const uint8_t* bytes, int32_t count);

#endif
