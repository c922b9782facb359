// lzhuf_encode.cpp - LZHUF encoder: the match finder (binary search trees
// over the ring window), the bit output and the encode loop over the shared
// model (lzhuf_model.h). Coded streams are bit for bit those of the 1988
// algorithm; only its faults are mended (see encodeSymbol). A program that only
// decodes leaves this file out.
#include "coding/lzhuf_encode.h"

#include "coding/lzhuf_model.h"

// ---- Encoder state (about 26 KB besides the model) ---------------------------

// Match finder: one binary tree per first byte. Window positions are nodes
// 0..4095, 4096 is nil, and 4097 + byte is the root of that byte's tree,
// whose right child is the tree's top node. The two children of a node sit
// side by side: the search fetches both and keeps one without a branch.
enum { LEFT = 0, RIGHT = 1 };
// A match as one number: its length above how near it is (4095 - position),
// so that a greater number is a longer match or an equally long nearer one.
enum { SCORE_SHIFT = 12 };
static uint16_t treeChild[WINDOW_SIZE + 257][2];
static uint16_t parentNode[WINDOW_SIZE + 1];
static unsigned matchLength;
static unsigned matchPosition;                // distance back minus one

// Bit output: pending bits (fewer than 32) at the top of a 64-bit buffer.
static uint64_t bitOutBuffer;
static unsigned bitOutCount;

// ---- Bit output -----------------------------------------------------------------

// Sends the top length bits (0..32) of code.
static inline void putBits(unsigned length, uint64_t code)
{
    bitOutBuffer |= code >> bitOutCount;
    bitOutCount += length;
    if (bitOutCount >= 32) {
        uint8_t bytes[4] = {(uint8_t)(bitOutBuffer >> 56), (uint8_t)(bitOutBuffer >> 48),
                            (uint8_t)(bitOutBuffer >> 40), (uint8_t)(bitOutBuffer >> 32)};
        putBytesQuick(bytes, 4);
        bitOutBuffer <<= 32;
        bitOutCount -= 32;
    }
}

// Sends the pending bits, the last byte filled with zero bits.
static void flushBits(void)
{
    for (; bitOutCount > 0; bitOutCount = bitOutCount > 8 ? bitOutCount - 8 : 0) {
        putByteQuick((unsigned)(bitOutBuffer >> 56));
        bitOutBuffer <<= 8;
    }
}

static void startBits(void)
{
    bitOutBuffer = 0;
    bitOutCount = 0;
}

// Code cache: the code of each slot (tree position), nearest the root in the
// top bits, and its length; 0 when not known. Exchanging two leaves leaves
// every slot's code as it was (the leaves change slots, the slots stay where
// they are), so on random data nearly every symbol finds its code here; an
// exchange that moves a subtree forgets the codes below the two slots, and a
// rebuild forgets them all. Where subtrees move often (program code, text)
// forgetting costs more than the cache saves: it is used only while fewer
// than one symbol in CACHE_RARE_MOVES moves a subtree, judged anew every
// CACHE_JUDGE_SYMBOLS symbols.
enum { CACHE_JUDGE_SYMBOLS = 4096, CACHE_RARE_MOVES = 64 };
static uint64_t slotCode[TABLE_SIZE];
static uint8_t slotLength[TABLE_SIZE];
static bool codeCacheOn;
static unsigned subtreeMoves;      // in this judging period
static unsigned symbolsToJudge;    // until the next judgement

static void forgetCodes(void)
{
    memset(slotLength, 0, sizeof slotLength);
}

static void startCodeCache(void)
{
    forgetCodes();
    codeCacheOn = false;
    subtreeMoves = 0;
    symbolsToJudge = CACHE_JUDGE_SYMBOLS;
}

// Forgets the codes of the slots below slot.
static void forgetCodesBelow(unsigned slot)
{
    unsigned first = child[slot];
    if (first >= TABLE_SIZE)
        return;   // a leaf
    slotLength[first] = slotLength[first + 1] = 0;
    forgetCodesBelow(first);
    forgetCodesBelow(first + 1);
}

