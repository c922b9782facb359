// lzhuf.cpp - LZHUF codec: the match finder (binary search trees over the
// ring window), the adaptive Huffman model, the fixed position code and the
// bit input and output. Coded streams are bit for bit those of the 1988
// algorithm; only its faults are mended (see startWindow, encodeSymbol and
// decodeStream).
#include "lzhuf.h"

#include <stddef.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ---- Codec state (about 34 KB, all of it static) ----------------------------

// The window, its mirror of bytes 0..58 so that a 60-byte comparison from any
// position never wraps, and slack for the eight-byte compares.
static uint8_t textBuffer[WINDOW_SIZE + MIRROR_SIZE + COMPARE_SLACK];

// Match finder: one binary tree per first byte. Window positions are nodes
// 0..4095, 4096 is nil, and 4097 + byte is the root of that byte's tree,
// whose right child is the tree's top node. The two children of a node sit
// side by side, so the search picks one by index rather than by a branch.
enum { LEFT = 0, RIGHT = 1 };
static uint16_t treeChild[WINDOW_SIZE + 257][2];
static uint16_t parentNode[WINDOW_SIZE + 1];
static unsigned matchLength;
static unsigned matchPosition;                // distance back minus one

// Huffman model. Positions stay sorted by frequency (sibling property); the
// children of a node sit at an even position and the odd one after it.
// frequency[627] is a sentinel above every real frequency, and eight more
// sentinels let the exchange scan look at eight entries at a time.
static uint16_t frequency[TABLE_SIZE + 1 + 8];
static uint16_t child[TABLE_SIZE];           // first child, or 627 + symbol for a leaf
static uint16_t parent[TABLE_SIZE + SYMBOL_COUNT];   // 627 + symbol: the leaf's position

// Bit input: valid bits stand at the top of a 16-bit buffer.
static unsigned bitInBuffer;
static int bitInCount;
// Zero bytes that stood in for the end marker, and how many of their bits the
// last decode used.
static uint32_t standInBytes;
static uint32_t overrunBits;

// Bit output: pending bits at the top of a 16-bit buffer.
static unsigned bitOutBuffer;
static int bitOutCount;

static uint32_t targetSize;

CodecTraceHook codecTraceHook;

// Where encodeSymbolsForTest collects its bytes instead of writeByte.
static uint8_t* testOutput;
static int32_t testOutputRoom;
static int32_t testOutputCount;

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
// The common case inline; the block stream's functions for the rest.

static inline unsigned takeByteQuick(void)
{
    if (byteWindow.inputNext < byteWindow.inputEnd && byteWindow.ticksLeft > 1) {
        byteWindow.ticksLeft--;
        return *byteWindow.inputNext++;
    }
    return readByte();
}

static inline void putByteQuick(unsigned byte)
{
    if (byteWindow.outputNext < byteWindow.outputRoomEnd && byteWindow.ticksLeft > 1) {
        byteWindow.ticksLeft--;
        *byteWindow.outputNext++ = (uint8_t)byte;
        return;
    }
    writeByte(byte);
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
    if (byteWindow.outputRoomEnd - byteWindow.outputNext > (ptrdiff_t)count &&
        byteWindow.ticksLeft > (int32_t)count) {
        byteWindow.ticksLeft -= (int32_t)count;
        copyShort(byteWindow.outputNext, bytes, count);
        byteWindow.outputNext += count;
        return;
    }
    writeBytes(bytes, (int32_t)count);
}

// ---- State shared by both directions ----------------------------------------

void resetCoderState(void)
{
    targetSize = 0;
    bitInBuffer = 0;
    bitInCount = 0;
    bitOutBuffer = 0;
    bitOutCount = 0;
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

// The whole buffer is cleared, look-ahead and mirror included, so that equal
// input always codes to equal output; then the first 4036 bytes become spaces.
static void startWindow(void)
{
    memset(textBuffer, 0, sizeof textBuffer);
    memset(textBuffer, ' ', INITIAL_FILL);
}

// ---- Huffman model ------------------------------------------------------------

static void startModel(void)
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
static void rebuildTree(void)
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
    unsigned l = n + 1;
    while (k > frequency[++l]) {
    }
    return l - 1;
#endif
}

