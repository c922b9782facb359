// LZHUF codec: known coded streams, the items the match finder chooses, round
// trips long enough for the tree rebuild, and the encoder's deep codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/fileio.h"
#include "coding/lzhuf.h"
#include "coding/lzhuf_encode.h"
#include "testutil.h"

namespace {

// One coded item as the trace hook reports it.
struct Item {
    unsigned symbol;
    unsigned position;
    bool operator==(const Item& o) const { return symbol == o.symbol && position == o.position; }
};

std::vector<Item> tracedItems;
unsigned longestTracedCode;

void recordItem(unsigned symbol, unsigned position, unsigned codeBits)
{
    tracedItems.push_back(Item{symbol, position});
    if (codeBits > longestTracedCode)
        longestTracedCode = codeBits;
}

Item literal(unsigned byte)
{
    return Item{byte, 0};
}

Item match(unsigned length, unsigned position)
{
    return Item{253 + length, position};
}

std::ostream& operator<<(std::ostream& out, const Item& item)
{
    if (item.symbol < 256)
        return out << "literal " << item.symbol;
    return out << "match " << item.symbol - 253 << "@" << item.position;
}

// Traces the items of every run within a test.
class Codec : public ::testing::Test {
protected:
    void SetUp() override
    {
        tracedItems.clear();
        longestTracedCode = 0;
        codecTraceHook = recordItem;
    }
    void TearDown() override { codecTraceHook = nullptr; }
};

// Compresses through the block stream and returns the blocks.
Bytes compressToBlocks(const Bytes& input)
{
    const std::string in = tempPath("codec.in");
    const std::string out = tempPath("codec.out");
    writeFileBytes(in, input);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
    int ok = compressStream(source, sink, (int32_t)input.size());
    fileClose(source);
    fileClose(sink);
    EXPECT_EQ(ok, 1);
    return readFileBytes(out);
}

// The coded stream inside a sequence of blocks (the payloads joined).
Bytes unframe(const Bytes& blocks)
{
    Bytes coded;
    size_t at = 0;
    while (at + 6 <= blocks.size()) {
        size_t length = blocks[at + 4] | blocks[at + 5] << 8;
        EXPECT_GE(length, 6u);
        if (length < 6 || at + length > blocks.size())
            break;
        coded.insert(coded.end(), blocks.begin() + at + 6, blocks.begin() + at + length);
        at += length;
    }
    EXPECT_EQ(at, blocks.size());
    return coded;
}

// Blocks around a coded stream, as the compressor cuts them.
Bytes frame(const Bytes& coded)
{
    Bytes blocks;
    size_t at = 0;
    auto addBlock = [&](size_t payload) {
        Bytes block(6);
        block.insert(block.end(), coded.begin() + at, coded.begin() + at + payload);
        uint16_t sum = blockChecksum(block.data() + 6, (int32_t)payload);
        block[0] = 0x52;
        block[1] = 0x43;
        block[2] = (uint8_t)sum;
        block[3] = (uint8_t)(sum >> 8);
        block[4] = (uint8_t)(block.size());
        block[5] = (uint8_t)(block.size() >> 8);
        blocks.insert(blocks.end(), block.begin(), block.end());
        at += payload;
    };
    addBlock(4);
    while (coded.size() - at >= 10234)
        addBlock(10234);
    addBlock(coded.size() - at);
    return blocks;
}

Bytes codedForm(const Bytes& input)
{
    return unframe(compressToBlocks(input));
}

// Decompresses blocks file to file; *ok gets the driver's result.
Bytes decompressBlocks(const Bytes& blocks, int* ok)
{
    const std::string in = tempPath("codec.z");
    const std::string out = tempPath("codec.plain");
    writeFileBytes(in, blocks);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
    *ok = decompressStream(source, sink);
    fileClose(source);
    fileClose(sink);
    return readFileBytes(out);
}

Bytes withSize(Bytes coded, uint32_t size)
{
    for (unsigned i = 0; i < 4; i++)
        coded[i] = (uint8_t)(size >> (8 * i));
    return coded;
}

Bytes repeated(const char* text, int times)
{
    Bytes bytes;
    for (int i = 0; i < times; i++) {
        Bytes piece = bytesOf(text);
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    return bytes;
}

}  // namespace

TEST_F(Codec, KnownCodedStreams)
{
    struct Case {
        const char* name;
        Bytes input;
        const char* coded;
    } cases[] = {
        {"empty", Bytes(), "00000000"},
        {"abc", bytesOf("abc"), "03000000 F6FBBDE0"},
        {"abc x4", repeated("abc", 4), "0C000000 F6FBBDF24020"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(codedForm(c.input), fromHex(c.coded)) << c.name;
        int ok = 0;
        EXPECT_EQ(decompressBlocks(compressToBlocks(c.input), &ok), c.input) << c.name;
        EXPECT_EQ(ok, 1) << c.name;
    }
}

TEST_F(Codec, ItemsTheMatchFinderChooses)
{
    struct Case {
        const char* name;
        Bytes input;
        std::vector<Item> items;
    } cases[] = {
        // Each match copies from one byte back, overlapping its own output.
        {"200 equal bytes", Bytes(200, 'x'),
         {literal('x'), match(60, 0), match(60, 0), match(60, 0), match(19, 0)}},
        // The window starts as spaces: the nearest full 60-byte string of them.
        {"60 spaces", Bytes(60, ' '), {match(60, 59)}},
        // Three literals, then nine bytes three back.
        {"abc x4", repeated("abc", 4), {literal('a'), literal('b'), literal('c'), match(9, 2)}},
        // Matches never run past the input's end.
        {"abcd abc", bytesOf("abcdabc"),
         {literal('a'), literal('b'), literal('c'), literal('d'), match(3, 3)}},
    };
    for (const Case& c : cases) {
        tracedItems.clear();
        Bytes blocks = compressToBlocks(c.input);
        EXPECT_EQ(tracedItems, c.items) << c.name;

        tracedItems.clear();   // the decoder reads the same items back
        int ok = 0;
        EXPECT_EQ(decompressBlocks(blocks, &ok), c.input) << c.name;
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(tracedItems, c.items) << c.name << " (decoded)";
    }
}

// Phases of bytes drawn with skewed odds from a small alphabet that changes
// from phase to phase: symbols climb into the top levels of the Huffman tree
// and fall out again, and whole subtrees move there, all the time.
static Bytes shiftingAlphabetBytes(size_t count, uint32_t seed)
{
    Bytes noise = randomBytes(count * 2 + 64, seed);
    Bytes out;
    size_t k = 0;
    while (out.size() < count) {
        unsigned size = 2 + noise[k++] % 40;
        uint8_t alphabet[42];
        for (unsigned i = 0; i < size; i++)
            alphabet[i] = noise[k++];
        for (unsigned n = 0; n < 2500 && out.size() < count; n++) {
            // The lowest set bit of a random byte: symbol i has odds 2^-(i+1).
            unsigned r = noise[(k + n * 7) % noise.size()] | 0x100;
            unsigned i = (unsigned)__builtin_ctz(r) % size;
            out.push_back(alphabet[i]);
        }
        k = (k + 97) % (noise.size() - 64);
    }
    return out;
}

TEST_F(Codec, RoundTrips)
{
    // Mixed data: text, a run, noise, text again.
    Bytes mixed = textBytes(30000, 5);
    Bytes run = runBytes(20000, 6);
    Bytes noise = randomBytes(15000, 7);
    mixed.insert(mixed.end(), run.begin(), run.end());
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    Bytes more = textBytes(30000, 8);
    mixed.insert(mixed.end(), more.begin(), more.end());

    struct Case {
        const char* name;
        Bytes input;
        bool rebuilds;   // more than 32454 items: the Huffman tree is rebuilt
    } cases[] = {
        {"one byte", Bytes(1, 0x00), false},
        {"59 bytes", textBytes(59, 1), false},
        {"61 bytes", textBytes(61, 1), false},
        {"4097 noise", randomBytes(4097, 2), false},
        {"text 300k", textBytes(300000, 3), true},
        {"noise 100k", randomBytes(100000, 4), true},
        {"runs 600k", runBytes(600000, 5), false},
        {"runs 3M", runBytes(3000000, 9), true},
        {"mixed", mixed, false},
        {"shifting alphabets 400k", shiftingAlphabetBytes(400000, 10), true},
    };
    for (const Case& c : cases) {
        tracedItems.clear();
        Bytes blocks = compressToBlocks(c.input);
        size_t items = tracedItems.size();
        if (c.rebuilds) {
            EXPECT_GT(items, 32455u) << c.name;
        }
        // Items cover the input exactly: no match runs past its end.
        uint64_t covered = 0;
        for (const Item& item : tracedItems)
            covered += item.symbol < 256 ? 1 : item.symbol - 253;
        EXPECT_EQ(covered, c.input.size()) << c.name;

        int ok = 0;
        Bytes output = decompressBlocks(blocks, &ok);
        EXPECT_EQ(ok, 1) << c.name;
        EXPECT_TRUE(output == c.input) << c.name << ": " << output.size() << " of " << c.input.size();
    }
}

// FNV-1a, 64 bits: a fingerprint of a whole coded stream.
static uint64_t fingerprint(const Bytes& bytes)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes)
        h = (h ^ b) * 0x100000001B3ull;
    return h;
}