struct CodeCacheWatch {
    // Positions n and l have just exchanged their subtrees.
    static inline void exchanged(unsigned n, unsigned l)
    {
        if (child[n] >= TABLE_SIZE && child[l] >= TABLE_SIZE)
            return;   // two leaves: every slot keeps its code
        subtreeMoves++;
        if (codeCacheOn) {
            forgetCodesBelow(n);
            forgetCodesBelow(l);
        }
    }
};

// Counts a symbol and, at the end of a judging period, turns the cache on or
// off; turned on, it starts empty, as its codes were not kept up to date.
static inline void judgeCodeCache(void)
{
    if (--symbolsToJudge != 0)
        return;
    bool on = subtreeMoves * CACHE_RARE_MOVES < CACHE_JUDGE_SYMBOLS;
    if (on && !codeCacheOn)
        forgetCodes();
    codeCacheOn = on;
    subtreeMoves = 0;
    symbolsToJudge = CACHE_JUDGE_SYMBOLS;
}

// Sends the Huffman code of symbol, the bit nearest the root first, and counts
// the symbol. The 1988 encoder kept only the 16 bits nearest the root, so a
// leaf deeper than that came out wrong; here a code has any length (the
// decoder walks bit by bit and reads any length). Returns the code length.
static unsigned encodeSymbol(unsigned symbol)
{
    judgeCodeCache();
    unsigned known = codeCacheOn ? slotLength[parent[symbol + TABLE_SIZE]] : 0;
    if (known != 0 && frequency[ROOT] != FREQUENCY_CAP) {
        unsigned leaf = parent[symbol + TABLE_SIZE];
        uint64_t code = slotCode[leaf];
        climbFrom<CodeCacheWatch>(leaf);
        if (known > 32) {
            putBits(32, code);
            putBits(known - 32, code << 32);
        } else {
            putBits(known, code);
        }
        return known;
    }
    enum { WORD_BITS = 64 };
    // Bits are gathered leaf first, into the top of a word; a code longer
    // than a word keeps its words until the bits nearer the root have gone.
    uint64_t heldWords[(TABLE_SIZE + WORD_BITS - 1) / WORD_BITS];
    unsigned heldCount = 0;
    uint64_t code = 0;
    unsigned length = 0;
    uint16_t above[TABLE_SIZE];   // the nodes passed, nearest the leaf first
    unsigned depth = 0;
    unsigned leaf = parent[symbol + TABLE_SIZE];
    unsigned n = leaf;
    do {
        if (length == WORD_BITS) {
            heldWords[heldCount++] = code;
            code = 0;
            length = 0;
        }
        code = code >> 1 | (uint64_t)n << (WORD_BITS - 1);   // n's lowest bit: which child
        length++;
        n = parent[n];
        above[depth++] = (uint16_t)n;
    } while (n != ROOT);
    if (codeCacheOn && heldCount == 0) {   // the slot's code, before the update moves anything
        slotCode[leaf] = code;
        slotLength[leaf] = (uint8_t)length;
    }
    const bool rebuilds = frequency[ROOT] == FREQUENCY_CAP;
    updateAlongPath<CodeCacheWatch>(symbol, leaf, above, 1, depth);
    if (rebuilds)
        forgetCodes();
    if (length > 32) {
        putBits(32, code);
        code <<= 32;
        length -= 32;
    }
    putBits(length, code);
    while (heldCount > 0) {
        uint64_t word = heldWords[--heldCount];
        putBits(32, word);
        putBits(32, word << 32);
    }
    return depth;
}

static void encodePosition(unsigned position)
{
    unsigned u = position >> 6;
    unsigned length = positionTables.encodeLength[u];
    uint64_t code = (uint64_t)positionTables.encodeCode[u] << 56 | (uint64_t)(position & 0x3F) << (58 - length);
    putBits(length + 6, code);
}

// ---- Match finder -----------------------------------------------------------------

static void startTrees(void)
{
    for (unsigned i = WINDOW_SIZE + 1; i <= WINDOW_SIZE + 256; i++)
        treeChild[i][RIGHT] = TREE_NIL;
    for (unsigned i = 0; i < WINDOW_SIZE; i++)
        parentNode[i] = TREE_NIL;
}

