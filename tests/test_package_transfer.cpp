// Entry transfer: extraction to files and memory, the shared target, the
// hooks, damaged records, and the configuration patch filter.
#include <stdio.h>
#include <string.h>

#include <functional>

#include "coding/pc1.h"
#include "pkgtestutil.h"
#include "app/setupconfig.h"
#include "package/configpatch.h"
#include "package/transfer.h"
#include "package/writer.h"

class PackageTransfer : public PackageTest {};

enum Kind { STORED, SCRAMBLED, COMPRESSED };

static RawEntry& addEntry(RawPackage& package, Kind kind, const std::string& name, const Bytes& content)
{
    if (kind == COMPRESSED)
        return package.addCompressed(name, content);
    return package.addStored(name, content, kind == SCRAMBLED ? 0x5A : 0);
}

TEST_F(PackageTransfer, EntriesExtractByteIdenticalToFileAndMemory)
{
    const Bytes contents[] = {Bytes(), bytesOf("x"), bytesOf("abcdefg"), textBytes(16384, 1),
                              textBytes(16385, 2), textBytes(100000, 3), randomBytes(50000, 4),
                              runBytes(70000, 5)};
    RawPackage package;
    std::vector<std::pair<std::string, const Bytes*>> entries;
    for (Kind kind : {STORED, SCRAMBLED, COMPRESSED}) {
        for (const Bytes& content : contents) {
            std::string name = "E" + std::to_string(entries.size());
            addEntry(package, kind, name, content);
            entries.push_back({name, &content});
        }
    }
    std::string path = package.write("kinds.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    for (const auto& entry : entries) {
        const char* name = entry.first.c_str();
        const Bytes& content = *entry.second;
        std::string out = tempPath("out.bin");
        EXPECT_EQ(extractToFile(name, out.c_str()), 1) << name;
        EXPECT_EQ(readFileBytes(out), content) << name;
        Bytes memory;
        EXPECT_TRUE(extractBytes(name, memory)) << name;
        EXPECT_EQ(memory, content) << name;
    }
}

TEST_F(PackageTransfer, ExtractToMemoryNeverWritesPastItsCapacity)
{
    const Bytes content = textBytes(5000, 7);
    RawPackage package;
    package.addStored("Stored", content);
    package.addCompressed("Compressed", content);
    package.addCompressed("Understated", content).extractedSize = 100;   // the stream says 5000
    package.addValue("Value", bytesOf("v"));
    std::string path = package.write("capacity.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);

    struct Case {
        const char* name;
        int32_t capacity;
        int result;
        int32_t copied;   // leading bytes that must equal the content
    } cases[] = {
        {"Stored", 5000, 1, 5000}, {"Stored", 300, 1, 300},         {"Stored", 0, 1, 0},
        {"Stored", -1, 0, 0},      {"Compressed", 5000, 1, 5000},   {"Compressed", 4999, 0, 0},
        {"Compressed", 0, 0, 0},   {"Understated", 100, 0, 0},      {"Understated", 4000, 0, 0},
        {"Value", 16, 0, 0},       {"Missing", 16, 0, 0},
    };
    for (const Case& c : cases) {
        const size_t room = c.capacity > 0 ? (size_t)c.capacity : 0;
        Bytes buffer(room + 512, 0xEE);
        EXPECT_EQ(extractToMemory(c.name, buffer.data(), c.capacity), c.result) << c.name << " " << c.capacity;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.copied), Bytes(content.begin(), content.begin() + c.copied))
            << c.name << " " << c.capacity;
        EXPECT_EQ(Bytes(buffer.begin() + room, buffer.end()), Bytes(512, 0xEE))
            << c.name << " " << c.capacity << ": written past the capacity";
    }
}

