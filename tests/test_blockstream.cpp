// Block stream: the block layout, damaged and cut streams, the hooks and the
// per-run settings, and the bounded memory sink.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/codingerror.h"
#include "coding/fileio.h"
#include "coding/lzhuf.h"
#include "testutil.h"

namespace {

// Leaves hooks and per-run settings empty for the next test.
class BlockStream : public ::testing::Test {
protected:
    void TearDown() override
    {
        tickHook = nullptr;
        writeHook = nullptr;
        dataFilterHook = nullptr;
        readFilterOn = 0;
        writeFilterOn = 0;
        inputXorKey = 0;
        memorySink = nullptr;
        memorySinkCapacity = 0;
    }
};

const int32_t WHOLE_INPUT = INT32_MIN;

// Compresses size bytes of input, file to file.
Bytes compressFile(const Bytes& input, int* ok, int32_t size = WHOLE_INPUT)
{
    const std::string in = tempPath("block.in");
    const std::string out = tempPath("block.out");
    writeFileBytes(in, input);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
    *ok = compressStream(source, sink, size == WHOLE_INPUT ? (int32_t)input.size() : size);
    fileClose(source);
    fileClose(sink);
    return readFileBytes(out);
}

Bytes compressed(const Bytes& input)
{
    int ok = 0;
    Bytes blocks = compressFile(input, &ok);
    EXPECT_EQ(ok, 1);
    return blocks;
}

// Decompresses from the start of file (at offset start), file to file.
Bytes decompressFile(const Bytes& file, int* ok, int32_t start = 0)
{
    const std::string in = tempPath("block.z");
    const std::string out = tempPath("block.plain");
    writeFileBytes(in, file);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
    EXPECT_TRUE(fileSeek(source, start));
    *ok = decompressStream(source, sink);
    fileClose(source);
    fileClose(sink);
    return readFileBytes(out);
}

// Decompresses into memory of the given capacity; the bytes after it must
// stay as they were.
Bytes decompressToMemory(const Bytes& file, int32_t capacity, int* ok, bool* guardIntact)
{
    const std::string in = tempPath("block.mz");
    writeFileBytes(in, file);
    FileHandle source = fileOpenRead(in.c_str());
    Bytes memory((size_t)capacity + 256, 0xA5);
    memorySink = memory.data();
    memorySinkCapacity = capacity;
    *ok = decompressStream(source, INVALID_FILE);
    fileClose(source);
    *guardIntact = std::all_of(memory.begin() + capacity, memory.end(), [](uint8_t b) { return b == 0xA5; });
    memory.resize((size_t)std::max(0, std::min(totalWritten, capacity)));
    return memory;
}

uint16_t le16(const Bytes& b, size_t at)
{
    return (uint16_t)(b[at] | b[at + 1] << 8);
}

void putLe16(Bytes& b, size_t at, unsigned value)
{
    b[at] = (uint8_t)value;
    b[at + 1] = (uint8_t)(value >> 8);
}

// Offsets of the blocks in a stream.
std::vector<size_t> blockOffsets(const Bytes& stream)
{
    std::vector<size_t> offsets;
    for (size_t at = 0; at + 6 <= stream.size(); at += le16(stream, at + 4)) {
        offsets.push_back(at);
        if (le16(stream, at + 4) < 6)
            break;
    }
    return offsets;
}

// Recomputes a block's checksum after a test changed it.
void fixChecksum(Bytes& stream, size_t block)
{
    size_t length = le16(stream, block + 4);
    putLe16(stream, block + 2, blockChecksum(stream.data() + block + 6, (int32_t)length - 6));
}

// The coded stream inside blocks, and blocks around a coded stream.
Bytes unframe(const Bytes& stream)
{
    Bytes coded;
    for (size_t at : blockOffsets(stream))
        coded.insert(coded.end(), stream.begin() + at + 6, stream.begin() + at + le16(stream, at + 4));
    return coded;
}

Bytes frame(const Bytes& coded)
{
    Bytes stream;
    size_t at = 0;
    auto addBlock = [&](size_t payload) {
        size_t start = stream.size();
        stream.insert(stream.end(), {0x52, 0x43, 0, 0, 0, 0});
        stream.insert(stream.end(), coded.begin() + at, coded.begin() + at + payload);
        putLe16(stream, start + 4, (unsigned)(payload + 6));
        fixChecksum(stream, start);
        at += payload;
    };
    addBlock(4);
    while (coded.size() - at >= 10234)
        addBlock(10234);
    addBlock(coded.size() - at);
    return stream;
}

bool isPrefix(const Bytes& part, const Bytes& whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Hook recorders.
int tickCalls;
void countTick() { tickCalls++; }

std::vector<int32_t> writeCounts;
void recordWrite(int32_t count) { writeCounts.push_back(count); }
void abortOnFirstWrite(int32_t count)
{
    writeCounts.push_back(count);
    if (writeCounts.size() == 1)
        abortStream();
}

std::vector<Bytes> filteredBuffers;
int filterResult;
int recordAndFlip(uint8_t* buffer, int32_t length)
{
    filteredBuffers.push_back(Bytes(buffer, buffer + length));
    for (int32_t i = 0; i < length; i++)
        buffer[i] ^= 0xFF;
    return filterResult;
}

}  // namespace

TEST_F(BlockStream, KnownBlocks)
{
    struct Case {
        const char* name;
        Bytes input;
        const char* blocks;
    } cases[] = {
        {"empty", Bytes(), "5243A5680A0000000000 5243A5680600"},
        {"abc", bytesOf("abc"), "5243A8680A0003000000 5243336C0A00F6FBBDE0"},
    };
    for (const Case& c : cases) {
        int ok = 0;
        Bytes stream = compressFile(c.input, &ok);
        EXPECT_EQ(ok, 1) << c.name;
        EXPECT_EQ(stream, fromHex(c.blocks)) << c.name;
        EXPECT_EQ(totalWritten, (int32_t)stream.size()) << c.name;

        EXPECT_EQ(decompressFile(stream, &ok), c.input) << c.name;
        EXPECT_EQ(ok, 1) << c.name;
        EXPECT_EQ(totalWritten, (int32_t)c.input.size()) << c.name;
    }
}

TEST_F(BlockStream, BlockSizes)
{
    // 60000 noise bytes need several full blocks and a shorter last one.
    const Bytes input = randomBytes(60000, 3);
    const Bytes stream = compressed(input);
    std::vector<size_t> offsets = blockOffsets(stream);
    ASSERT_GE(offsets.size(), 4u);
    EXPECT_EQ(le16(stream, 4), 10);
    for (size_t i = 1; i + 1 < offsets.size(); i++)
        EXPECT_EQ(le16(stream, offsets[i] + 4), 10240) << i;
    size_t last = offsets.back();
    EXPECT_LT(le16(stream, last + 4), 10240);
    EXPECT_EQ(last + le16(stream, last + 4), stream.size());
    for (size_t at : offsets)
        EXPECT_EQ(le16(stream, at + 2),
                  blockChecksum(stream.data() + at + 6, le16(stream, at + 4) - 6));
}

TEST(BlockChecksum, IsTheByteSumForEveryLengthAndAlignment)
{
    // The sum is taken a word at a time in lanes: all-0xFF payloads up to the
    // largest block fill the lanes most; odd lengths and offsets leave tails.
    const Bytes noise = randomBytes(10240 + 3, 7);
    const Bytes ones(10240 + 3, 0xFF);
    const int32_t lengths[] = {0, 1, 3, 4, 5, 7, 8, 9, 511, 512, 513, 515, 516, 4099, 10234};
    for (const Bytes* data : {&noise, &ones}) {
        for (int32_t length : lengths) {
            for (size_t offset = 0; offset < 4; offset++) {
                unsigned expected = BLOCK_CHECKSUM_SEED;
                for (int32_t i = 0; i < length; i++)
                    expected += (*data)[offset + (size_t)i];
                EXPECT_EQ(blockChecksum(data->data() + offset, length), (uint16_t)expected)
                    << (data == &ones ? "0xFF" : "noise") << " length " << length << " offset " << offset;
            }
        }
    }
    // One value fixed outright: 0x68A5 + 10234 * 255 = 0x283AAB.
    EXPECT_EQ(blockChecksum(ones.data(), 10234), 0x3AAB);
}

TEST_F(BlockStream, FullLastDataBlockIsFollowedByAnEmptyBlock)
{
    // Find an input whose coded bits fill whole blocks exactly.
    Bytes input;
    Bytes stream;
    for (size_t size = 10050; size < 10250 && stream.empty(); size++) {
        Bytes candidate = randomBytes(size, 77);
        Bytes blocks = compressed(candidate);
        if ((unframe(blocks).size() - 4) % 10234 == 0) {
            input = candidate;
            stream = blocks;
        }
    }
    ASSERT_FALSE(stream.empty()) << "no input fills a block exactly";
    ASSERT_GE(stream.size(), 10u + 10240 + 6);
    EXPECT_EQ(Bytes(stream.end() - 6, stream.end()), fromHex("5243A5680600"));
    EXPECT_EQ(le16(stream, stream.size() - 6 - 10240 + 4), 10240);

    int ok = 0;
    EXPECT_TRUE(decompressFile(stream, &ok) == input);
    EXPECT_EQ(ok, 1);

    // Without its empty last block the stream is cut short.
    Bytes cut(stream.begin(), stream.end() - 6);
    Bytes output = decompressFile(cut, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(isPrefix(output, input));
}

TEST_F(BlockStream, StreamsFollowedByOtherData)
{
    const Bytes a = textBytes(30000, 1);
    const Bytes b = Bytes(20480, 'q');   // decodes to two whole output buffers
    const Bytes tiny = bytesOf("ab");    // fewer coded bytes than the bit reader takes ahead
    const Bytes streamA = compressed(a);
    const Bytes streamB = compressed(b);
    const Bytes streamTiny = compressed(tiny);

    struct Case {
        const char* name;
        Bytes file;
        int32_t start;
        Bytes expected;
    } cases[] = {
        {"ends at end of file", streamA, 0, a},
        {"tiny at end of file", streamTiny, 0, tiny},
        {"tiny then more", [&] { Bytes f = streamTiny; f.insert(f.end(), streamA.begin(), streamA.end()); return f; }(), 0, tiny},
        {"then noise", [&] { Bytes f = streamA; Bytes n = randomBytes(30000, 9); f.insert(f.end(), n.begin(), n.end()); return f; }(), 0, a},
        {"first of two", [&] { Bytes f = streamA; f.insert(f.end(), streamB.begin(), streamB.end()); return f; }(), 0, a},
        {"second of two", [&] { Bytes f = streamA; f.insert(f.end(), streamB.begin(), streamB.end()); return f; }(), (int32_t)streamA.size(), b},
    };
    for (const Case& c : cases) {
        int ok = 0;
        Bytes output = decompressFile(c.file, &ok, c.start);
        EXPECT_EQ(ok, 1) << c.name;
        EXPECT_TRUE(output == c.expected) << c.name << ": " << output.size() << " bytes";
    }
}

TEST_F(BlockStream, DamagedStreamsFail)
{
    const Bytes input = randomBytes(25000, 5);   // first block, two full blocks, a last one
    const Bytes stream = compressed(input);
    const std::vector<size_t> blocks = blockOffsets(stream);
    ASSERT_EQ(blocks.size(), 4u);
    const size_t data1 = blocks[1], data2 = blocks[2], last = blocks[3];
    const Bytes coded = unframe(stream);

    struct Case {
        const char* name;
        std::function<Bytes()> make;
        size_t decodedAtLeast;   // bytes that must still reach the sink
        CodingError error;       // the reason the run keeps
        int faultBlock;          // the block it refused (0: none, the coded data ran out)
    } cases[] = {
        {"empty source", [&] { return Bytes(); }, 0, CODING_TRUNCATED, 1},
        {"five bytes", [&] { return Bytes(stream.begin(), stream.begin() + 5); }, 0, CODING_TRUNCATED, 1},
        {"first block cut", [&] { return Bytes(stream.begin(), stream.begin() + 9); }, 0, CODING_TRUNCATED, 1},
        {"only the first block", [&] { return Bytes(stream.begin(), stream.begin() + 10); }, 0, CODING_TRUNCATED, 2},
        {"first block bad magic", [&] { Bytes s = stream; s[1] = 0x44; return s; }, 0, CODING_BAD_MAGIC, 1},
        {"first block bad checksum", [&] { Bytes s = stream; s[7] ^= 1; return s; }, 0, CODING_CHECKSUM, 1},
        {"first block length 8", [&] { Bytes s = stream; putLe16(s, 4, 8); fixChecksum(s, 0); return s; }, 0,
         CODING_BAD_LENGTH, 1},
        {"data block bad magic", [&] { Bytes s = stream; s[data2] = 0x53; return s; }, 5000, CODING_BAD_MAGIC, 3},
        {"data block bad checksum", [&] { Bytes s = stream; s[data2 + 3000] ^= 0x10; return s; }, 5000,
         CODING_CHECKSUM, 3},
        {"data block length 5", [&] { Bytes s = stream; putLe16(s, data2 + 4, 5); return s; }, 5000,
         CODING_BAD_LENGTH, 3},
        {"data block length 4", [&] { Bytes s = stream; putLe16(s, data1 + 4, 4); return s; }, 0,
         CODING_BAD_LENGTH, 2},
        {"cut inside a data block", [&] { return Bytes(stream.begin(), stream.begin() + data2 + 5000); }, 5000,
         CODING_TRUNCATED, 3},
        {"cut after a full block", [&] { return Bytes(stream.begin(), stream.begin() + last); }, 5000,
         CODING_TRUNCATED, 4},
        {"last block longer than read", [&] { Bytes s = stream; putLe16(s, last + 4, le16(s, last + 4) + 1); return s; },
         5000, CODING_TRUNCATED, 4},
        {"last byte missing", [&] { return Bytes(stream.begin(), stream.end() - 1); }, 5000, CODING_TRUNCATED, 4},
        {"coded bits run out", [&] { return frame(Bytes(coded.begin(), coded.end() - 3)); }, 20000,
         CODING_TRUNCATED, 0},
        {"coded bits run out, more data follows", [&] {
             Bytes s = frame(Bytes(coded.begin(), coded.end() - 3));
             Bytes more = randomBytes(3000, 4);
             s.insert(s.end(), more.begin(), more.end());
             return s;
         }, 20000, CODING_TRUNCATED, 0},
        {"size above the data", [&] {
             Bytes c = coded;
             c[0] = (uint8_t)(input.size() + 1);
             c[1] = (uint8_t)((input.size() + 1) >> 8);
             return frame(c);
         }, 20000, CODING_TRUNCATED, 0},
        {"size above 2 GB", [&] { Bytes c = coded; c[3] = 0x80; return frame(c); }, 0, CODING_TOO_LARGE, 0},
        // Decoding stops at the size, before the last block: the stream is not whole.
        {"size below the data", [&] { Bytes c = coded; c[1] = 0; c[0] = 100; return frame(c); }, 0,
         CODING_TRUNCATED, 0},
    };
    for (const Case& c : cases) {
        int ok = 1;
        Bytes output = decompressFile(c.make(), &ok);
        EXPECT_EQ(ok, 0) << c.name;
        EXPECT_EQ(codingLastError(), c.error) << c.name << ": " << codingErrorText(codingLastError());
        EXPECT_EQ(lastBlockFault()->block, c.faultBlock) << c.name;
        EXPECT_TRUE(isPrefix(output, input)) << c.name << ": " << output.size() << " bytes";
        EXPECT_GE(output.size(), c.decodedAtLeast) << c.name;
        EXPECT_EQ(totalWritten, (int32_t)output.size()) << c.name;
    }
}

TEST_F(BlockStream, RandomDamageStaysWithinTheSize)
{
    const Bytes input = textBytes(15000, 12);
    const Bytes stream = compressed(input);
    uint32_t state = 99;
    for (int round = 0; round < 300; round++) {
        state = state * 1103515245u + 12345u;
        Bytes damaged = stream;
        size_t at = 10 + (state >> 8) % (damaged.size() - 10);
        damaged[at] ^= (uint8_t)(1 + (state >> 3) % 255);
        // Keep the checksums right half of the time so the decoder sees damage.
        if (round % 2)
            for (size_t block : blockOffsets(damaged))
                if (le16(damaged, block + 4) >= 6 && block + le16(damaged, block + 4) <= damaged.size())
                    fixChecksum(damaged, block);
        int ok = 0;
        bool guardIntact = false;
        Bytes output = decompressToMemory(damaged, (int32_t)input.size(), &ok, &guardIntact);
        EXPECT_TRUE(guardIntact) << round;
        EXPECT_LE(totalWritten, (int32_t)input.size()) << round;
        if (ok) {
            EXPECT_EQ(output.size(), input.size()) << round;
        }
        EXPECT_EQ(memorySink, nullptr);
    }
}

TEST_F(BlockStream, HooksAreCalled)
{
    const Bytes input = textBytes(100000, 4);
    tickHook = countTick;
    writeHook = recordWrite;

    tickCalls = 0;
    writeCounts.clear();
    const Bytes stream = compressed(input);
    int64_t sum = 0;
    for (int32_t count : writeCounts)
        sum += count;
    EXPECT_EQ(sum, totalWritten);
    EXPECT_EQ(sum, (int64_t)stream.size());
    EXPECT_EQ(writeCounts.size(), blockOffsets(stream).size());
    // Every 1024 bytes through readByte and writeByte, plus each read and write.
    int reads = (int)(input.size() / 10240) + 2;
    EXPECT_GE(tickCalls, (int)((input.size() + stream.size()) / 1024) - 2 * reads);
    EXPECT_LE(tickCalls, (int)((input.size() + stream.size()) / 1024) + 2 * reads + (int)writeCounts.size());

    tickCalls = 0;
    writeCounts.clear();
    int ok = 0;
    EXPECT_EQ(decompressFile(stream, &ok), input);
    EXPECT_EQ(ok, 1);
    sum = 0;
    for (int32_t count : writeCounts)
        sum += count;
    EXPECT_EQ(sum, totalWritten);
    EXPECT_EQ(sum, (int64_t)input.size());
    EXPECT_EQ(writeCounts.size(), input.size() / 10240 + 1);
    EXPECT_GE(tickCalls, (int)((input.size() + stream.size()) / 1024) - 2 * reads);
}

TEST_F(BlockStream, AbortFromTheWriteHook)
{
    const Bytes input = runBytes(50000, 8);
    const Bytes stream = compressed(input);

    writeHook = abortOnFirstWrite;
    writeCounts.clear();
    int ok = 1;
    Bytes output = decompressFile(stream, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(codingLastError(), CODING_ABORTED);
    // The first buffer and the rest of the item it ended in, nothing more.
    EXPECT_TRUE(isPrefix(output, input));
    EXPECT_GE(output.size(), 10240u);
    EXPECT_LT(output.size(), 10240u + 60);
    EXPECT_EQ(totalWritten, (int32_t)output.size());

    writeCounts.clear();
    compressFile(input, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(codingLastError(), CODING_ABORTED);

    // Between runs an abort changes nothing.
    writeHook = nullptr;
    abortStream();
    EXPECT_EQ(decompressFile(stream, &ok), input);
    EXPECT_EQ(ok, 1);
}

TEST_F(BlockStream, DataFilter)
{
    const Bytes input = textBytes(25000, 6);
    Bytes flipped = input;
    for (uint8_t& b : flipped)
        b ^= 0xFF;
    dataFilterHook = recordAndFlip;

    struct Case {
        const char* name;
        int result;          // what the filter returns
        size_t calls;        // how often it is called
    } cases[] = {
        {"stays on", 1, 3},  // 25000 bytes: three reads / three output buffers
        {"turns off", 0, 1},
    };
    for (const Case& c : cases) {
        filterResult = c.result;

        // Compressing: the filter sees the raw reads and may change them.
        filteredBuffers.clear();
        readFilterOn = 1;
        writeFilterOn = 1;   // cleared by a compress run before it matters
        int ok = 0;
        Bytes stream = compressFile(input, &ok);
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(readFilterOn, 0) << c.name;
        ASSERT_EQ(filteredBuffers.size(), c.calls) << c.name;
        EXPECT_TRUE(isPrefix(filteredBuffers[0], input)) << c.name;
        Bytes expected = input;
        for (size_t i = 0; i < std::min<size_t>(10240 * c.calls, expected.size()); i++)
            expected[i] ^= 0xFF;
        Bytes plain = decompressFile(stream, &ok);
        EXPECT_TRUE(plain == expected) << c.name;

        // Decompressing: the filter sees the decoded buffers before the sink.
        dataFilterHook = nullptr;
        stream = compressed(input);
        dataFilterHook = recordAndFlip;
        filteredBuffers.clear();
        writeFilterOn = 1;
        readFilterOn = 1;    // cleared by a decompress run before it matters
        Bytes output = decompressFile(stream, &ok);
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(writeFilterOn, 0) << c.name;
        ASSERT_EQ(filteredBuffers.size(), c.calls) << c.name;
        EXPECT_TRUE(isPrefix(filteredBuffers[0], input)) << c.name;
        EXPECT_EQ(output.size(), input.size());
        EXPECT_TRUE(output == expected) << c.name;
    }
}

TEST_F(BlockStream, InputXorKeyUnscramblesTheSource)
{
    const Bytes input = textBytes(15000, 10);
    Bytes scrambled = input;
    for (uint8_t& b : scrambled)
        b ^= 0x5A;
    inputXorKey = 0x125A;   // only the low byte counts
    int ok = 0;
    Bytes stream = compressFile(scrambled, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(inputXorKey, 0);
    EXPECT_EQ(stream, compressed(input));
    EXPECT_EQ(decompressFile(stream, &ok), input);
}

TEST_F(BlockStream, MemorySink)
{
    const Bytes input = textBytes(30000, 11);
    const Bytes stream = compressed(input);
    const Bytes xs = compressed(Bytes(200, 'x'));
    // 200 'x' announced as 100: the coded match would carry on to 121 bytes.
    Bytes shortened = unframe(xs);
    shortened[0] = 100;
    shortened = frame(shortened);

    struct Case {
        const char* name;
        Bytes file;
        int32_t capacity;
        int result;
        Bytes expected;
        CodingError error;
    } cases[] = {
        {"exact", stream, (int32_t)input.size(), 1, input, CODING_OK},
        {"roomy", stream, (int32_t)input.size() + 1000, 1, input, CODING_OK},
        {"one short", stream, (int32_t)input.size() - 1, 0, Bytes(), CODING_OUTPUT_FULL},
        {"none", stream, 0, 0, Bytes(), CODING_OUTPUT_FULL},
        {"match cut at the size", shortened, 100, 1, Bytes(100, 'x'), CODING_OK},
        {"empty entry, no memory", compressed(Bytes()), 0, 1, Bytes(), CODING_OK},
    };
    for (const Case& c : cases) {
        int ok = -1;
        bool guardIntact = false;
        Bytes output = decompressToMemory(c.file, c.capacity, &ok, &guardIntact);
        EXPECT_EQ(ok, c.result) << c.name;
        EXPECT_EQ(codingLastError(), c.error) << c.name;
        EXPECT_TRUE(guardIntact) << c.name;
        EXPECT_TRUE(output == c.expected) << c.name;
        EXPECT_EQ(memorySink, nullptr) << c.name;
        EXPECT_EQ(memorySinkCapacity, 0) << c.name;
    }
}

TEST_F(BlockStream, FailedWritesAndShortSources)
{
    const Bytes input = textBytes(20000, 13);
    const Bytes stream = compressed(input);
    const std::string in = tempPath("block.src");

    // No sink to write to.
    writeFileBytes(in, stream);
    FileHandle source = fileOpenRead(in.c_str());
    EXPECT_EQ(decompressStream(source, INVALID_FILE), 0);
    EXPECT_EQ(codingLastError(), CODING_CANNOT_WRITE);
    EXPECT_EQ(totalWritten, 0);
    fileClose(source);

    writeFileBytes(in, input);
    source = fileOpenRead(in.c_str());
    EXPECT_EQ(compressStream(source, INVALID_FILE, (int32_t)input.size()), 0);
    EXPECT_EQ(codingLastError(), CODING_CANNOT_WRITE);
    fileClose(source);

    // A source that ends before the size the caller gave.
    int ok = 1;
    compressFile(input, &ok, (int32_t)input.size() + 100);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(codingLastError(), CODING_SOURCE_SHORT);
    compressFile(input, &ok, -1 - (int32_t)input.size());
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(codingLastError(), CODING_BAD_SIZE);
    // Fewer than all: fine.
    Bytes part = compressFile(input, &ok, 5000);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(decompressFile(part, &ok), Bytes(input.begin(), input.begin() + 5000));
}

// The transfer engine compresses through compressIfEnabled: without a driver
// it fails before writing anything and says why; enableCompression restores it.
TEST_F(BlockStream, CompressionNeedsTheEncoderEnabled)
{
    const Bytes input = textBytes(3000, 17);
    const std::string in = tempPath("block.enable.in");
    const std::string out = tempPath("block.enable.out");
    writeFileBytes(in, input);
    for (int enabled = 0; enabled <= 1; enabled++) {
        if (enabled)
            enableCompression();
        else
            setCompressDriver(nullptr);
        inputXorKey = 0x21;   // a per-run setting the call must clear either way
        FileHandle source = fileOpenRead(in.c_str());
        FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
        int ok = compressIfEnabled(source, sink, (int32_t)input.size());
        fileClose(source);
        fileClose(sink);
        EXPECT_EQ(ok, enabled);
        EXPECT_EQ(codingLastError(), enabled ? CODING_OK : CODING_NO_ENCODER);
        EXPECT_EQ(inputXorKey, 0);
        Bytes unscrambled = input;
        for (uint8_t& b : unscrambled)
            b ^= 0x21;
        if (enabled)
            EXPECT_EQ(readFileBytes(out), compressed(unscrambled));
        else
            EXPECT_TRUE(readFileBytes(out).empty());
    }
}

// The file layer says why an open or create failed.
TEST(FileLayer, OpenAndCreateFailuresKeepTheirReason)
{
    const std::string missing = tempPath("no-such-file-here");
    EXPECT_EQ(fileOpenRead(missing.c_str()), INVALID_FILE);
    EXPECT_EQ(codingLastError(), CODING_NO_SUCH_FILE);
    EXPECT_NE(fileLastSystemError(), 0);

    const std::string inMissingFolder = tempPath("no-such-folder") + "/file";
    EXPECT_EQ(fileCreate(inMissingFolder.c_str(), 0, nullptr), INVALID_FILE);
    EXPECT_EQ(codingLastError(), CODING_CANNOT_CREATE);
    char text[128] = "unchanged";
    fileSystemErrorText(fileLastSystemError(), text, (int32_t)sizeof text);
    EXPECT_STRNE(text, "unchanged");
    EXPECT_GT(strlen(text), 0u);
    char tiny[4] = {'x', 'x', 'x', 'x'};
    fileSystemErrorText(fileLastSystemError(), tiny, 3);
    EXPECT_EQ(tiny[3], 'x');   // never past the capacity given
    EXPECT_LT(strlen(tiny), 3u);
}
