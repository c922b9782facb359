// blockstream.cpp - the byte source and sink of the LZHUF codec: reads and
// checks blocks, builds and writes them, calls the hooks, and the two drivers.
#include "blockstream.h"

#include <string.h>

#include "lzhuf.h"

// The input position and end, the output position and the tick count live in
// byteWindow (lzhuf.h), where the codec's inline byte operations see them.
ByteWindow byteWindow;

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

// ---- Small helpers --------------------------------------------------------------

static uint16_t readLe16(const uint8_t* at)
{
    return (uint16_t)(at[0] | at[1] << 8);
}

static void writeLe16(uint8_t* at, unsigned value)
{
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

static void callTick(void)
{
    if (tickHook)
        tickHook();
}

static inline void countTicks(int32_t bytes)
{
    byteWindow.ticksLeft -= bytes;
    while (byteWindow.ticksLeft <= 0) {
        byteWindow.ticksLeft += TICK_INTERVAL;
        callTick();
    }
}

static void setOutputLimit(int32_t limit)
{
    outputLimit = outputBuffer + limit;
    byteWindow.outputRoomEnd = outputLimit - 1;
}

static int32_t outputHeld(void)
{
    return (int32_t)(byteWindow.outputNext - outputBuffer);
}

// No more input: readByte gives the end marker from now on.
static void endInput(void)
{
    inputEnded = 1;
    byteWindow.inputEnd = byteWindow.inputNext;
}

// Ends the run as a failure: no more input, the decoder stops after its item.
static void failStream(void)
{
    streamFailed = 1;
    remainingInput = 0;
    remainingOutput = 0;
    clearTargetSize();
    endInput();
}

uint16_t blockChecksum(const uint8_t* bytes, int32_t count)
{
    unsigned sum = BLOCK_CHECKSUM_SEED;
    for (int32_t i = 0; i < count; i++)
        sum += bytes[i];
    return (uint16_t)sum;
}

// ---- Read side --------------------------------------------------------------------

// Compress: raw data always passes. Decompress: magic, a length of 6 to the
// bytes read (exactly 10 for the first block) and the checksum of the payload.
static int validateBlock(int32_t n)
{
    int valid = 1;
    if (mode == MODE_DECOMPRESS) {
        int32_t length = n >= BLOCK_HEADER_SIZE ? readLe16(inputBuffer + 4) : 0;
        valid = n >= BLOCK_HEADER_SIZE && readLe16(inputBuffer) == BLOCK_MAGIC &&
                length >= BLOCK_HEADER_SIZE && length <= n &&
                (!firstBlockPending || length == FIRST_BLOCK_SIZE) &&
                blockChecksum(inputBuffer + BLOCK_HEADER_SIZE, length - BLOCK_HEADER_SIZE) ==
                    readLe16(inputBuffer + 2);
    }
    callTick();
    return valid;
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
    byteWindow.inputNext = inputBuffer;
    byteWindow.inputEnd = inputBuffer + n;
    if (mode == MODE_COMPRESS) {
        if (n == 0)
            sourceEndedEarly = 1;   // something was still owed
        remainingInput -= n;
    }
    if (readFilterOn && dataFilterHook && n > 0)
        readFilterOn = dataFilterHook(inputBuffer, n);
    if (!validateBlock(n)) {
        failStream();
        return;
    }
    if (n == 0) {
        remainingInput = 0;
        remainingOutput = 0;
        endInput();
        return;
    }
    if (mode == MODE_DECOMPRESS) {
        int32_t length = readLe16(inputBuffer + 4);
        byteWindow.inputNext = inputBuffer + BLOCK_HEADER_SIZE;
        byteWindow.inputEnd = inputBuffer + length;   // bytes after the block are not its data
        if (firstBlockPending)
            firstBlockPending = 0;
        else if (length < BLOCK_SIZE)
            finalBlockSeen = 1;
        if (byteWindow.inputNext == byteWindow.inputEnd)
            endInput();   // the header-only last block
    }
}

unsigned readByte(void)
{
    if (byteWindow.inputNext < byteWindow.inputEnd) {
        countTicks(1);
        return *byteWindow.inputNext++;
    }
    if (inputEnded || streamFailed) {
        countTicks(1);
        return LZHUF_END;
    }
    refill();   // the byte that triggers a refill is not counted
    if (inputEnded || streamFailed)
        return LZHUF_END;
    return *byteWindow.inputNext++;
}

uint32_t readSizeHeader(void)
{
    uint32_t size = 0;
    for (unsigned i = 0; i < 4; i++)
        size |= (uint32_t)(readByte() & 0xFF) << (8 * i);
    // Sizes are signed 32-bit everywhere; memory is bounded by its capacity.
    if (!streamFailed &&
        (size > LARGEST_SIZE || (memorySink && size > (uint32_t)memorySinkCapacity)))
        failStream();
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
    if (written != count)
        failStream();   // a full disk must not pass for a finished entry
    totalWritten += written;
    if (writeHook)
        writeHook(written);
}

static void flushOutput(void)
{
    int32_t held = outputHeld();
    writeBlock();
    remainingOutput -= held;
    byteWindow.outputNext = outputBuffer + (mode == MODE_COMPRESS ? BLOCK_HEADER_SIZE : 0);
}

void writeByte(unsigned byte)
{
    *byteWindow.outputNext++ = (uint8_t)byte;
    if (byteWindow.outputNext >= outputLimit)
        flushOutput();
    else
        countTicks(1);
}

void writeBytes(const uint8_t* bytes, int32_t count)
{
    while (count > 0) {
        int32_t room = (int32_t)(outputLimit - byteWindow.outputNext);
        int32_t piece = count < room ? count : room;
        memcpy(byteWindow.outputNext, bytes, (size_t)piece);
        byteWindow.outputNext += piece;
        bytes += piece;
        count -= piece;
        if (byteWindow.outputNext >= outputLimit) {
            countTicks(piece - 1);   // the byte that fills the buffer is not counted
            flushOutput();
        } else {
            countTicks(piece);
        }
    }
}

uint32_t writeSizeHeader(void)
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
    mode = runMode;
    source = from;
    sink = to;
    totalWritten = 0;
    byteWindow.inputNext = byteWindow.inputEnd = inputBuffer;
    inputEnded = 0;
    streamFailed = 0;
    byteWindow.ticksLeft = TICK_INTERVAL;
    firstBlockPending = 1;
    finalBlockSeen = 0;
    announcedSize = 0;
    sourceEndedEarly = 0;
}

