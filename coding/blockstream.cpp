// blockstream.cpp - the byte source and sink of the LZHUF codec: reads and
// checks blocks, builds and writes them, calls the hooks, and the decompress
// driver. The compress driver is blockstream_encode.cpp, which a program that
// only decodes leaves out; it runs through the compress run below.
#include "coding/blockstream.h"

#include <string.h>

#include "coding/blockstream_internal.h"
#include "coding/codingerror.h"
#include "coding/littleendian.h"
#include "coding/lzhuf.h"

// The input position and end, the output position and the tick count live in
// codecIo (coding/lzhuf.h), where the codec's inline byte operations see them.

TickHook tickHook;
WriteHook writeHook;
DataFilterHook dataFilterHook;

int readFilterOn;
int writeFilterOn;
uint16_t inputXorKey;
uint8_t* memorySink;
int32_t memorySinkCapacity;

int32_t totalWritten;

enum StreamMode { MODE_COMPRESS, MODE_DECOMPRESS };

enum {
    TICK_INTERVAL = 1024,               // bytes moved between two tick hook calls
    READ_GUARD = 0x12345678,            // no block starts with it: a read of nothing fails
    LARGEST_SIZE = 0x7FFFFFFF
};

// ---- Stream state (about 20 KB, all of it static) -----------------------------

static StreamMode mode;
static uint8_t inputBuffer[BLOCK_SIZE];
static int32_t readSize;                // bytes asked for per read
static uint8_t outputBuffer[BLOCK_SIZE];
static uint8_t* outputLimit;            // the buffer is written out when this is reached
static int32_t remainingInput;          // compress: raw bytes still to take
static int32_t remainingOutput;         // decompress: decoded bytes not yet written out
static int inputEnded;                  // readByte gives the end marker
static int streamFailed;                // a block failed, a write fell short, or an abort
static FileHandle source;
static FileHandle sink;

// Read side of a decompression. The compressor always ends a stream with a
// block shorter than a full one, so such a block after the first is the last:
// nothing is read after it, and its length field says where the data ends.
static int firstBlockPending;
static int finalBlockSeen;
static uint32_t announcedSize;

// Compress: the source ended before the size the driver was given.
static int sourceEndedEarly;

// Where the reads of a decompress run stand, for the fault report.
static int32_t blocksRead;
static int32_t bytesRead;
static BlockFault fault;

// What compressIfEnabled runs; null until enableCompression installs it.
static CompressDriver compressDriver;

// ---- Small helpers --------------------------------------------------------------

static void callTick(void)
{
    if (tickHook)
        tickHook();
}

static inline void countTicks(int32_t bytes)
{
    codecIo.ticksLeft -= bytes;
    while (codecIo.ticksLeft <= 0) {
        codecIo.ticksLeft += TICK_INTERVAL;
        callTick();
    }
}

static void setOutputLimit(int32_t limit)
{
    outputLimit = outputBuffer + limit;
    codecIo.outputRoomEnd = outputLimit - 1;
}

static int32_t outputHeld(void)
{
    return (int32_t)(codecIo.outputNext - outputBuffer);
}

// No more input: readByte gives the end marker from now on.
static void endInput(void)
{
    inputEnded = 1;
    codecIo.inputEnd = codecIo.inputNext;
}

// The run has failed: the first reason is the one kept.
static void markFailed(CodingError reason)
{
    if (!streamFailed)
        setCodingError(reason);
    streamFailed = 1;
}

// Ends the run as a failure: no more input, the decoder stops after its item.
static void failStream(CodingError reason)
{
    markFailed(reason);
    remainingInput = 0;
    remainingOutput = 0;
    clearTargetSize();
    endInput();
}