// Text made of a few short words: the same strings recur at many distances,
// so the match finder meets many equally long matches and must pick the one
// its search path gives, and 60-byte repeats replace their older copies.
static Bytes fewWordsBytes(size_t count, uint32_t seed)
{
    static const char* const words[] = {"the ", "then ", "them ", "these ", "a ", "an ", "and ",
                                        "at ", "as ", "ask ", "be ", "been ", "bee "};
    Bytes noise = randomBytes(count, seed);
    Bytes out;
    for (size_t k = 0; out.size() < count; k++) {
        const char* w = words[noise[k % count] % (sizeof words / sizeof words[0])];
        for (; *w && out.size() < count; w++)
            out.push_back((uint8_t)*w);
    }
    return out;
}

// A 61-byte pattern repeated with now and then one byte changed: full 60-byte
// matches all the time, nodes replaced by their equals, input ending inside
// a match.
static Bytes nearRepeatsBytes(size_t count, uint32_t seed)
{
    Bytes pattern = textBytes(61, seed);
    Bytes noise = randomBytes(count / 50 + 2, seed + 1);
    Bytes out;
    for (size_t k = 0; out.size() < count; k++) {
        out.insert(out.end(), pattern.begin(), pattern.end());
        if (noise[k % noise.size()] < 40)
            out[out.size() - 1 - noise[(k + 1) % noise.size()] % 61] ^= 0x20;
    }
    out.resize(count);
    return out;
}

