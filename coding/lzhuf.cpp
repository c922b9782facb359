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

// ---- Table of the top of the tree ----------------------------------------------
//
// The next eight bits of the stream name the position (slot) that a walk from
// the root reaches after at most eight levels: a leaf's slot, or the slot at
// depth eight from which the walk goes on bit by bit. Entries name slots, not
// symbols, so exchanging two leaves never spoils them. When an exchange moves
// an internal node into or out of the top seven levels, the entries below the
// two slots are made again (under 6 % of the decoding work on program code);
// a rebuild of the tree remakes the whole table.
enum { ROOT_BITS = 8, NOT_IN_TOP = ROOT_BITS };

static uint16_t rootTable[1u << ROOT_BITS];   // slot | depth << 10
// Depth of each slot above level 8 and the bits that lead to it; 8 for the
// other slots.
static uint8_t topDepth[TABLE_SIZE];
static uint8_t topPrefix[TABLE_SIZE];
// The nodes above each slot down to level 8, root first, so that the model
// update after a symbol knows its path without parent[] loads.
static uint16_t ancestors[TABLE_SIZE][ROOT_BITS];

// Enters the slot at depth, reached by the bits of prefix, and the slots below
// it down to level 8.
static void fillRootTable(unsigned slot, unsigned depth, unsigned prefix, uint16_t* above)
{
    memcpy(ancestors[slot], above, sizeof ancestors[slot]);
    unsigned first = child[slot];
    if (depth == ROOT_BITS)
        return;   // entered by the level above
    topDepth[slot] = (uint8_t)depth;
    topPrefix[slot] = (uint8_t)prefix;
    if (first >= TABLE_SIZE) {
        unsigned width = 1u << (ROOT_BITS - depth);
        uint16_t entry = (uint16_t)(slot | depth << 10);
        uint16_t* to = &rootTable[prefix << (ROOT_BITS - depth)];
        for (unsigned k = 0; k < width; k++)
            to[k] = entry;
        return;
    }
    above[depth] = (uint16_t)slot;
    if (depth + 1 == ROOT_BITS) {
        rootTable[prefix << 1] = (uint16_t)(first | ROOT_BITS << 10);
        rootTable[(prefix << 1) | 1] = (uint16_t)((first + 1) | ROOT_BITS << 10);
    }
    fillRootTable(first, depth + 1, prefix << 1, above);
    fillRootTable(first + 1, depth + 1, (prefix << 1) | 1, above);
}

// The slots below slot, whose subtree stood at depth before it moved, leave
// the top levels.
static void leaveTop(unsigned slot, unsigned depth)
{
    unsigned first = child[slot];
    if (first >= TABLE_SIZE || depth + 1 >= ROOT_BITS)
        return;
    topDepth[first] = topDepth[first + 1] = NOT_IN_TOP;
    leaveTop(first, depth + 1);
    leaveTop(first + 1, depth + 1);
}

static void refillBelow(unsigned slot)
{
    uint16_t above[ROOT_BITS];
    memcpy(above, ancestors[slot], sizeof above);
    fillRootTable(slot, topDepth[slot], topPrefix[slot], above);
}

static void makeRootTable(void)
{
    uint16_t above[ROOT_BITS] = {0};
    memset(topDepth, NOT_IN_TOP, sizeof topDepth);
    fillRootTable(ROOT, 0, 0, above);
}

struct RootTableWatch {
    // Positions n and l have just exchanged their subtrees.
    static inline void exchanged(unsigned n, unsigned l)
    {
        unsigned atN = topDepth[n], atL = topDepth[l];
        if ((atN & atL) >= NOT_IN_TOP || (child[n] >= TABLE_SIZE && child[l] >= TABLE_SIZE))
            return;   // below the top, or two leaves: the shape stays
        if (atN < NOT_IN_TOP)
            leaveTop(l, atN);   // what stood below n now hangs below l
        if (atL < NOT_IN_TOP)
            leaveTop(n, atL);
        if (atN < NOT_IN_TOP)
            refillBelow(n);
        if (atL < NOT_IN_TOP)
            refillBelow(l);
    }
};

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
// Input bytes are taken at the same moments as by the 1988 reader, which
// fetched a byte whenever a bit was wanted and eight or fewer were valid: after
// every item at least eight bits are valid and no more bytes are taken than
// that needs. So a damaged or cut block is met, and the hooks are called,
// between the same items as ever. The reader keeps its bits in locals, left-
// aligned in 32 bits; CodecIo's readByte may clear targetSize (a bad block or
// an abort), which ends the run after the item.