uint16_t blockChecksum(const uint8_t* bytes, int32_t count)
{
    // Four bytes at a time: the even and the odd bytes of each word add up in
    // two 16-bit lanes, emptied every 128 words (128 * 510 < 65536) before a
    // lane could carry into the other.
    uint32_t sum = BLOCK_CHECKSUM_SEED;
    int32_t i = 0;
    while (count - i >= 4) {
        int32_t words = (count - i) >> 2;
        if (words > 128)
            words = 128;
        uint32_t lanes = 0;
        for (int32_t w = 0; w < words; w++, i += 4) {
            uint32_t word;
            memcpy(&word, bytes + i, 4);
            lanes += (word & 0x00FF00FFu) + ((word >> 8) & 0x00FF00FFu);
        }
        sum += (lanes & 0xFFFFu) + (lanes >> 16);
    }
    for (; i < count; i++)
        sum += bytes[i];
    return (uint16_t)sum;
}

// ---- Read side --------------------------------------------------------------------

// Compress: raw data always passes. Decompress: magic, a length of 6 to the
// bytes read (exactly 10 for the first block) and the checksum of the payload;
// the reason when one fails (n bytes came of the `want` asked for).
static CodingError checkBlock(int32_t n, int32_t want, BlockFault* seen)
{
    seen->block = blocksRead + 1;
    seen->offset = bytesRead;
    seen->bytesRead = n;
    if (n < BLOCK_HEADER_SIZE)
        return CODING_TRUNCATED;
    seen->magic = readLe16(inputBuffer);
    seen->storedChecksum = readLe16(inputBuffer + 2);
    seen->length = readLe16(inputBuffer + 4);
    const int32_t length = seen->length;
    if (seen->magic != BLOCK_MAGIC)
        return CODING_BAD_MAGIC;
    if (length < BLOCK_HEADER_SIZE)
        return CODING_BAD_LENGTH;
    if (length > n)
        return n < want ? CODING_TRUNCATED : CODING_BAD_LENGTH;   // the file ended inside the block
    if (firstBlockPending && length != FIRST_BLOCK_SIZE)
        return CODING_BAD_LENGTH;
    seen->computedChecksum = blockChecksum(inputBuffer + BLOCK_HEADER_SIZE, length - BLOCK_HEADER_SIZE);
    if (seen->computedChecksum != seen->storedChecksum)
        return CODING_CHECKSUM;
    return CODING_OK;
}

static int validateBlock(int32_t n, int32_t want)
{
    BlockFault seen = {0, 0, 0, 0, 0, 0, 0};
    CodingError problem = mode == MODE_DECOMPRESS ? checkBlock(n, want, &seen) : CODING_OK;
    callTick();
    if (problem != CODING_OK) {
        fault = seen;
        failStream(problem);
        return 0;
    }
    blocksRead++;
    bytesRead += n;
    return 1;
}

static void refill(void)
{
    if (mode == MODE_DECOMPRESS) {
        inputBuffer[0] = (uint8_t)READ_GUARD;
        inputBuffer[1] = (uint8_t)(READ_GUARD >> 8);
        inputBuffer[2] = (uint8_t)(READ_GUARD >> 16);
        inputBuffer[3] = (uint8_t)(READ_GUARD >> 24);
        if (finalBlockSeen) {
            endInput();
            return;
        }
    }
    if (remainingOutput <= 0 || remainingInput <= 0) {
        endInput();
        return;
    }
    int32_t want = readSize;
    if (mode == MODE_COMPRESS && want > remainingInput)
        want = remainingInput;   // never take bytes beyond the entry
    int32_t n = fileRead(source, inputBuffer, want);
    if (inputXorKey != 0) {
        uint8_t key = (uint8_t)inputXorKey;
        for (int32_t i = 0; i < n; i++)
            inputBuffer[i] ^= key;
    }
    codecIo.inputNext = inputBuffer;
    codecIo.inputEnd = inputBuffer + n;
    if (mode == MODE_COMPRESS) {
        if (n == 0)
            sourceEndedEarly = 1;   // something was still owed
        remainingInput -= n;
    }
    if (readFilterOn && dataFilterHook && n > 0)
        readFilterOn = dataFilterHook(inputBuffer, n);
    if (!validateBlock(n, want))
        return;
    if (n == 0) {
        remainingInput = 0;
        remainingOutput = 0;
        endInput();
        return;
    }
    if (mode == MODE_DECOMPRESS) {
        int32_t length = readLe16(inputBuffer + 4);
        codecIo.inputNext = inputBuffer + BLOCK_HEADER_SIZE;
        codecIo.inputEnd = inputBuffer + length;   // bytes after the block are not its data
        if (firstBlockPending)
            firstBlockPending = 0;
        else if (length < BLOCK_SIZE)
            finalBlockSeen = 1;
        if (codecIo.inputNext == codecIo.inputEnd)
            endInput();   // the header-only last block
    }
}