TEST_F(Codec, CodedStreamsKeepTheirBytes)
{
    // Fingerprints of whole streams as the encoder wrote them before its
    // speed work; a faster match finder, model or bit output must keep
    // every bit of them.
    struct Case {
        const char* name;
        Bytes input;
        size_t packedSize;
        uint64_t packed;
    } cases[] = {
        {"few words 200k", fewWordsBytes(200000, 31), 38631, 0xDDD8409D34ECB7FCull},
        {"near repeats 150k", nearRepeatsBytes(150001, 32), 4114, 0xA719AAE033900AD1ull},
        {"text 120k", textBytes(120000, 33), 27254, 0xEA72D1C55D371FC8ull},
        {"noise 70k", randomBytes(70000, 34), 70211, 0xC79D2683D23367AEull},
        {"shifting alphabets 150k", shiftingAlphabetBytes(150000, 35), 54982, 0xBCE9D7DDC88EE67Bull},
        {"zeros 70k", Bytes(70000, 0), 1516, 0xCA81B686181DC80Bull},
    };
    for (const Case& c : cases) {
        Bytes blocks = compressToBlocks(c.input);
        EXPECT_EQ(blocks.size(), c.packedSize) << c.name;
        EXPECT_EQ(fingerprint(blocks), c.packed) << c.name << std::hex << " 0x" << fingerprint(blocks);
    }
}

TEST_F(Codec, MatchesAtEveryDistance)
{
    // A unique 8-byte tag repeated at growing distances: each repeat is a
    // match, and the last ones lie beyond the window and cannot be.
    Bytes input;
    std::vector<size_t> distances;
    for (size_t d = 9; d < 4600; d = d * 5 / 4 + 1)
        distances.push_back(d);
    distances.push_back(4035);
    distances.push_back(4036);
    distances.push_back(4037);
    for (size_t i = 0; i < distances.size(); i++) {
        Bytes tag = randomBytes(8, 100 + (uint32_t)i);
        Bytes gap = randomBytes(distances[i] - 8, 500 + (uint32_t)i);
        input.insert(input.end(), tag.begin(), tag.end());
        input.insert(input.end(), gap.begin(), gap.end());
        input.insert(input.end(), tag.begin(), tag.end());
    }
    Bytes blocks = compressToBlocks(input);
    unsigned farthest = 0;
    for (const Item& item : tracedItems)
        if (item.symbol >= 256 && item.position > farthest)
            farthest = item.position;
    // A position leaves the trees when the look-ahead's new byte overwrites
    // it: the farthest match lies 4036 bytes back, at position 4035.
    EXPECT_EQ(farthest, 4035u);

    int ok = 0;
    EXPECT_TRUE(decompressBlocks(blocks, &ok) == input);
    EXPECT_EQ(ok, 1);
}