TEST_F(PackageTransfer, ValueEntriesAndMissingTargets)
{
    RawPackage package;
    package.addStored("Data", bytesOf("data"));
    package.addValue("Value", bytesOf("inline"));
    package.addValue("Empty", Bytes());
    std::string path = package.write("values.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);

    struct Case {
        const char* name;
        const char* target;
        int result;
        bool created;
        const char* content;
    } cases[] = {
        {"Value", "value.out", 1, true, "inline"},
        {"Empty", "empty.out", 1, true, ""},
        {"Missing", "missing.out", 0, false, ""},
        {"Data", nullptr, 0, false, ""},   // no path and no shared target
    };
    for (const Case& c : cases) {
        std::string out = tempPath(c.target ? c.target : "none.out");
        EXPECT_EQ(extractToFile(c.name, c.target ? out.c_str() : nullptr), c.result) << c.name;
        EXPECT_EQ(fileExists(out), c.created) << c.name;
        if (c.created) {
            EXPECT_EQ(readFileBytes(out), bytesOf(c.content)) << c.name;
        }
    }
}

static std::vector<std::pair<FileHandle, int32_t>> beforeCalls;
static std::vector<FileHandle> afterCalls;
static void recordBefore(FileHandle file, int32_t count)
{
    beforeCalls.push_back({file, count});
}
static void recordAfter(FileHandle file)
{
    afterCalls.push_back(file);
}
static int refuse(const char*)
{
    return 0;
}

TEST_F(PackageTransfer, SharedTargetCollectsEntriesInOrder)
{
    RawPackage package;
    package.addStored("A", bytesOf("first,"), 0x11);
    package.addCompressed("B", textBytes(3000, 2));
    package.addValue("V", bytesOf(",value"));
    std::string path = package.write("shared.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);

    std::string shared = tempPath("shared.out");
    std::string ignored = tempPath("ignored.out");
    ASSERT_EQ(setSharedTarget(shared.c_str()), 1);
    beforeCalls.clear();
    afterCalls.clear();
    for (const char* name : {"A", "B", "V"}) {
        beforeTransferHook = recordBefore;
        afterTransferHook = recordAfter;
        EXPECT_EQ(extractToFile(name, ignored.c_str()), 1) << name;
        EXPECT_EQ(beforeTransferHook, nullptr);
        EXPECT_EQ(afterTransferHook, nullptr);
    }
    EXPECT_FALSE(fileExists(ignored));
    EXPECT_EQ(beforeCalls.size(), 2u) << "data entries only";
    EXPECT_TRUE(afterCalls.empty()) << "the shared target is neither handed over nor closed";
    EXPECT_EQ(setSharedTarget(nullptr), 1);

    Bytes expected = bytesOf("first,");
    Bytes b = textBytes(3000, 2);
    expected.insert(expected.end(), b.begin(), b.end());
    Bytes v = bytesOf(",value");
    expected.insert(expected.end(), v.begin(), v.end());
    EXPECT_EQ(readFileBytes(shared), expected);

    // Back to one file per extraction; a refused overwrite makes no shared target.
    std::string own = tempPath("own.out");
    EXPECT_EQ(extractToFile("A", own.c_str()), 1);
    EXPECT_EQ(readFileBytes(own), bytesOf("first,"));
    confirmOverwriteHook = refuse;
    EXPECT_EQ(setSharedTarget(own.c_str()), 0);
    EXPECT_EQ(confirmOverwriteHook, nullptr);
    EXPECT_EQ(readFileBytes(own), bytesOf("first,"));
}

TEST_F(PackageTransfer, HooksSeeOneExtractionAndAreCleared)
{
    RawPackage package;
    package.addStored("A", textBytes(1234, 1));
    std::string path = package.write("hooks.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    std::string out = tempPath("hooks.out");

    struct Case {
        const char* name;
        int result;
        size_t before, after;
    } cases[] = {{"A", 1, 1, 1}, {"Missing", 0, 0, 0}};
    for (const Case& c : cases) {
        beforeCalls.clear();
        afterCalls.clear();
        beforeTransferHook = recordBefore;
        afterTransferHook = recordAfter;
        EXPECT_EQ(extractToFile(c.name, out.c_str()), c.result);
        EXPECT_EQ(beforeCalls.size(), c.before) << c.name;
        EXPECT_EQ(afterCalls.size(), c.after) << c.name;
        if (c.before) {
            EXPECT_EQ(beforeCalls[0].second, 1234);
            EXPECT_NE(beforeCalls[0].first, INVALID_FILE);
            EXPECT_EQ(afterCalls[0], beforeCalls[0].first);
        }
        EXPECT_EQ(beforeTransferHook, nullptr);
        EXPECT_EQ(afterTransferHook, nullptr);
    }
    // The next extraction runs without them.
    beforeCalls.clear();
    EXPECT_EQ(extractToFile("A", out.c_str()), 1);
    EXPECT_TRUE(beforeCalls.empty());
}

// Records that point outside the package fail before anything is written.
TEST_F(PackageTransfer, RecordsOutsideThePackageFailCleanly)
{
    struct Case {
        const char* what;
        Kind kind;
        int32_t dataOffset;   // INT32_MIN: leave as built
        int32_t storedSize;
    } cases[] = {
        {"negative offset", STORED, -1, INT32_MIN},
        {"offset past the end", STORED, 1000000, INT32_MIN},
        {"negative size", STORED, INT32_MIN, -5},
        {"size past the end", STORED, INT32_MIN, 1000000},
        {"size into the directory", STORED, INT32_MIN, 101},
        {"offset plus size overflows", STORED, 0x7FFFFFF0, 0x100},
        {"compressed, negative offset", COMPRESSED, -40, INT32_MIN},
        {"compressed, size past the end", COMPRESSED, INT32_MIN, 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        RawPackage package;
        RawEntry& entry = addEntry(package, c.kind, "Bad", textBytes(100, 1));
        if (c.dataOffset != INT32_MIN)
            entry.dataOffset = c.dataOffset;
        if (c.storedSize != INT32_MIN)
            entry.storedSize = c.storedSize;
        std::string path = package.write("outside.pkg");
        ASSERT_NE(openPackage(path.c_str()), INVALID_FILE) << c.what;
        std::string out = tempPath("outside.out");
        EXPECT_EQ(extractToFile("Bad", out.c_str()), 0) << c.what;
        EXPECT_FALSE(fileExists(out)) << c.what;
        Bytes buffer(600, 0xEE);
        EXPECT_EQ(extractToMemory("Bad", buffer.data(), 100), 0) << c.what;
        EXPECT_EQ(buffer, Bytes(600, 0xEE)) << c.what;
    }
}

TEST_F(PackageTransfer, DamagedCompressedDataFails)
{
    const Bytes content = textBytes(30000, 3);
    RawPackage package;
    package.addCompressed("Packed", content);
    package.data[(size_t)package.records[0].storedSize / 2] ^= 0x40;   // inside a full block
    std::string path = package.write("damaged.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    std::string out = tempPath("damaged.out");
    EXPECT_EQ(extractToFile("Packed", out.c_str()), 0);
    Bytes buffer(content.size(), 0);
    EXPECT_EQ(extractToMemory("Packed", buffer.data(), (int32_t)buffer.size()), 0);
}

TEST_F(PackageTransfer, SourceCutShortFailsAfterTheFullChunks)
{
    std::string in = tempPath("short.in"), out = tempPath("short.out");
    const Bytes content = randomBytes(20000, 4);
    writeFileBytes(in, content);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(out.c_str(), 0, 0);
    int32_t count = 40000;
    EXPECT_EQ(transferData(fileEnd(source), fileEnd(sink), &count, 0), 0);
    EXPECT_EQ(count, COPY_CHUNK_SIZE);
    fileClose(source);
    fileClose(sink);
    EXPECT_EQ(readFileBytes(out), Bytes(content.begin(), content.begin() + COPY_CHUNK_SIZE));
}

// ---- Configuration patch ----------------------------------------------------

static void putMarker(Bytes& data, size_t at)
{
    putLe32(&data[at], CONFIG_MARKER_1);
    putLe32(&data[at + 4], CONFIG_MARKER_2);
}

static Bytes dataWithMarker(size_t size, long marker)
{
    Bytes data = textBytes(size, 11);
    if (marker >= 0)
        putMarker(data, (size_t)marker);
    return data;
}

// Memory to memory; returns the transfer's result.
static int transferMemory(const Bytes& in, Bytes& out, TransferFlags flags)
{
    out.assign(in.size(), 0);
    int32_t count = (int32_t)in.size();
    return transferData(memoryEnd(in.data()), memoryEnd(out.data()), &count,
                        flags | XFER_FROM_MEMORY | XFER_TO_MEMORY);
}

static Bytes enciphered(Bytes bytes)
{
    setKey(nullptr);
    crypt(bytes.data(), (int32_t)bytes.size(), 1);
    return bytes;
}

static Bytes slice(const Bytes& bytes, size_t at, size_t count)
{
    return Bytes(bytes.begin() + at, bytes.begin() + at + count);
}

TEST_F(PackageTransfer, EncipheredPayloadSplitAcrossTwoChunks)
{
    const size_t marker = COPY_CHUNK_SIZE - 100;   // 92 payload bytes fit behind it
    const Bytes in = dataWithMarker(2 * COPY_CHUNK_SIZE, (long)marker);
    Bytes payload = randomBytes(CONFIG_PAYLOAD_SIZE, 21);
    const Bytes original = payload;
    setConfigPatch(payload.data(), (int32_t)payload.size(), PATCH_ENCIPHER);
    Bytes out;
    ASSERT_EQ(transferMemory(in, out, XFER_PATCH), 1);

    EXPECT_EQ((uint32_t)getLe32(&out[marker]), CONFIG_MAGIC);
    EXPECT_EQ(getLe32(&out[marker + 4]), CONFIG_PAYLOAD_SIZE);
    EXPECT_EQ(slice(out, marker + 8, CONFIG_PAYLOAD_SIZE), enciphered(original))
        << "two pieces give one stream";
    EXPECT_EQ(slice(out, 0, marker), slice(in, 0, marker));
    const size_t after = marker + 8 + CONFIG_PAYLOAD_SIZE;
    EXPECT_EQ(slice(out, after, in.size() - after), slice(in, after, in.size() - after));
    EXPECT_EQ(payload, original) << "the caller's payload is only read";
}

TEST_F(PackageTransfer, MarkerPlacement)
{
    const size_t size = 2 * COPY_CHUNK_SIZE;
    const size_t chunk = COPY_CHUNK_SIZE;
    struct Case {
        const char* what;
        long marker;   // -1: none
        int result;
    } cases[] = {
        {"inside the first chunk", 50, 1},
        {"one byte after it in its chunk", (long)chunk - 9, 1},
        {"ends exactly at the chunk's end", (long)chunk - 8, 0},
        {"straddles two chunks", (long)chunk - 4, 0},
        {"straddles by one byte", (long)chunk - 7, 0},
        {"no marker", -1, 0},
        {"payload just fits at the end", (long)(size - 8 - 100), 1},
        {"payload does not fit", (long)(size - 8 - 99), 0},
    };
    for (const Case& c : cases) {
        const Bytes in = dataWithMarker(size, c.marker);
        Bytes payload = randomBytes(100, 3);
        setConfigPatch(payload.data(), 100, 0);
        Bytes out;
        EXPECT_EQ(transferMemory(in, out, XFER_PATCH), c.result) << c.what;
        if (c.result) {
            EXPECT_EQ(slice(out, (size_t)c.marker + 8, 100), payload) << c.what;
        }
    }
}

TEST_F(PackageTransfer, PatchMustBeArmedAndLastsOneTransfer)
{
    const Bytes in = dataWithMarker(1000, 10);
    Bytes out;
    EXPECT_EQ(transferMemory(in, out, XFER_PATCH), 0) << "nothing armed";
    EXPECT_EQ(out, in) << "nothing written over the marker";

    Bytes payload = bytesOf("payload");
    setConfigPatch(payload.data(), 0, 0);
    EXPECT_EQ(transferMemory(in, out, XFER_PATCH), 0) << "an empty payload arms nothing";

    setConfigPatch(payload.data(), (int32_t)payload.size(), 0);
    EXPECT_EQ(transferMemory(in, out, 0), 1);
    EXPECT_EQ(out, in) << "a transfer without XFER_PATCH leaves the data alone";
    EXPECT_EQ(transferMemory(in, out, XFER_PATCH), 0) << "and disarms the patch";

    setConfigPatch(payload.data(), (int32_t)payload.size(), 0);
    EXPECT_EQ(transferMemory(in, out, XFER_PATCH), 1);
    EXPECT_EQ(transferMemory(in, out, XFER_PATCH), 0) << "consumed by one transfer";
}

TEST_F(PackageTransfer, PatchOptions)
{
    const size_t marker = 300;
    const Bytes in = dataWithMarker(2000, (long)marker);
    const Bytes plain = randomBytes(64, 5);
    struct Case {
        const char* what;
        int encipher;
        uint32_t options;
        bool header, enciphered, storesPosition;
    } cases[] = {
        {"plain", 0, 0, true, false, false},
        {"encipher switch", 1, 0, true, true, false},
        {"encipher option", 0, PATCH_ENCIPHER, true, true, false},
        {"keep marker", 0, PATCH_KEEP_MARKER, false, false, false},
        {"encipher drops keep marker", 1, PATCH_KEEP_MARKER, true, true, false},
        {"store position", 0, PATCH_STORE_POSITION, true, false, true},
        {"store position, enciphered", 1, PATCH_STORE_POSITION, true, true, true},
    };
    for (const Case& c : cases) {
        Bytes payload = plain;
        setConfigPatch(payload.data(), (int32_t)payload.size(), (c.encipher ? (uint32_t)PATCH_ENCIPHER : 0u) | c.options);
        Bytes out;
        ASSERT_EQ(transferMemory(in, out, XFER_PATCH), 1) << c.what;
        Bytes expectedPayload = plain;
        if (c.storesPosition)
            putLe32(expectedPayload.data(), (uint32_t)(marker + 8));
        EXPECT_EQ(payload, expectedPayload) << c.what << ": the caller's payload";
        if (c.header) {
            EXPECT_EQ((uint32_t)getLe32(&out[marker]), CONFIG_MAGIC) << c.what;
            EXPECT_EQ(getLe32(&out[marker + 4]), 64) << c.what;
        } else {
            EXPECT_EQ(slice(out, marker, 8), slice(in, marker, 8)) << c.what;
        }
        EXPECT_EQ(slice(out, marker + 8, 64), c.enciphered ? enciphered(expectedPayload) : expectedPayload)
            << c.what;
    }
}

// Where the key is applied around the filter in a plain copy.
TEST_F(PackageTransfer, FilterSeesWhatTheFlagsSay)
{
    const uint8_t key = 0xA7;
    const size_t marker = 40;
    const Bytes content = dataWithMarker(500, (long)marker);
    const Bytes payload = bytesOf("configuration");
    Bytes patched = content;
    putLe32(&patched[marker], CONFIG_MAGIC);
    putLe32(&patched[marker + 4], (uint32_t)payload.size());
    memcpy(&patched[marker + 8], payload.data(), payload.size());

    struct Case {
        const char* what;
        Bytes in;
        TransferFlags flags;
        int result;
        Bytes out;
    } cases[] = {
        {"scrambled, filter plain: keeps the key", xorAll(content, key), key | XFER_FILTER_PLAIN, 1,
         xorAll(patched, key)},
        {"scrambled, unscramble: comes out plain", xorAll(content, key), key | XFER_UNSCRAMBLE, 1, patched},
        {"plain, key after the filter: scrambles", content, key, 1, xorAll(patched, key)},
        {"scrambled, key only after: marker unseen", xorAll(content, key), key, 0, Bytes()},
    };
    for (Case& c : cases) {
        Bytes copy = payload;
        setConfigPatch(copy.data(), (int32_t)copy.size(), 0);
        Bytes out;
        EXPECT_EQ(transferMemory(c.in, out, c.flags | XFER_PATCH), c.result) << c.what;
        if (c.result) {
            EXPECT_EQ(out, c.out) << c.what;
        }
    }
}

TEST_F(PackageTransfer, PatchThroughTheCodec)
{
    const size_t marker = 25000;   // in the third of the compressor's 10240-byte reads
    const Bytes content = dataWithMarker(60000, (long)marker);
    Bytes payload = randomBytes(CONFIG_PAYLOAD_SIZE, 8);
    Bytes expected = content;
    putLe32(&expected[marker], CONFIG_MAGIC);
    putLe32(&expected[marker + 4], CONFIG_PAYLOAD_SIZE);
    Bytes cipher = enciphered(payload);
    memcpy(&expected[marker + 8], cipher.data(), cipher.size());

    // Compressing: the filter sees the raw input.
    std::string in = tempPath("codec.in"), packed = tempPath("codec.lzh"), unpacked = tempPath("codec.out");
    writeFileBytes(in, content);
    setConfigPatch(payload.data(), (int32_t)payload.size(), PATCH_ENCIPHER);
    FileHandle source = fileOpenRead(in.c_str());
    FileHandle sink = fileCreate(packed.c_str(), 0, 0);
    int32_t count = (int32_t)content.size();
    EXPECT_EQ(transferData(fileEnd(source), fileEnd(sink), &count, XFER_COMPRESS | XFER_PATCH), 1);
    fileClose(source);
    fileClose(sink);
    source = fileOpenRead(packed.c_str());
    sink = fileCreate(unpacked.c_str(), 0, 0);
    EXPECT_EQ(transferData(fileEnd(source), fileEnd(sink), &count, XFER_DECOMPRESS), 1);
    fileClose(source);
    fileClose(sink);
    EXPECT_EQ(readFileBytes(unpacked), expected);

    // Decompressing: the filter sees the decoded output.
    writeFileBytes(packed, compressBytes(content));
    setConfigPatch(payload.data(), (int32_t)payload.size(), PATCH_ENCIPHER);
    source = fileOpenRead(packed.c_str());
    sink = fileCreate(unpacked.c_str(), 0, 0);
    EXPECT_EQ(transferData(fileEnd(source), fileEnd(sink), &count, XFER_DECOMPRESS | XFER_PATCH), 1);
    fileClose(source);
    fileClose(sink);
    EXPECT_EQ(readFileBytes(unpacked), expected);
}

TEST_F(PackageTransfer, PatchAtMarkerSearchesOnlyItsRange)
{
    Bytes memory(200, 0);
    putMarker(memory, 20);
    putMarker(memory, 100);
    for (size_t i = 108; i < 200; i++)
        memory[i] = (uint8_t)i;
    uint8_t* base = memory.data();
    struct Case {
        const char* what;
        size_t start, end;
        int result;
        size_t payloadAt;   // where the armed payload starts
    } cases[] = {
        {"the last marker before the end", 0, 200, 1, 108},
        {"end cuts off the second marker", 0, 107, 1, 28},
        {"start at the second marker", 100, 200, 1, 108},
        {"start past the second marker", 101, 200, 0, 0},
        {"start past the first, end before the second", 21, 107, 0, 0},
        {"range shorter than a marker", 0, 7, 0, 0},
    };
    const Bytes in = dataWithMarker(4000, 1000);
    for (const Case& c : cases) {
        setConfigPatch(nullptr, 0, 0);   // nothing armed before
        EXPECT_EQ(setConfigPatchAtMarker(base + c.start, base + c.end, 0), c.result) << c.what;
        Bytes out;
        EXPECT_EQ(transferMemory(in, out, XFER_PATCH), c.result) << c.what << ": armed or not";
        if (c.result) {
            const size_t length = c.end - c.payloadAt;
            EXPECT_EQ(getLe32(&out[1004]), (int32_t)length) << c.what;
            EXPECT_EQ(slice(out, 1008, length), slice(memory, c.payloadAt, length)) << c.what;
        }
    }
}

static int refuseOverwrite(const char*)
{
    return 0;
}

// Each failing operation keeps the reason a tool reports.
TEST_F(PackageTransfer, FailuresSayWhy)
{
    RawPackage package;
    package.addStored("Plain", bytesOf("hello"));
    package.addStored("Outside", bytesOf("data"));
    package.addCompressed("Damaged", textBytes(3000, 1));
    package.addValue("Value", bytesOf("v"));
    package.records[1].dataOffset = 1000000;          // past the end of the package
    package.data[(size_t)package.records[2].dataOffset + 20] ^= 0xFF;   // a data block's payload
    const std::string path = package.write("why.pkg");
    const std::string noDirectory = tempPath("plain.bin");
    writeFileBytes(noDirectory, randomBytes(500, 3));
    const std::string out = tempPath("why.out");
    const std::string existing = tempPath("why.existing");
    writeFileBytes(existing, bytesOf("keep"));
    const std::string inMissingFolder = tempPath("no-such-folder") + "/out.bin";
    uint8_t memory[16];
    auto opened = [&] { return openPackage(path.c_str()) != INVALID_FILE; };

    struct Case {
        const char* what;
        std::function<int()> run;
        PackageError error;
    } cases[] = {
        {"open a missing file", [&] { return (int)(openPackage(tempPath("missing.pkg").c_str()) != INVALID_FILE); },
         PACKAGE_NO_SUCH_FILE},
        {"open a file without a directory", [&] { return (int)(openPackage(noDirectory.c_str()) != INVALID_FILE); },
         PACKAGE_NO_DIRECTORY},
        {"extract with no package open", [&] { return extractToFile("Plain", out.c_str()); }, PACKAGE_NOT_OPEN},
        {"extract a missing entry", [&] { return opened() && extractToFile("Nothing", out.c_str()); },
         PACKAGE_NO_SUCH_ENTRY},
        {"extract into a missing folder", [&] { return opened() && extractToFile("Plain", inMissingFolder.c_str()); },
         PACKAGE_CANNOT_CREATE_TARGET},
        {"extract over a file the hook keeps", [&] {
             if (!opened())
                 return 1;
             confirmOverwriteHook = refuseOverwrite;
             return extractToFile("Plain", existing.c_str());
         }, PACKAGE_OVERWRITE_REFUSED},
        {"extract data outside the package", [&] { return opened() && extractToFile("Outside", out.c_str()); },
         PACKAGE_DAMAGED_ENTRY},
        {"extract damaged compressed data", [&] { return opened() && extractToFile("Damaged", out.c_str()); },
         PACKAGE_DAMAGED_ENTRY},
        {"extract into too little memory", [&] { return opened() && extractToMemory("Damaged", memory, 16); },
         PACKAGE_TOO_SMALL},
        {"create a package in a missing folder", [&] { return (int)(createPackage(inMissingFolder.c_str()) != INVALID_FILE); },
         PACKAGE_CANNOT_CREATE_TARGET},
        {"add with no package being written", [&] { return addMemory("x", 1, "X", 0); }, PACKAGE_NOT_OPEN},
        {"add a missing file", [&] {
             return createPackage(out.c_str()) != INVALID_FILE && addFile(tempPath("missing.src").c_str(), "M", 0);
         }, PACKAGE_NO_SUCH_FILE},
        {"a value as the first record", [&] {
             return createPackage(out.c_str()) != INVALID_FILE && addValue("V", memory, 1);
         }, PACKAGE_BAD_ARGUMENT},
        {"copy a missing entry", [&] {
             return opened() && createPackage(out.c_str()) != INVALID_FILE && copyEntry("Nothing", 0);
         }, PACKAGE_NO_SUCH_ENTRY},
    };
    for (const Case& c : cases) {
        setPackageError(PACKAGE_OK);
        EXPECT_EQ(c.run(), 0) << c.what;
        EXPECT_EQ(packageLastError(), c.error) << c.what << ": " << packageErrorText(packageLastError());
        closePackage(packageWriterHandle());
        closePackage(packageReaderHandle());
        confirmOverwriteHook = nullptr;
    }
    EXPECT_EQ(readFileBytes(existing), bytesOf("keep"));
}