static unsigned readByte(void)
{
    if (codecIo.inputNext < codecIo.inputEnd) {
        countTicks(1);
        return *codecIo.inputNext++;
    }
    if (inputEnded || streamFailed) {
        countTicks(1);
        return LZHUF_END;
    }
    refill();   // the byte that triggers a refill is not counted
    if (inputEnded || streamFailed)
        return LZHUF_END;
    return *codecIo.inputNext++;
}

static uint32_t readSizeHeader(void)
{
    uint32_t size = 0;
    for (unsigned i = 0; i < 4; i++)
        size |= (uint32_t)(readByte() & 0xFF) << (8 * i);
    // Sizes are signed 32-bit everywhere; memory is bounded by its capacity.
    if (!streamFailed && size > LARGEST_SIZE)
        failStream(CODING_TOO_LARGE);
    if (!streamFailed && memorySink && size > (uint32_t)memorySinkCapacity)
        failStream(CODING_OUTPUT_FULL);
    if (streamFailed)
        size = 0;
    readSize = BLOCK_SIZE;
    remainingOutput = (int32_t)size;
    announcedSize = size;
    return size;
}

// ---- Write side -------------------------------------------------------------------

static void writeBlock(void)
{
    int32_t count = outputHeld();
    if (mode == MODE_COMPRESS) {
        writeLe16(outputBuffer, BLOCK_MAGIC);
        writeLe16(outputBuffer + 2, blockChecksum(outputBuffer + BLOCK_HEADER_SIZE,
                                                  count - BLOCK_HEADER_SIZE));
        writeLe16(outputBuffer + 4, (unsigned)count);
    }
    callTick();
    if (writeFilterOn && dataFilterHook && count > 0)
        writeFilterOn = dataFilterHook(outputBuffer, count);
    int32_t written;
    if (memorySink) {
        // Never past the memory the caller gave: what does not fit fails the run.
        written = count <= memorySinkCapacity ? count : memorySinkCapacity;
        memcpy(memorySink, outputBuffer, (size_t)written);
        memorySink += written;
        memorySinkCapacity -= written;
    } else {
        written = fileWrite(sink, outputBuffer, count);
    }
    if (written != count)   // a full disk must not pass for a finished entry
        failStream(memorySink ? CODING_OUTPUT_FULL : CODING_CANNOT_WRITE);
    totalWritten += written;
    if (writeHook)
        writeHook(written);
}

static void flushOutput(void)
{
    int32_t held = outputHeld();
    writeBlock();
    remainingOutput -= held;
    codecIo.outputNext = outputBuffer + (mode == MODE_COMPRESS ? BLOCK_HEADER_SIZE : 0);
}

static void writeByte(unsigned byte)
{
    *codecIo.outputNext++ = (uint8_t)byte;
    if (codecIo.outputNext >= outputLimit)
        flushOutput();
    else
        countTicks(1);
}

static void writeBytes(const uint8_t* bytes, int32_t count)
{
    while (count > 0) {
        int32_t room = (int32_t)(outputLimit - codecIo.outputNext);
        int32_t piece = count < room ? count : room;
        memcpy(codecIo.outputNext, bytes, (size_t)piece);
        codecIo.outputNext += piece;
        bytes += piece;
        count -= piece;
        if (codecIo.outputNext >= outputLimit) {
            countTicks(piece - 1);   // the byte that fills the buffer is not counted
            flushOutput();
        } else {
            countTicks(piece);
        }
    }
}

static uint32_t writeSizeHeader(void)
{
    uint32_t size = (uint32_t)remainingInput;
    for (unsigned i = 0; i < 4; i++)
        writeByte((size >> (8 * i)) & 0xFF);   // the fourth byte writes the first block
    setOutputLimit(BLOCK_SIZE);
    return size;
}