// Fetches one byte below the valid bits; the end marker becomes a zero byte.
static inline void fetchByte(uint32_t* buffer, int* count)
{
    unsigned c = takeByteQuick();
    if (c > 0xFF) {
        c = 0;
        standInBytes++;
    }
    *buffer |= (uint32_t)c << (24 - *count);
    *count += 8;
}

// Makes at least want bits valid (want <= 22), with the fewest bytes that
// do. When the block holds them, one or two bytes come in one load.
static inline void fetchUntil(uint32_t* buffer, int* count, int want)
{
    if (*count >= want)
        return;
    int bytes = (want - *count + 7) >> 3;
    if (codecIo.inputEnd - codecIo.inputNext >= 4 && codecIo.ticksLeft > bytes) {
        const uint8_t* in = codecIo.inputNext;
        uint32_t word = (uint32_t)in[0] << 24 | (uint32_t)in[1] << 16 | (uint32_t)in[2] << 8 | in[3];
        word &= ~(0xFFFFFFFFu >> (bytes * 8));
        *buffer |= word >> *count;
        *count += bytes * 8;
        codecIo.inputNext = in + bytes;
        codecIo.ticksLeft -= bytes;
        return;
    }
    while (*count < want)
        fetchByte(buffer, count);
}

static inline unsigned takeBit(uint32_t* buffer, int* count)
{
    fetchUntil(buffer, count, 9);
    unsigned bit = *buffer >> 31;
    *buffer <<= 1;
    (*count)--;
    return bit;
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
    makeRootTable();
    uint32_t buffer = (uint32_t)bitInBuffer << 16;
    int count = bitInCount;
    unsigned r = INITIAL_FILL;
    uint32_t produced = 0;
    uint16_t path[TABLE_SIZE];   // the nodes above the leaf, root first
    while (produced < targetSize) {
        fetchUntil(&buffer, &count, ROOT_BITS);
        unsigned entry = rootTable[buffer >> (32 - ROOT_BITS)];
        unsigned at = entry & 0x3FF;
        unsigned depth = entry >> 10;
        buffer <<= depth;
        count -= (int)depth;
        unsigned next = child[at];
        // A leaf in the top levels takes its path from its ancestor list as
        // it stands: the update reads the list only until the first exchange.
        const uint16_t* above = &ancestors[at][depth - 1];
        if (next < TABLE_SIZE) {
            memcpy(path, ancestors[at], sizeof ancestors[at]);
            do {
                path[depth++] = (uint16_t)at;
                at = next + takeBit(&buffer, &count);
                next = child[at];
            } while (next < TABLE_SIZE);
            above = path + depth - 1;
        }
        fetchUntil(&buffer, &count, 8);
        unsigned symbol = next - TABLE_SIZE;
        unsigned bits = depth;
        bool rebuilds = frequency[ROOT] == FREQUENCY_CAP;
        updateAlongPath<RootTableWatch>(symbol, at, above, -1, depth);
        if (rebuilds)
            makeRootTable();
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
        // The position: eight bits name the upper six bits and the code's
        // length L; the L + 6 bits of the whole code end with the lower six.
        unsigned high8 = buffer >> 24;
        int codeBits = positionTables.decodeLength[high8] + 6;
        fetchUntil(&buffer, &count, codeBits + 8);
        unsigned position = (unsigned)positionTables.decodeHigh[high8] << 6 |
                            ((buffer >> (32 - codeBits)) & 0x3F);
        buffer <<= codeBits;
        count -= codeBits;
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
    bitInBuffer = buffer >> 16;
    bitInCount = count;
    overrunBits = usedStandInBits(count);
    return 1;
}
