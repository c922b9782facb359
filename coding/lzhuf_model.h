// lzhuf_model.h - what the LZHUF decoder (lzhuf.cpp) and encoder
// (lzhuf_encode.cpp) share: the constants, the window, the adaptive Huffman
// model, the fixed position code and the quick byte operations over CodecIo.
// Internal to the codec; include it from those two files only.
//
// The state below is static, so each of the two files has its own copy: they
// never run at the same time and each starts its model afresh, and a table
// private to its file lets the compiler keep the decoder's hot loop as tight
// as when the codec was one file. A program that only decodes carries one copy.
#ifndef CODING_LZHUF_MODEL_H
#define CODING_LZHUF_MODEL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "coding/lzhuf.h"

enum {
    WINDOW_SIZE = 4096,
    WINDOW_MASK = WINDOW_SIZE - 1,
    LOOKAHEAD = 60,                               // longest match
    THRESHOLD = 2,                                // matches this short are literals
    TREE_NIL = WINDOW_SIZE,                       // no node in the match-finder trees
    SYMBOL_COUNT = 256 - THRESHOLD + LOOKAHEAD,   // 256 literals + 58 lengths = 314
    TABLE_SIZE = SYMBOL_COUNT * 2 - 1,            // nodes of the Huffman tree, 627
    ROOT = TABLE_SIZE - 1,
    FREQUENCY_CAP = 0x8000,                       // the root's frequency that forces a rebuild
    INITIAL_FILL = WINDOW_SIZE - LOOKAHEAD,       // window bytes that start as spaces
    MIRROR_SIZE = LOOKAHEAD - 1,                  // bytes 0..58 repeat after the window
    // The match finder compares eight bytes at a time and may look up to
    // 64 bytes past a window position; the extra bytes never count.
    COMPARE_SLACK = 8
};

// ---- Window and model (about 8.6 KB per including file) ----------------------

// The window, its mirror of bytes 0..58 so that a 60-byte comparison from any
// position never wraps, and slack for the eight-byte compares.
static uint8_t textBuffer[WINDOW_SIZE + MIRROR_SIZE + COMPARE_SLACK];

// Huffman model. Positions stay sorted by frequency (sibling property); the
// children of a node sit at an even position and the odd one after it.
// frequency[627] is a sentinel above every real frequency, and eight more
// sentinels let the exchange scan look at eight entries at a time.
static uint16_t frequency[TABLE_SIZE + 1 + 8];
static uint16_t child[TABLE_SIZE];           // first child, or 627 + symbol for a leaf
static uint16_t parent[TABLE_SIZE + SYMBOL_COUNT];   // 627 + symbol: the leaf's position

// ---- Fixed prefix code for the upper six bits of a position ------------------
// Canonical code: lengths 3 (u = 0), 4 (1..3), 5 (4..11), 6 (12..23), 7 (24..47)
// and 8 (48..63); each code is the previous plus one, widened with a zero bit
// on the right when the length grows. These are the published tables.
struct PositionTables {
    uint8_t encodeCode[64];      // code of u, left-aligned in a byte
    uint8_t encodeLength[64];
    uint8_t decodeHigh[256];     // u whose code begins these eight bits
    uint8_t decodeLength[256];   // length of that code
};

static constexpr unsigned positionCodeLength(unsigned u)
{
    return u < 1 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
}

static constexpr PositionTables makePositionTables()
{
    PositionTables t{};
    unsigned code = 0;
    unsigned length = positionCodeLength(0);
    unsigned next = 0;   // next decode index to fill
    for (unsigned u = 0; u < 64; u++) {
        unsigned want = positionCodeLength(u);
        if (u > 0) {
            code++;
            while (length < want) {
                code <<= 1;
                length++;
            }
        }
        unsigned aligned = code << (8 - length);
        t.encodeCode[u] = (uint8_t)aligned;
        t.encodeLength[u] = (uint8_t)length;
        for (unsigned k = 0; k < (1u << (8 - length)); k++) {
            t.decodeHigh[next] = (uint8_t)u;
            t.decodeLength[next] = (uint8_t)length;
            next++;
        }
    }
    return t;
}