TEST_F(Codec, EqualInputGivesEqualOutput)
{
    // The last "abc" compares as "abc" and the bytes after the input: with
    // zeros there the search stops at "abc1" eight back; a '2' left there by
    // an earlier run would lead it on to "abc2" four back. So the buffer is
    // cleared at the start of every run.
    const Bytes x = bytesOf("abc1abc2abc");
    const std::vector<Item> items = {literal('a'), literal('b'), literal('c'), literal('1'),
                                     match(3, 3), literal('2'), match(3, 7)};
    compressToBlocks(bytesOf("zzzzzzzzzzz2zzzzzz"));
    tracedItems.clear();
    const Bytes first = compressToBlocks(x);
    EXPECT_EQ(tracedItems, items);
    for (const Bytes& before : {bytesOf("zzzzzzzzzzz1zzzzzz"), textBytes(5000, 21), randomBytes(5000, 22)}) {
        compressToBlocks(before);
        tracedItems.clear();
        EXPECT_EQ(compressToBlocks(x), first);
        EXPECT_EQ(tracedItems, items);
    }

    int ok = 0;
    EXPECT_EQ(decompressBlocks(first, &ok), x);
    EXPECT_EQ(ok, 1);
}

TEST_F(Codec, DecodingStopsAtTheAnnouncedSize)
{
    // 200 'x' code as a literal and matches of 60, 60, 60 and 19; "abc" as
    // three literals and five zero bits.
    const Bytes xs = Bytes(200, 'x');
    const Bytes abc = bytesOf("abc");
    // Without its last byte the stream lacks three bits of the last match's
    // position; zero bits in their place would give the right bytes by luck.
    Bytes xsCut = codedForm(xs);
    xsCut.pop_back();
    struct Case {
        const Bytes* input;
        const Bytes* coded;   // or null for the input's own
        uint32_t size;
        bool succeeds;
        size_t output;   // bytes that must come out
    } cases[] = {
        {&xs, nullptr, 1, true, 1},        // only the literal of the first item
        {&xs, nullptr, 100, true, 100},    // cuts the second match at 39
        {&xs, nullptr, 199, true, 199},    // cuts the last match at 18
        {&xs, nullptr, 200, true, 200},
        {&xs, nullptr, 201, false, 200},   // the bits run out: nothing made of missing bits
        {&xs, nullptr, 5000, false, 200},
        {&xs, &xsCut, 200, false, 181},
        {&abc, nullptr, 2, true, 2},
        {&abc, nullptr, 4, false, 3},
    };
    for (const Case& c : cases) {
        int ok = 0;
        Bytes coded = c.coded ? *c.coded : codedForm(*c.input);
        Bytes output = decompressBlocks(frame(withSize(coded, c.size)), &ok);
        EXPECT_EQ(ok, c.succeeds ? 1 : 0) << c.size;
        EXPECT_EQ(output, Bytes(c.input->begin(), c.input->begin() + c.output)) << c.size;
    }
}

TEST_F(Codec, CodesDeeperThanSixteenLevels)
{
    // Literals with Fibonacci counts build a lopsided tree; the rare leaves
    // end up more than 16 levels deep. The codes must come out whole.
    std::vector<uint16_t> symbols;
    unsigned fib[24] = {0, 1};
    for (int i = 2; i < 24; i++)
        fib[i] = fib[i - 1] + fib[i - 2];
    std::vector<unsigned> left(fib + 14, fib + 22);
    for (bool any = true; any;) {
        any = false;
        for (size_t k = 0; k < left.size(); k++) {
            if (left[k]) {
                left[k]--;
                symbols.push_back((uint16_t)('A' + k));
                any = true;
            }
        }
    }
    for (unsigned rare = 0; rare < 256; rare += 37)
        symbols.push_back((uint16_t)rare);

    Bytes coded(4 + 4 * symbols.size());
    unsigned longest = 0;
    int32_t n = encodeSymbolsForTest(symbols.data(), (int32_t)symbols.size(), coded.data() + 4,
                                     (int32_t)coded.size() - 4, &longest);
    ASSERT_GT(n, 0);
    EXPECT_GT(longest, 16u);
    coded.resize(4 + (size_t)n);
    Bytes expected(symbols.begin(), symbols.end());

    int ok = 0;
    Bytes output = decompressBlocks(frame(withSize(coded, (uint32_t)expected.size())), &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(output == expected);
    EXPECT_EQ(longestTracedCode, longest);   // the decoder walked the same depth
}