// The node at n has just reached frequency k, more than the node after it:
// it changes places with the last node of lower frequency. Returns its new
// position.
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
    return l;
}

// Counts one more occurrence at n and at each node above it, restoring the
// order of frequencies on the way up.
static inline void climbFrom(unsigned n)
{
    do {
        unsigned k = (uint16_t)(frequency[n] + 1);
        frequency[n] = (uint16_t)k;
        if (k > frequency[n + 1])
            n = exchangeNode(n, k);
        n = parent[n];
    } while (n != 0);
}

// Counts one more occurrence of symbol.
static inline void updateModel(unsigned symbol)
{
    if (frequency[ROOT] == FREQUENCY_CAP)
        rebuildTree();
    climbFrom(parent[symbol + TABLE_SIZE]);
}

// The same, for a caller that has just walked between the leaf (at position
// leaf) and the root: the depth nodes above the leaf are *above, *(above +
// step), ..., nearest the leaf first. Until a node moves the next one up is
// known without a lookup, so the counts along the path need not wait for
// each other.
static inline void updateAlongPath(unsigned symbol, unsigned leaf, const uint16_t* above,
                                   int step, unsigned depth)
{
    if (frequency[ROOT] == FREQUENCY_CAP) {
        rebuildTree();   // the path is gone
        climbFrom(parent[symbol + TABLE_SIZE]);
        return;
    }
    unsigned n = leaf;
    for (;;) {
        unsigned k = (uint16_t)(frequency[n] + 1);
        frequency[n] = (uint16_t)k;
        if (k > frequency[n + 1]) {
            n = parent[exchangeNode(n, k)];
            if (n != 0)
                climbFrom(n);
            return;
        }
        if (depth == 0)
            return;   // that was the root
        depth--;
        n = *above;
        above += step;
    }
}

// ---- Bit output -----------------------------------------------------------------

static inline void emitByte(unsigned byte)
{
    if (testOutput) {
        if (testOutputCount < testOutputRoom)
            testOutput[testOutputCount] = (uint8_t)byte;
        testOutputCount++;
        return;
    }
    putByteQuick(byte & 0xFF);
}

// Sends the top length bits (1..16) of the 16-bit word code.
static void putBits(int length, unsigned code)
{
    bitOutBuffer |= code >> bitOutCount;
    bitOutCount += length;
    if (bitOutCount >= 8) {
        emitByte(bitOutBuffer >> 8);
        bitOutCount -= 8;
        if (bitOutCount >= 8) {
            emitByte(bitOutBuffer & 0xFF);
            bitOutCount -= 8;
            bitOutBuffer = (code << (length - bitOutCount)) & 0xFFFF;
        } else {
            bitOutBuffer = (bitOutBuffer << 8) & 0xFFFF;
        }
    }
}

// Sends the top length bits (1..32) of a 32-bit word, in 16-bit pieces.
static inline void putBitsWide(int length, uint32_t code)
{
    if (length > 16) {
        putBits(16, code >> 16);
        putBits(length - 16, code & 0xFFFF);
    } else {
        putBits(length, code >> 16);
    }
}

static void flushBits(void)
{
    if (bitOutCount > 0)
        emitByte(bitOutBuffer >> 8);
}