// ---- Drivers ----------------------------------------------------------------------

static void beginRun(StreamMode runMode, FileHandle from, FileHandle to)
{
    resetCoderState();
    setCodingError(CODING_OK);
    codecIo.readByte = readByte;
    codecIo.writeByte = writeByte;
    codecIo.writeBytes = writeBytes;
    codecIo.writeSizeHeader = writeSizeHeader;
    codecIo.readSizeHeader = readSizeHeader;
    mode = runMode;
    source = from;
    sink = to;
    totalWritten = 0;
    codecIo.inputNext = codecIo.inputEnd = inputBuffer;
    inputEnded = 0;
    streamFailed = 0;
    codecIo.ticksLeft = TICK_INTERVAL;
    firstBlockPending = 1;
    finalBlockSeen = 0;
    announcedSize = 0;
    sourceEndedEarly = 0;
    blocksRead = 0;
    bytesRead = 0;
    memset(&fault, 0, sizeof fault);
}

static void endRun(void)
{
    readFilterOn = 0;
    writeFilterOn = 0;
    inputXorKey = 0;
    memorySink = 0;
    memorySinkCapacity = 0;
}

// Stream states of a compress run (the encoder in between is the compress
// driver's, blockstream_encode.cpp):
//   first block   output limit 10: the four size bytes fill it and write it
//   data blocks   output limit 10240: each full block is written at once
//   last block    whatever the buffer holds when the encoder ends, 6..10239
//                 bytes, so a reader always knows the last block by its length
int beginCompressRun(FileHandle from, FileHandle to, int32_t size)
{
    beginRun(MODE_COMPRESS, from, to);
    if (size < 0) {
        setCodingError(CODING_BAD_SIZE);
        endRun();
        return 0;
    }
    remainingInput = size;
    remainingOutput = LARGEST_SIZE;
    codecIo.outputNext = outputBuffer + BLOCK_HEADER_SIZE;
    setOutputLimit(FIRST_BLOCK_SIZE);
    readSize = BLOCK_SIZE;
    writeFilterOn = 0;
    return 1;
}

int endCompressRun(void)
{
    writeBlock();
    // A source shorter than its size would give a stream that cannot decode.
    if (sourceEndedEarly)
        markFailed(CODING_SOURCE_SHORT);
    int ok = !streamFailed;
    endRun();
    return ok;
}

void setCompressDriver(CompressDriver driver)
{
    compressDriver = driver;
}

int compressIfEnabled(FileHandle from, FileHandle to, int32_t size)
{
    if (compressDriver)
        return compressDriver(from, to, size);
    // As a run that fails before its first byte: nothing written, settings cleared.
    totalWritten = 0;
    setCodingError(CODING_NO_ENCODER);
    endRun();
    return 0;
}

// Stream states of a decompress run:
//   first block   a 10-byte read: header and the four size bytes
//   data blocks   10240-byte reads while the decoder asks for bytes; a block
//                 shorter than 10240 is the last, and after it the decoder
//                 gets zero bytes, which it must not need
//   done          the decoder has written the size; what the output buffer
//                 holds is written; the run failed if the stream was cut short
//                 or ended before its last block
int decompressStream(FileHandle from, FileHandle to)
{
    beginRun(MODE_DECOMPRESS, from, to);
    remainingInput = LARGEST_SIZE;
    remainingOutput = LARGEST_SIZE;
    codecIo.outputNext = outputBuffer;
    setOutputLimit(BLOCK_SIZE);
    readSize = FIRST_BLOCK_SIZE;
    readFilterOn = 0;
    decodeStream();
    // A whole stream always makes the decoder read past its last coded byte,
    // which takes the last block in.
    if (decoderOverrunBits() != 0 || (announcedSize != 0 && !finalBlockSeen))
        markFailed(CODING_TRUNCATED);
    writeBlock();
    int ok = !streamFailed;
    endRun();
    return ok;
}

void abortStream(void)
{
    failStream(CODING_ABORTED);
}

uint32_t streamAnnouncedSize(void)
{
    return announcedSize;
}

const BlockFault* lastBlockFault(void)
{
    return &fault;
}