// Eight bytes as a big-endian number, so that numbers compare as the
// byte strings do.
static inline uint64_t bigEndian64(const uint8_t* b)
{
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t w;
    memcpy(&w, b, 8);
    return __builtin_bswap64(w);
#else
    uint64_t w = 0;
    for (unsigned i = 0; i < 8; i++)
        w = w << 8 | b[i];
    return w;
#endif
}

// Leading zero bytes of a non-zero word.
static inline unsigned leadingZeroBytes(uint64_t x)
{
#if defined(__GNUC__)
    return (unsigned)__builtin_clzll(x) >> 3;
#else
    unsigned n = 0;
    for (; !(x >> 56); x <<= 8)
        n++;
    return n;
#endif
}

// Number of equal bytes (from..60) of the 60-byte strings at key and node, the
// bytes before from being equal already; *side gets RIGHT when the key is
// greater at the first difference or all 60 agree, else LEFT.
static inline unsigned commonLength(const uint8_t* key, const uint8_t* node, unsigned from,
                                    unsigned* side)
{
    for (unsigned i = from; i < LOOKAHEAD; i += 8) {
        uint64_t a = bigEndian64(key + i);
        uint64_t b = bigEndian64(node + i);
        if (a != b) {
            unsigned at = i + leadingZeroBytes(a ^ b);
            if (at >= LOOKAHEAD)
                break;
            *side = a > b ? RIGHT : LEFT;
            return at;
        }
    }
    *side = RIGHT;
    return LOOKAHEAD;
}

// Bytes 1..8 of the string at position p (see bigEndian64). Position
// TREE_NIL reads bytes past the window, never used.
static inline uint64_t leadWord(unsigned p)
{
    return bigEndian64(&textBuffer[p + 1]);
}

// Replaces *node and *word by right and rightWord when key is above lead,
// without a branch: the side goes either way at random, and the walk waits
// on the choice (a conditional move straight from the comparison where the
// compiler's choice would be a branch or a longer sequence).
static inline void pickAbove(uint64_t key, uint64_t lead, unsigned right, uint64_t rightWord,
                             unsigned* node, uint64_t* word)
{
#if defined(__GNUC__) && defined(__x86_64__)
    unsigned n = *node;
    uint64_t w = *word;
    __asm__("cmp %[lead], %[key]\n\t"
            "cmova %[rightWord], %[w]\n\t"
            "cmova %[right], %[n]"
            : [w] "+r"(w), [n] "+r"(n)
            : [key] "r"(key), [lead] "r"(lead), [rightWord] "r"(rightWord), [right] "r"(right)
            : "cc");
    *node = n;
    *word = w;
#else
    uint64_t pick = 0 - (uint64_t)(key > lead);   // all ones for the right
    *node ^= (*node ^ right) & (unsigned)pick;
    *word ^= (*word ^ rightWord) & pick;
#endif
}