static constexpr PositionTables positionTables = makePositionTables();
static_assert(positionTables.encodeCode[1] == 0x20 && positionTables.encodeCode[4] == 0x50 &&
              positionTables.encodeCode[12] == 0x90 && positionTables.encodeCode[24] == 0xC0 &&
              positionTables.encodeCode[48] == 0xF0 && positionTables.encodeCode[63] == 0xFF,
              "position code");
static_assert(positionTables.decodeHigh[255] == 63 && positionTables.decodeHigh[31] == 0 &&
              positionTables.decodeHigh[32] == 1, "position decode table covers all bytes");

// ---- Byte operations ----------------------------------------------------------
// The common case inline; CodecIo's slots for the rest.

static inline unsigned takeByteQuick(void)
{
    if (codecIo.inputNext < codecIo.inputEnd && codecIo.ticksLeft > 1) {
        codecIo.ticksLeft--;
        return *codecIo.inputNext++;
    }
    return codecIo.readByte();
}

static inline void putByteQuick(unsigned byte)
{
    if (codecIo.outputNext < codecIo.outputRoomEnd && codecIo.ticksLeft > 1) {
        codecIo.ticksLeft--;
        *codecIo.outputNext++ = (uint8_t)byte;
        return;
    }
    codecIo.writeByte(byte);
}

// Copies count (up to 60) bytes forward. The areas may overlap when dst lies
// at least eight bytes after src: each piece is read after the pieces before
// it were written, as a copy byte by byte would.
static inline void copyShort(uint8_t* dst, const uint8_t* src, unsigned count)
{
    if (count >= 8) {
        unsigned i = 0;
        for (; i + 8 <= count; i += 8)
            memcpy(dst + i, src + i, 8);
        if (i < count)
            memcpy(dst + count - 8, src + count - 8, 8);
    } else if (count >= 4) {
        memcpy(dst, src, 4);
        memcpy(dst + count - 4, src + count - 4, 4);
    } else {
        for (unsigned i = 0; i < count; i++)
            dst[i] = src[i];
    }
}

static inline void putBytesQuick(const uint8_t* bytes, unsigned count)
{
    if (codecIo.outputRoomEnd - codecIo.outputNext > (ptrdiff_t)count &&
        codecIo.ticksLeft > (int32_t)count) {
        codecIo.ticksLeft -= (int32_t)count;
        copyShort(codecIo.outputNext, bytes, count);
        codecIo.outputNext += count;
        return;
    }
    codecIo.writeBytes(bytes, (int32_t)count);
}

// The whole buffer is cleared, look-ahead and mirror included, so that equal
// input always codes to equal output; then the first 4036 bytes become spaces.
static inline void startWindow(void)
{
    memset(textBuffer, 0, sizeof textBuffer);
    memset(textBuffer, ' ', INITIAL_FILL);
}

// ---- Huffman model ------------------------------------------------------------

static inline void startModel(void)
{
    for (unsigned i = 0; i < SYMBOL_COUNT; i++) {
        frequency[i] = 1;
        child[i] = (uint16_t)(i + TABLE_SIZE);
        parent[i + TABLE_SIZE] = (uint16_t)i;
    }
    for (unsigned i = 0, j = SYMBOL_COUNT; j <= ROOT; i += 2, j++) {
        frequency[j] = (uint16_t)(frequency[i] + frequency[i + 1]);
        child[j] = (uint16_t)i;
        parent[i] = parent[i + 1] = (uint16_t)j;
    }
    for (unsigned i = TABLE_SIZE; i < sizeof frequency / sizeof frequency[0]; i++)
        frequency[i] = 0xFFFF;
    parent[ROOT] = 0;
}

// Halves the leaf frequencies and builds the tree again from them.
static inline void rebuildTree(void)
{
    unsigned j = 0;
    for (unsigned i = 0; i < TABLE_SIZE; i++) {
        if (child[i] >= TABLE_SIZE) {
            frequency[j] = (uint16_t)((frequency[i] + 1u) / 2u);
            child[j] = child[i];
            j++;
        }
    }
    // Join the two lowest nodes at a time; the sum goes in after the last
    // node whose frequency is not greater.
    for (unsigned i = 0, j = SYMBOL_COUNT; j < TABLE_SIZE; i += 2, j++) {
        unsigned f = (uint16_t)(frequency[i] + frequency[i + 1]);
        unsigned k = j - 1;
        while (f < frequency[k])
            k--;
        k++;
        memmove(&frequency[k + 1], &frequency[k], (j - k) * sizeof frequency[0]);
        frequency[k] = (uint16_t)f;
        memmove(&child[k + 1], &child[k], (j - k) * sizeof child[0]);
        child[k] = (uint16_t)i;
    }
    for (unsigned i = 0; i < TABLE_SIZE; i++) {
        unsigned k = child[i];
        parent[k] = (uint16_t)i;
        if (k < TABLE_SIZE)
            parent[k + 1] = (uint16_t)i;
    }
}