static void endRun(void)
{
    readFilterOn = 0;
    writeFilterOn = 0;
    inputXorKey = 0;
    memorySink = 0;
    memorySinkCapacity = 0;
}

// Stream states of a compress run:
//   first block   output limit 10: the four size bytes fill it and write it
//   data blocks   output limit 10240: each full block is written at once
//   last block    whatever the buffer holds when the encoder ends, 6..10239
//                 bytes, so a reader always knows the last block by its length
int compressStream(FileHandle from, FileHandle to, int32_t size)
{
    beginRun(MODE_COMPRESS, from, to);
#ifdef TAMB_DECODE_ONLY
    // The setup program only ever decodes; its build leaves the encoder and
    // the match finder out, so a compress run there fails and writes nothing.
    size = -1;
#endif
    if (size < 0) {
        endRun();
        return 0;
    }
    remainingInput = size;
    remainingOutput = LARGEST_SIZE;
    byteWindow.outputNext = outputBuffer + BLOCK_HEADER_SIZE;
    setOutputLimit(FIRST_BLOCK_SIZE);
    readSize = BLOCK_SIZE;
    writeFilterOn = 0;
    encodeStream();
    writeBlock();
    // A source shorter than its size would give a stream that cannot decode.
    int ok = !streamFailed && !sourceEndedEarly;
    endRun();
    return ok;
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
    byteWindow.outputNext = outputBuffer;
    setOutputLimit(BLOCK_SIZE);
    readSize = FIRST_BLOCK_SIZE;
    readFilterOn = 0;
    decodeStream();
    // A whole stream always makes the decoder read past its last coded byte,
    // which takes the last block in.
    if (decoderOverrunBits() != 0 || (announcedSize != 0 && !finalBlockSeen))
        streamFailed = 1;
    writeBlock();
    int ok = !streamFailed;
    endRun();
    return ok;
}

void abortStream(void)
{
    failStream();
}
