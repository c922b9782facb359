// blockstream.h - connects the LZHUF codec to files and memory and frames the
// coded stream in checksummed blocks (magic 0x4352, checksum, length, payload):
// a 10-byte first block with the size, then 10240-byte blocks, then a shorter
// last block. One run at a time; all state is process-wide. The compress
// driver is in coding/blockstream_encode.h (the coding_encode library).
#ifndef CODING_BLOCKSTREAM_H
#define CODING_BLOCKSTREAM_H

#include <stdint.h>

#include "coding/fileio.h"

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
// Why a run failed: codingLastError() (coding/codingerror.h).
// Decodes one compressed entry from the source's current position.
int decompressStream(FileHandle source, FileHandle sink);
// From inside a hook: end the running stream as soon as possible, as a failure.
void abortStream(void);

// Compresses as compressStream does when a compress driver is installed
// (enableCompression, coding/blockstream_encode.h); otherwise fails with
// CODING_NO_ENCODER and writes nothing. Code that compresses only when asked
// (the transfer engine) calls this, so that a program that never compresses
// links no encoder: the choice is the program's file list, not a build macro.
typedef int (*CompressDriver)(FileHandle source, FileHandle sink, int32_t size);
int compressIfEnabled(FileHandle source, FileHandle sink, int32_t size);
void setCompressDriver(CompressDriver driver);   // null: none again

// ---- After a decompress run ---------------------------------------------------
// The size the first block announced (0 when it was not read).
uint32_t streamAnnouncedSize(void);
// The block the run refused, when it failed with CODING_BAD_MAGIC,
// CODING_BAD_LENGTH, CODING_CHECKSUM or a CODING_TRUNCATED block (block 0:
// no block was refused). Fields not yet read when the check failed are 0.
struct BlockFault {
    int32_t block;             // 1 = the first block
    int32_t offset;            // its position, counted from where the run began
    int32_t bytesRead;         // what the read of it gave
    uint16_t magic;
    uint16_t length;
    uint16_t storedChecksum;
    uint16_t computedChecksum;
};
const BlockFault* lastBlockFault(void);

// 0x68A5 plus the sum of the bytes, modulo 65536.
uint16_t blockChecksum(const uint8_t* bytes, int32_t count);

#endif
