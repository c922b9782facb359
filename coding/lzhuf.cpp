// lzhuf.cpp - LZHUF decoder: the bit input and the decode loop over the
// shared model (lzhuf_model.h). Coded streams are bit for bit those of the
// 1988 algorithm; only its faults are mended (see startWindow and decodeStream).
#include "coding/lzhuf.h"

#include "coding/lzhuf_model.h"

CodecIo codecIo;
CodecTraceHook codecTraceHook;

// ---- Decoder state -------------------------------------------------------------

// Bit input: valid bits stand at the top of a 16-bit buffer.
static unsigned bitInBuffer;
static int bitInCount;
// Zero bytes that stood in for the end marker, and how many of their bits the
// last decode used.
static uint32_t standInBytes;
static uint32_t overrunBits;

static uint32_t targetSize;

void resetCoderState(void)
{
    targetSize = 0;
    bitInBuffer = 0;
    bitInCount = 0;
    standInBytes = 0;
    overrunBits = 0;
}

void clearTargetSize(void)
{
    targetSize = 0;
}

uint32_t decoderOverrunBits(void)
{
    return overrunBits;
}

// ---- Decoder ----------------------------------------------------------------------
//
// States of a run:
//   header     targetSize = readSizeHeader; 0 ends the run here
//   item       decode a symbol (and for a match its position); if that used
//              bits of the zero bytes that stand in for missing input, stop:
//              the stream was cut short
//   output     write the literal, or copy the match (never past the announced
//              size); while fewer than targetSize bytes are out, back to item
//
// The bit reader keeps its buffer in locals for speed; CodecIo's readByte may clear
// targetSize (a bad block or an abort), which ends the run after the item.

// Fetches bytes until more than eight bits are valid, as the 1988 reader did
// (so input is taken at the same moments); the end marker becomes a zero byte.
static inline void fillBits(unsigned* buffer, int* count)
{
    while (*count <= 8) {
        unsigned c = takeByteQuick();
        if (c > 0xFF) {
            c = 0;
            standInBytes++;
        }
        *buffer |= c << (8 - *count);
        *count += 8;
    }
}

static inline unsigned takeBit(unsigned* buffer, int* count)
{
    if (*count <= 8)
        fillBits(buffer, count);
    unsigned bit = (*buffer >> 15) & 1;
    *buffer = (*buffer << 1) & 0xFFFF;
    (*count)--;
    return bit;
}

static inline unsigned takeByte(unsigned* buffer, int* count)
{
    if (*count <= 8)
        fillBits(buffer, count);
    unsigned byte = *buffer >> 8;
    *buffer = (*buffer << 8) & 0xFFFF;
    *count -= 8;
    return byte;
}

// Bits of the stand-in zero bytes that have been used: they were read last, so
// the bits still in the buffer are theirs first.
static inline uint32_t usedStandInBits(int count)
{
    uint32_t standIn = standInBytes * 8;
    return standIn > (uint32_t)count ? standIn - (uint32_t)count : 0;
}

int decodeStream(void)
{
    standInBytes = 0;
    overrunBits = 0;
    targetSize = codecIo.readSizeHeader();
    if (targetSize == 0)
        return 0;
    const uint32_t announced = targetSize;
    const CodecTraceHook trace = codecTraceHook;   // read once: tests only
    startModel();
    startWindow();
    unsigned buffer = bitInBuffer;
    int count = bitInCount;
    unsigned r = INITIAL_FILL;
    uint32_t produced = 0;
    uint16_t path[TABLE_SIZE];   // the nodes the walk passed, root first
    while (produced < targetSize) {
        unsigned at = ROOT;
        unsigned depth = 0;
        unsigned next = child[ROOT];
        do {
            path[depth++] = (uint16_t)at;
            at = next + takeBit(&buffer, &count);
            next = child[at];
        } while (next < TABLE_SIZE);
        unsigned symbol = next - TABLE_SIZE;
        unsigned bits = depth;
        updateAlongPath(symbol, at, path + depth - 1, -1, depth);
        if (symbol < 256) {
            if (standInBytes && usedStandInBits(count))
                break;
            if (trace)
                trace(symbol, 0, bits);
            textBuffer[r] = (uint8_t)symbol;
            r = (r + 1) & WINDOW_MASK;
            produced++;
            putByteQuick(symbol);
            continue;
        }
        unsigned b = takeByte(&buffer, &count);
        unsigned high = positionTables.decodeHigh[b];
        for (unsigned extra = positionTables.decodeLength[b] - 2u; extra > 0; extra--)
            b = ((b << 1) + takeBit(&buffer, &count)) & 0xFFFF;
        unsigned position = (high << 6) | (b & 0x3F);
        if (standInBytes && usedStandInBits(count))
            break;
        if (trace)
            trace(symbol, position, bits);
        // A damaged stream may code a match past the announced size; cut it.
        uint32_t length = symbol - (255 - THRESHOLD);
        if (length > announced - produced)
            length = announced - produced;
        unsigned from = (r - position - 1) & WINDOW_MASK;
        unsigned start = r;
        produced += length;
        if (from < r && r - from >= 8 && r + length <= WINDOW_SIZE) {
            copyShort(&textBuffer[r], &textBuffer[from], length);
            r = (r + length) & WINDOW_MASK;
            putBytesQuick(&textBuffer[start], length);
            continue;
        }
        for (uint32_t k = 0; k < length; k++) {   // byte by byte: an overlap repeats
            textBuffer[r] = textBuffer[(from + k) & WINDOW_MASK];
            r = (r + 1) & WINDOW_MASK;
        }
        if (start + length <= WINDOW_SIZE) {
            putBytesQuick(&textBuffer[start], length);
        } else {   // the copy wrapped round the window
            codecIo.writeBytes(&textBuffer[start], (int32_t)(WINDOW_SIZE - start));
            codecIo.writeBytes(textBuffer, (int32_t)(length - (WINDOW_SIZE - start)));
        }
    }
    bitInBuffer = buffer;
    bitInCount = count;
    overrunBits = usedStandInBits(count);
    return 1;
}