// Last position after n whose frequency is below k (the scan starts at n + 2:
// the caller found frequency[n + 1] below k already). The sentinels end it.
static inline unsigned lastBelow(unsigned n, unsigned k)
{
#if defined(__SSE2__)
    const __m128i key = _mm_set1_epi16((short)k);
    for (unsigned l = n + 2;; l += 8) {
        __m128i f = _mm_loadu_si128((const __m128i*)&frequency[l]);
        // k - f saturates to zero where f >= k: the first of those ends the scan.
        unsigned stop = (unsigned)_mm_movemask_epi8(
            _mm_cmpeq_epi16(_mm_subs_epu16(key, f), _mm_setzero_si128()));
        if (stop != 0)
            return l + ((unsigned)__builtin_ctz(stop) >> 1) - 1;
    }
#else
    // Frequencies never fall along the positions, so when the fourth ahead
    // is below k the three before it are too: the scan strides, then closes
    // in by halves. The sentinels lie far enough past the root for the stride.
    unsigned l = n + 2;
    while (frequency[l + 3] < k)
        l += 4;
    if (frequency[l + 1] < k)
        l += 2;
    if (frequency[l] < k)
        l += 1;
    return l - 1;
#endif
}

// Watch::exchanged(n, l) is told of every exchange of positions n and l (the
// decoder keeps a table of the top of the tree); the encoder needs no word.
struct NoWatch {
    static inline void exchanged(unsigned, unsigned) {}
};

// The node at n has just reached frequency k, more than the node after it:
// it changes places with the last node of lower frequency. Returns its new
// position.
template <typename Watch>
static inline unsigned exchangeNode(unsigned n, unsigned k)
{
    unsigned l = lastBelow(n, k);
    frequency[n] = frequency[l];
    frequency[l] = (uint16_t)k;

    unsigned i = child[n];
    parent[i] = (uint16_t)l;
    if (i < TABLE_SIZE)
        parent[i + 1] = (uint16_t)l;
    unsigned j = child[l];
    child[l] = (uint16_t)i;
    parent[j] = (uint16_t)n;
    if (j < TABLE_SIZE)
        parent[j + 1] = (uint16_t)n;
    child[n] = (uint16_t)j;
    Watch::exchanged(n, l);
    return l;
}

// Counts one more occurrence at n and at each node above it, restoring the
// order of frequencies on the way up.
template <typename Watch>
static inline void climbFrom(unsigned n)
{
    do {
        unsigned k = (uint16_t)(frequency[n] + 1);
        frequency[n] = (uint16_t)k;
        if (k > frequency[n + 1])
            n = exchangeNode<Watch>(n, k);
        n = parent[n];
    } while (n != 0);
}

// Counts one more occurrence of symbol, as climbFrom from its leaf does, for
// a caller that has just walked between the leaf (at position leaf) and the
// root: the depth nodes above the leaf are *above, *(above +
// step), ..., nearest the leaf first. Until a node moves the next one up is
// known without a lookup, so the counts along the path need not wait for
// each other.
template <typename Watch>
static inline void updateAlongPath(unsigned symbol, unsigned leaf, const uint16_t* above,
                                   int step, unsigned depth)
{
    if (frequency[ROOT] == FREQUENCY_CAP) {
        rebuildTree();   // the path is gone
        climbFrom<Watch>(parent[symbol + TABLE_SIZE]);
        return;
    }
    unsigned n = leaf;
    for (;;) {
        unsigned k = (uint16_t)(frequency[n] + 1);
        frequency[n] = (uint16_t)k;
        if (k > frequency[n + 1]) {
            n = parent[exchangeNode<Watch>(n, k)];
            if (n != 0)
                climbFrom<Watch>(n);
            return;
        }
        if (depth == 0)
            return;   // that was the root
        depth--;
        n = *above;
        above += step;
    }
}

#endif