// Sends the Huffman code of symbol, the bit nearest the root first, and counts
// the symbol. A code longer than 16 bits goes out in pieces: the 1988 encoder
// kept only the 16 bits nearest the root, so a leaf that deep came out wrong.
// The decoder walks bit by bit and reads any length. Returns the code length.
static unsigned encodeSymbol(unsigned symbol)
{
    // Bits are gathered leaf first; each full word is held back until the
    // bits nearer the root have gone out.
    uint32_t heldWords[(TABLE_SIZE + 31) / 32];
    unsigned heldCount = 0;
    uint32_t code = 0;
    int length = 0;
    uint16_t above[TABLE_SIZE];   // the nodes passed, nearest the leaf first
    unsigned depth = 0;
    unsigned leaf = parent[symbol + TABLE_SIZE];
    unsigned n = leaf;
    do {
        if (length == 32) {
            heldWords[heldCount++] = code;
            code = 0;
            length = 0;
        }
        code >>= 1;
        if (n & 1)
            code |= 0x80000000u;
        length++;
        n = parent[n];
        above[depth++] = (uint16_t)n;
    } while (n != ROOT);
    updateAlongPath(symbol, leaf, above, 1, depth);
    putBitsWide(length, code);
    unsigned total = (unsigned)length + heldCount * 32;
    while (heldCount > 0)
        putBitsWide(32, heldWords[--heldCount]);
    return total;
}

static void encodePosition(unsigned position)
{
    unsigned u = position >> 6;
    putBits(positionTables.encodeLength[u], (unsigned)positionTables.encodeCode[u] << 8);
    putBits(6, (position & 0x3F) << 10);
}

// ---- Match finder -----------------------------------------------------------------

static void startTrees(void)
{
    for (unsigned i = WINDOW_SIZE + 1; i <= WINDOW_SIZE + 256; i++)
        treeChild[i][RIGHT] = TREE_NIL;
    for (unsigned i = 0; i < WINDOW_SIZE; i++)
        parentNode[i] = TREE_NIL;
}