// Puts window position r into the tree of its first byte; with FindMatch, also
// finds the longest match for the 60 bytes at r on the way (the nearest of
// equally long ones). A node that matches all 60 bytes is replaced by r.
// Inside a match only the insertion counts, so the encoder asks for the
// match where an item starts.
template <bool FindMatch>
static void insertNode(unsigned r)
{
    const uint8_t* key = &textBuffer[r];
    unsigned p = WINDOW_SIZE + 1 + key[0];
    unsigned side = RIGHT;
    unsigned best = 0;   // score of the best match so far; 0: none yet
    treeChild[r][LEFT] = treeChild[r][RIGHT] = TREE_NIL;
    const uint64_t keyWord = leadWord(r);
    unsigned next = treeChild[p][side];
    uint64_t nextWord = leadWord(next);
    for (;;) {
        if (next == TREE_NIL) {
            treeChild[p][side] = (uint16_t)r;
            parentNode[r] = (uint16_t)p;
            if (FindMatch) {
                matchLength = best >> SCORE_SHIFT;
                matchPosition = WINDOW_MASK - (best & WINDOW_MASK);
            }
            return;
        }
        p = next;
        // Both children and their lead words are fetched while p is compared,
        // and the side is taken without a branch (it goes either way at
        // random): the walk then waits on one load a level instead of three.
        unsigned left = treeChild[p][LEFT];
        unsigned right = treeChild[p][RIGHT];
        uint64_t leftWord = leadWord(left);
        uint64_t rightWord = leadWord(right);
        uint64_t x = keyWord ^ nextWord;
        unsigned i;
        if (x != 0) {
            side = keyWord > nextWord ? RIGHT : LEFT;
            i = 1 + leadingZeroBytes(x);
            pickAbove(keyWord, nextWord, right, rightWord, &left, &leftWord);
        } else {
            i = commonLength(key, &textBuffer[p], 9, &side);
            if (side == RIGHT) {
                left = right;
                leftWord = rightWord;
            }
        }
        next = left;
        nextWord = leftWord;
        if (FindMatch) {
            // Longer wins; of equally long ones the nearer. Length and
            // nearness make one number, so that the best is kept without a
            // branch. Matches of THRESHOLD bytes or fewer count too: the
            // caller sends a literal for them whatever their position, and a
            // longer match beats them.
            unsigned score = i << SCORE_SHIFT | ((p - r) & WINDOW_MASK);
            best = score > best ? score : best;
        }
        if (x == 0 && i >= LOOKAHEAD)
            break;   // only the longer compare can find all 60 bytes equal
    }
    if (FindMatch) {
        matchLength = best >> SCORE_SHIFT;
        matchPosition = WINDOW_MASK - (best & WINDOW_MASK);
    }
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
    startBits();
    if (codecIo.writeSizeHeader() == 0)
        return 0;
    const CodecTraceHook trace = codecTraceHook;   // read once: tests only
    startModel();
    startCodeCache();
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
        insertNode<false>(r - i);
    insertNode<true>(r);
    do {
        if ((int)matchLength > length)
            matchLength = (unsigned)length;
        if (matchLength <= THRESHOLD) {
            matchLength = 1;
            unsigned bits = encodeSymbol(textBuffer[r]);
            if (trace)
                trace(textBuffer[r], 0, bits);
        } else {
            unsigned symbol = 255 - THRESHOLD + matchLength;
            unsigned bits = encodeSymbol(symbol);
            encodePosition(matchPosition);
            if (trace)
                trace(symbol, matchPosition, bits);
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
            if (i + 1 < step)
                insertNode<false>(r);
            else
                insertNode<true>(r);
        }
        for (; i < step; i++) {   // the input has ended: the look-ahead shrinks
            deleteNode(s);
            s = (s + 1) & WINDOW_MASK;
            r = (r + 1) & WINDOW_MASK;
            if (--length == 0)
                continue;
            if (i + 1 < step)
                insertNode<false>(r);
            else
                insertNode<true>(r);
        }
    } while (length > 0);
    flushBits();
    return 1;
}

// Bytes that did not fit the caller's buffer in encodeSymbolsForTest.
static int32_t testOverflow;

static void countOverflowByte(unsigned)
{
    testOverflow++;
}

static void countOverflowBytes(const uint8_t*, int32_t count)
{
    testOverflow += count;
}

// The test plugs its own buffer into the byte sink, so the bit output stays
// the same code as in a real run and never writes past capacity.
int32_t encodeSymbolsForTest(const uint16_t* symbols, int32_t count, uint8_t* out,
                             int32_t capacity, unsigned* longestCode)
{
    unsigned longest = 0;
    const CodecIo saved = codecIo;
    if (!out || capacity < 0)
        capacity = 0;
    codecIo.outputNext = out;
    codecIo.outputRoomEnd = out ? out + capacity : out;
    codecIo.ticksLeft = INT32_MAX;
    codecIo.writeByte = countOverflowByte;
    codecIo.writeBytes = countOverflowBytes;
    testOverflow = 0;
    startBits();
    startModel();
    startCodeCache();
    for (int32_t i = 0; i < count; i++) {
        unsigned bits = encodeSymbol(symbols[i] < SYMBOL_COUNT ? symbols[i] : 0);
        if (bits > longest)
            longest = bits;
    }
    flushBits();
    int32_t written = out ? (int32_t)(codecIo.outputNext - out) : 0;
    codecIo = saved;
    if (longestCode)
        *longestCode = longest;
    return testOverflow == 0 ? written : -1;
}