// Number of equal bytes (1..60) of the 60-byte strings at key and node, the
// first byte being equal already; *difference gets key byte minus node byte
// at the first difference, or 0 when all 60 agree.
static inline unsigned commonLength(const uint8_t* key, const uint8_t* node, int* difference)
{
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (unsigned i = 1; i < LOOKAHEAD; i += 8) {
        uint64_t a, b;
        memcpy(&a, key + i, 8);
        memcpy(&b, node + i, 8);
        uint64_t x = a ^ b;
        if (x != 0) {
            unsigned at = i + ((unsigned)__builtin_ctzll(x) >> 3);
            if (at >= LOOKAHEAD)
                break;
            // The first differing byte decides, as in the byte order of memory.
            *difference = __builtin_bswap64(a) > __builtin_bswap64(b) ? 1 : -1;
            return at;
        }
    }
#else
    for (unsigned i = 1; i < LOOKAHEAD; i++) {
        if (key[i] != node[i]) {
            *difference = (int)key[i] - (int)node[i];
            return i;
        }
    }
#endif
    *difference = 0;
    return LOOKAHEAD;
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define LEAD_WORDS 1
// Bytes 1..8 of the string at position p as a big-endian number, so that
// numbers compare as the strings do. Position TREE_NIL reads bytes past the
// window, never used.
static inline uint64_t leadWord(unsigned p)
{
    uint64_t w;
    memcpy(&w, &textBuffer[p + 1], 8);
    return __builtin_bswap64(w);
}
#else
#define LEAD_WORDS 0
#endif

// Puts window position r into the tree of its first byte and finds the longest
// match for the 60 bytes at r on the way (the nearest of equally long ones).
// A node that matches all 60 bytes is replaced by r.
static void insertNode(unsigned r)
{
    const uint8_t* key = &textBuffer[r];
    unsigned p = WINDOW_SIZE + 1 + key[0];
    unsigned side = RIGHT;
    unsigned bestLength = 0;
    unsigned bestPosition = matchPosition;
    treeChild[r][LEFT] = treeChild[r][RIGHT] = TREE_NIL;
#if LEAD_WORDS
    const uint64_t keyWord = leadWord(r);
    unsigned next = treeChild[p][side];
    uint64_t nextWord = leadWord(next);
#endif
    for (;;) {
#if !LEAD_WORDS
        unsigned next = treeChild[p][side];
#endif
        if (next == TREE_NIL) {
            treeChild[p][side] = (uint16_t)r;
            parentNode[r] = (uint16_t)p;
            matchLength = bestLength;
            matchPosition = bestPosition;
            return;
        }
        p = next;
        unsigned i;
#if LEAD_WORDS
        // Both children and their lead words are fetched while p is compared,
        // and the side is taken without a branch (it goes either way at
        // random): the walk then waits on one load a level instead of three.
        unsigned left = treeChild[p][LEFT];
        unsigned right = treeChild[p][RIGHT];
        uint64_t leftWord = leadWord(left);
        uint64_t rightWord = leadWord(right);
        uint64_t x = keyWord ^ nextWord;
        if (x != 0) {
            i = 1 + ((unsigned)__builtin_clzll(x) >> 3);
            side = keyWord > nextWord ? RIGHT : LEFT;
        } else {
            int difference;
            i = commonLength(key, &textBuffer[p], &difference);
            side = difference >= 0 ? RIGHT : LEFT;
        }
        uint64_t pick = 0 - (uint64_t)side;   // all ones for RIGHT
        next = left ^ ((left ^ right) & (unsigned)pick);
        nextWord = leftWord ^ ((leftWord ^ rightWord) & pick);
#else
        int difference;
        i = commonLength(key, &textBuffer[p], &difference);
        side = difference >= 0 ? RIGHT : LEFT;
#endif
        if (i > THRESHOLD) {
            // Longer wins; of equally long ones the nearer.
            unsigned position = ((r - p) & WINDOW_MASK) - 1;
            int better = i > bestLength || (i == bestLength && position < bestPosition);
            bestPosition = better ? position : bestPosition;
            bestLength = better ? i : bestLength;
            if (i >= LOOKAHEAD)
                break;
        }
    }
    matchLength = bestLength;
    matchPosition = bestPosition;
    // p holds the same 60 bytes: r takes its place.
    unsigned up = parentNode[p];
    parentNode[r] = (uint16_t)up;
    treeChild[r][LEFT] = treeChild[p][LEFT];
    treeChild[r][RIGHT] = treeChild[p][RIGHT];
    parentNode[treeChild[p][LEFT]] = (uint16_t)r;
    parentNode[treeChild[p][RIGHT]] = (uint16_t)r;
    treeChild[up][treeChild[up][RIGHT] == p ? RIGHT : LEFT] = (uint16_t)r;
    parentNode[p] = TREE_NIL;
}

static void deleteNode(unsigned p)
{
    if (parentNode[p] == TREE_NIL)
        return;
    unsigned q;
    if (treeChild[p][RIGHT] == TREE_NIL) {
        q = treeChild[p][LEFT];
    } else if (treeChild[p][LEFT] == TREE_NIL) {
        q = treeChild[p][RIGHT];
    } else {
        // Two children: the rightmost node of the left subtree takes p's place.
        q = treeChild[p][LEFT];
        if (treeChild[q][RIGHT] != TREE_NIL) {
            do {
                q = treeChild[q][RIGHT];
            } while (treeChild[q][RIGHT] != TREE_NIL);
            treeChild[parentNode[q]][RIGHT] = treeChild[q][LEFT];
            parentNode[treeChild[q][LEFT]] = parentNode[q];
            treeChild[q][LEFT] = treeChild[p][LEFT];
            parentNode[treeChild[p][LEFT]] = (uint16_t)q;
        }
        treeChild[q][RIGHT] = treeChild[p][RIGHT];
        parentNode[treeChild[p][RIGHT]] = (uint16_t)q;
    }
    unsigned up = parentNode[p];
    parentNode[q] = (uint16_t)up;
    treeChild[up][treeChild[up][RIGHT] == p ? RIGHT : LEFT] = (uint16_t)q;
    parentNode[p] = TREE_NIL;
}

// ---- Encoder ----------------------------------------------------------------------
//
// States of a run:
//   header     writeSizeHeader; size 0 ends the run here
//   prime      window start, first 60 bytes read, positions r-60..r inserted
//   item       code the match at r (or a literal) ...
//   slide      ... then take as many new bytes, moving s and r on; while the
//              look-ahead still holds bytes, back to item
//   finish     send the pending bits

int encodeStream(void)
{
    if (writeSizeHeader() == 0)
        return 0;
    startModel();
    startTrees();
    startWindow();
    unsigned s = 0;
    unsigned r = INITIAL_FILL;
    int length = 0;
    while (length < LOOKAHEAD) {
        unsigned c = takeByteQuick();
        if (c > 0xFF)
            break;
        textBuffer[r + length] = (uint8_t)c;
        length++;
    }
    for (unsigned i = 1; i <= LOOKAHEAD; i++)
        insertNode(r - i);
    insertNode(r);
    do {
        if ((int)matchLength > length)
            matchLength = (unsigned)length;
        if (matchLength <= THRESHOLD) {
            matchLength = 1;
            unsigned bits = encodeSymbol(textBuffer[r]);
            if (codecTraceHook)
                codecTraceHook(textBuffer[r], 0, bits);
        } else {
            unsigned symbol = 255 - THRESHOLD + matchLength;
            unsigned bits = encodeSymbol(symbol);
            encodePosition(matchPosition);
            if (codecTraceHook)
                codecTraceHook(symbol, matchPosition, bits);
        }
        unsigned step = matchLength;
        unsigned i = 0;
        for (; i < step; i++) {
            unsigned c = takeByteQuick();
            if (c > 0xFF)
                break;
            deleteNode(s);
            textBuffer[s] = (uint8_t)c;
            if (s < MIRROR_SIZE)
                textBuffer[s + WINDOW_SIZE] = (uint8_t)c;
            s = (s + 1) & WINDOW_MASK;
            r = (r + 1) & WINDOW_MASK;
            insertNode(r);
        }
        for (; i < step; i++) {   // the input has ended: the look-ahead shrinks
            deleteNode(s);
            s = (s + 1) & WINDOW_MASK;
            r = (r + 1) & WINDOW_MASK;
            if (--length)
                insertNode(r);
        }
    } while (length > 0);
    flushBits();
    return 1;
}

int32_t encodeSymbolsForTest(const uint16_t* symbols, int32_t count, uint8_t* out,
                             int32_t capacity, unsigned* longestCode)
{
    unsigned longest = 0;
    resetCoderState();
    startModel();
    testOutput = out;
    testOutputRoom = capacity;
    testOutputCount = 0;
    for (int32_t i = 0; i < count; i++) {
        unsigned bits = encodeSymbol(symbols[i] < SYMBOL_COUNT ? symbols[i] : 0);
        if (bits > longest)
            longest = bits;
    }
    flushBits();
    testOutput = 0;
    resetCoderState();
    if (longestCode)
        *longestCode = longest;
    return testOutputCount <= capacity ? testOutputCount : -1;
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
// The bit reader keeps its buffer in locals for speed; readByte may clear
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
    targetSize = readSizeHeader();
    if (targetSize == 0)
        return 0;
    const uint32_t announced = targetSize;
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
            if (codecTraceHook)
                codecTraceHook(symbol, 0, bits);
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
        if (codecTraceHook)
            codecTraceHook(symbol, position, bits);
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
            writeBytes(&textBuffer[start], (int32_t)(WINDOW_SIZE - start));
            writeBytes(textBuffer, (int32_t)(length - (WINDOW_SIZE - start)));
        }
    }
    bitInBuffer = buffer;
    bitInCount = count;
    overrunBits = usedStandInBits(count);
    return 1;
}
