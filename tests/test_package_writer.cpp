// Package writer: the written file's layout, the record limits, values,
// aliases and renames, copying entries under every flag, patch offsets, and a
// directory that cannot be written.
#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "pkgtestutil.h"
#include "app/setupconfig.h"
#include "package/configpatch.h"
#include "package/transfer.h"
#include "package/writer.h"

class PackageWriter : public PackageTest {};

static std::string nameOf(const PackageEntry& entry)
{
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

TEST_F(PackageWriter, WrittenPackageLayout)
{
    std::string path = tempPath("three.pkg");
    const Bytes x = textBytes(1000, 1), y = randomBytes(500, 2), z = textBytes(3000, 3);
    std::string yPath = tempPath("y.bin");
    writeFileBytes(yPath, y);
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(addMemory(x.data(), (int32_t)x.size(), "X", 0), 1);
    EXPECT_EQ(addFile(yPath.c_str(), "Y", 0x42), 1);
    EXPECT_EQ(addMemory(z.data(), (int32_t)z.size(), "Z", 0), 1);
    EXPECT_EQ(closePackage(packageWriterHandle()), 1);
    EXPECT_EQ(packageWriterHandle(), INVALID_FILE);

    const Bytes file = readFileBytes(path);
    ASSERT_EQ(file.size(), x.size() + y.size() + z.size() + 3 * ENTRY_SIZE);
    std::vector<PackageEntry> records = directoryOf(file, 3);
    ASSERT_EQ(records.size(), 3u);
    const char* names[] = {"X", "Y", "Z"};
    const int32_t offsets[] = {0, 1000, 1500};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(nameOf(records[(size_t)i]), names[i]);
        EXPECT_EQ(getLe32(records[(size_t)i].dataOffset), offsets[i]);
        EXPECT_EQ((uint32_t)getLe32(records[(size_t)i].magic), ENTRY_MAGIC);
        EXPECT_EQ(records[(size_t)i].recordLength, ENTRY_SIZE);
        EXPECT_EQ(getLe32(records[(size_t)i].patchOffset), -1);
    }
    EXPECT_EQ(records[0].inlineLength, 3) << "the file's last record carries the count";
    EXPECT_EQ(records[1].xorKey, 0x42);
    EXPECT_EQ(dataOf(file, records[1]), xorAll(y, 0x42));
    EXPECT_EQ(dataOf(file, records[0]), x);

    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(packageEntryCount(), 3);
    Bytes content;
    for (const auto& entry : {std::make_pair("x", &x), std::make_pair("Y", &y), std::make_pair("z", &z)}) {
        ASSERT_TRUE(extractBytes(entry.first, content)) << entry.first;
        EXPECT_EQ(content, *entry.second) << entry.first;
    }
}

// The reader keeps five bits of the count byte, so the writer stops at 31.
TEST_F(PackageWriter, AtMostThirtyOneRecordsAndAllReadBack)
{
    std::string path = tempPath("full.pkg");
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    for (int i = 0; i < PACKAGE_MAX_RECORDS; i++) {
        std::string name = "R" + std::to_string(i);
        uint8_t byte = (uint8_t)i;
        if (i % 2 || i == 0)
            ASSERT_EQ(addMemory(&byte, 1, name.c_str(), 0), 1) << i;
        else
            ASSERT_EQ(addValue(name.c_str(), &byte, 1), 1) << i;
    }
    EXPECT_EQ(nextFreeRecord(), nullptr);
    uint8_t byte = 99;
    EXPECT_EQ(addMemory(&byte, 1, "Extra", 0), 0);
    EXPECT_EQ(addValue("Extra", &byte, 1), 0);
    EXPECT_EQ(aliasEntry("Extra", "R1"), 0);
    appendRecord("Extra", 0, 1, 1, 0, 0);
    EXPECT_EQ(closePackage(packageWriterHandle()), 1);

    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(packageEntryCount(), PACKAGE_MAX_RECORDS);
    for (int i = 0; i < PACKAGE_MAX_RECORDS; i++) {
        std::string name = "R" + std::to_string(i);
        uint8_t value[16] = {0};
        int32_t length = 0;
        if (i % 2 || i == 0) {
            Bytes content;
            ASSERT_TRUE(extractBytes(name.c_str(), content)) << name;
            EXPECT_EQ(content, Bytes(1, (uint8_t)i)) << name;
        } else {
            ASSERT_EQ(readValue(name.c_str(), value, &length), 1) << name;
            EXPECT_EQ(Bytes(value, value + length), Bytes(1, (uint8_t)i)) << name;
        }
    }
    EXPECT_EQ(findEntry("Extra", FIND_DATA | FIND_VALUE), nullptr);
}

TEST_F(PackageWriter, ValuesAreNeverFirstAndHoldSixteenBytes)
{
    std::string path = tempPath("values.pkg");
    const Bytes twenty = textBytes(20, 4);
    EXPECT_EQ(addValue("NoPackage", twenty.data(), 4), 0);
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(addValue("First", twenty.data(), 4), 0) << "the first record carries count and magic";
    ASSERT_EQ(addMemory(twenty.data(), 3, "MAIN", 0), 1);
    struct Case {
        const char* name;
        int32_t length;
        int32_t stored;
    } cases[] = {{"Twenty", 20, 16}, {"Negative", -3, 0}, {"Four", 4, 4}, {"Sixteen", 16, 16}, {"Zero", 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(addValue(c.name, twenty.data(), c.length), 1) << c.name;
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);

    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    for (const Case& c : cases) {
        uint8_t value[16];
        int32_t length = -1;
        ASSERT_EQ(readValue(c.name, value, &length), 1) << c.name;
        EXPECT_EQ(Bytes(value, value + length), Bytes(twenty.begin(), twenty.begin() + c.stored)) << c.name;
    }
    EXPECT_EQ(findEntry("First", FIND_DATA | FIND_VALUE), nullptr);

    // copyValue carries a value into another package.
    std::string copyPath = tempPath("values2.pkg");
    ASSERT_NE(createPackage(copyPath.c_str()), INVALID_FILE);
    ASSERT_EQ(copyEntry("MAIN", 0), 1);
    EXPECT_EQ(copyValue("four"), 1);
    EXPECT_EQ(copyValue("Missing"), 0);
    EXPECT_EQ(copyValue("MAIN"), 0) << "a data entry is no value";
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);
    ASSERT_NE(openPackage(copyPath.c_str()), INVALID_FILE);
    uint8_t value[16];
    int32_t length = 0;
    ASSERT_EQ(readValue("Four", value, &length), 1);
    EXPECT_EQ(Bytes(value, value + length), Bytes(twenty.begin(), twenty.begin() + 4));
}

TEST_F(PackageWriter, AliasesShareDataAndRenamesChangeOnlyNames)
{
    std::string path = tempPath("alias.pkg");
    const Bytes data = textBytes(700, 5);
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    ASSERT_EQ(addMemory(data.data(), 300, "Base", 0x11), 1);
    ASSERT_EQ(addMemory(data.data(), 700, "Other", 0), 1);
    EXPECT_EQ(aliasEntry("Alias", "base"), 1);
    EXPECT_EQ(aliasEntry("Nothing", "Missing"), 0);
    EXPECT_EQ(renameEntry("Missing", "New"), 0);
    EXPECT_EQ(renameEntry("OTHER", "Renamed"), 1);
    EXPECT_EQ(renameEntry("Other", "Again"), 0) << "the old name is gone";
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);
    EXPECT_EQ(aliasEntry("Late", "Base"), 0) << "no package being written";

    const Bytes file = readFileBytes(path);
    std::vector<PackageEntry> records = directoryOf(file, 3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(nameOf(records[0]), "Base");
    EXPECT_EQ(nameOf(records[1]), "Renamed");
    EXPECT_EQ(nameOf(records[2]), "Alias");
    EXPECT_EQ(memcmp((const uint8_t*)&records[0] + 19, (const uint8_t*)&records[2] + 19, 21), 0)
        << "offset, sizes, patch offset and magic are the same";
    EXPECT_EQ(records[2].mode, records[0].mode);
    EXPECT_EQ(records[2].xorKey, 0x11);

    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(isSameData("Base", "Alias"), 1);
    EXPECT_EQ(isSameData("Base", "Renamed"), 0);
    Bytes content;
    ASSERT_TRUE(extractBytes("Alias", content));
    EXPECT_EQ(content, Bytes(data.begin(), data.begin() + 300));
    EXPECT_EQ(findEntry("Other", FIND_DATA), nullptr);
}

TEST_F(PackageWriter, AddFileCompressedStoresNoKey)
{
    const Bytes content = textBytes(40000, 6);
    std::string source = tempPath("source.txt"), path = tempPath("compressed.pkg");
    writeFileBytes(source, content);
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    ASSERT_EQ(addFile(source.c_str(), "Packed", XFER_COMPRESS | 0x33), 1);
    EXPECT_EQ(addFile(tempPath("missing.txt").c_str(), "Missing", 0), 0);
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);

    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    PackageEntry* entry = findEntry("Packed", FIND_DATA);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->mode, ENTRY_COMPRESSED);
    EXPECT_EQ(entry->xorKey, 0);
    EXPECT_EQ(getLe32(entry->extractedSize), 40000);
    EXPECT_LT(getLe32(entry->storedSize), 40000);
    Bytes extracted;
    ASSERT_TRUE(extractBytes("Packed", extracted));
    EXPECT_EQ(extracted, content);
}

// A failed transfer leaves its bytes without a record; the next entry follows them.
TEST_F(PackageWriter, FailedTransferLeavesBytesWithoutRecord)
{
    const Bytes a = textBytes(100, 1), b = textBytes(50, 2);
    std::string path = tempPath("failed.pkg");
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    ASSERT_EQ(addMemory(a.data(), 100, "A", 0), 1);
    EXPECT_EQ(addMemory(a.data(), 100, "Unpatched", XFER_PATCH), 0) << "nothing armed";
    ASSERT_EQ(addMemory(b.data(), 50, "B", 0), 1);
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(packageEntryCount(), 2);
    EXPECT_EQ(getLe32(findEntry("B", FIND_DATA)->dataOffset), 200);
    EXPECT_EQ(findEntry("Unpatched", FIND_DATA), nullptr);
}

// Every row of the copy rules: which flags apply, what the record says, and
// which bytes land in the new package.
TEST_F(PackageWriter, CopyEntryUnderEveryFlag)
{
    const uint8_t k = 0x6C;
    const size_t marker = 200;
    Bytes content = textBytes(30000, 7);
    putLe32(&content[marker], CONFIG_MARKER_1);
    putLe32(&content[marker + 4], CONFIG_MARKER_2);
    const Bytes payload = bytesOf("embedded configuration");
    Bytes patched = content;
    putLe32(&patched[marker], CONFIG_MAGIC);
    putLe32(&patched[marker + 4], (uint32_t)payload.size());
    memcpy(&patched[marker + 8], payload.data(), payload.size());

    RawPackage source;
    source.addStored("Plain", content);
    source.addStored("Keyed", content, k);
    source.addCompressed("Packed", content);
    source.records.back().patchOffset = 1234;
    const Bytes sourceFile = source.bytes();
    std::string sourcePath = tempPath("source.pkg");
    writeFileBytes(sourcePath, sourceFile);
    const Bytes packed = compressBytes(content);

    enum Stored { AS_IS, CONTENT, KEYED_CONTENT, COMPRESSED_CONTENT, PATCHED_KEYED, PATCHED };
    struct Case {
        const char* entry;
        TransferFlags flags;
        int result;
        uint8_t mode, key;
        Stored stored;
    } cases[] = {
        {"Plain", 0, 1, ENTRY_STORED, 0, AS_IS},
        {"Keyed", 0, 1, ENTRY_STORED, k, AS_IS},
        {"Packed", 0, 1, ENTRY_COMPRESSED, 0, AS_IS},
        {"Packed", XFER_COMPRESS, 1, ENTRY_COMPRESSED, 0, AS_IS},
        {"Keyed", XFER_DECOMPRESS, 1, ENTRY_STORED, k, AS_IS},
        {"Keyed", XFER_UNSCRAMBLE, 1, ENTRY_STORED, 0, CONTENT},
        {"Plain", XFER_UNSCRAMBLE, 1, ENTRY_STORED, 0, CONTENT},
        {"Packed", XFER_UNSCRAMBLE, 1, ENTRY_COMPRESSED, 0, AS_IS},   // no key to remove: stays compressed
        {"Keyed", XFER_COMPRESS, 1, ENTRY_COMPRESSED, 0, COMPRESSED_CONTENT},
        {"Plain", XFER_COMPRESS | XFER_UNSCRAMBLE, 1, ENTRY_COMPRESSED, 0, COMPRESSED_CONTENT},
        {"Packed", XFER_DECOMPRESS, 1, ENTRY_STORED, 0, CONTENT},
        {"Packed", XFER_DECOMPRESS | XFER_COMPRESS, 1, ENTRY_STORED, 0, CONTENT},
        {"Keyed", XFER_DECOMPRESS | XFER_COMPRESS, 1, ENTRY_COMPRESSED, 0, COMPRESSED_CONTENT},
        {"Keyed", 0x99, 1, ENTRY_STORED, k, AS_IS},                  // a caller's key byte is ignored
        {"Keyed", XFER_PATCH, 1, ENTRY_STORED, k, PATCHED_KEYED},
        {"Plain", XFER_PATCH, 1, ENTRY_STORED, 0, PATCHED},
        {"Keyed", XFER_PATCH | XFER_UNSCRAMBLE, 1, ENTRY_STORED, 0, PATCHED},
        {"Packed", XFER_PATCH | XFER_DECOMPRESS, 1, ENTRY_STORED, 0, PATCHED},
        {"Packed", XFER_PATCH, 0, 0, 0, AS_IS},                       // the marker is not visible in coded data
        {"Missing", 0, 0, 0, 0, AS_IS},
    };
    for (const Case& c : cases) {
        std::string what = std::string(c.entry) + " flags " + std::to_string(c.flags);
        ASSERT_NE(openPackage(sourcePath.c_str()), INVALID_FILE);
        std::string path = tempPath("copy.pkg");
        ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
        ASSERT_EQ(addMemory("lead", 4, "Lead", 0), 1);   // the copy does not start at 0
        Bytes armed = payload;
        if (c.flags & XFER_PATCH)
            setConfigPatch(armed.data(), (int32_t)armed.size(), 0);
        EXPECT_EQ(copyEntry(c.entry, c.flags), c.result) << what;
        ASSERT_EQ(closePackage(packageWriterHandle()), 1);
        if (!c.result) {
            ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
            EXPECT_EQ(packageEntryCount(), 1) << what;
            continue;
        }
        const Bytes file = readFileBytes(path);
        std::vector<PackageEntry> records = directoryOf(file, 2);
        ASSERT_EQ(records.size(), 2u) << what;
        const PackageEntry& copy = records[1];
        EXPECT_EQ(nameOf(copy), c.entry) << what;
        EXPECT_EQ(copy.mode, c.mode) << what;
        EXPECT_EQ(copy.xorKey, c.key) << what;
        EXPECT_EQ(getLe32(copy.dataOffset), 4) << what;
        EXPECT_EQ(getLe32(copy.extractedSize), (int32_t)content.size()) << what;
        EXPECT_EQ(getLe32(copy.patchOffset), strcmp(c.entry, "Packed") ? -1 : 1234) << what << ": carried along";

        const PackageEntry* original = nullptr;
        std::vector<PackageEntry> sourceRecords = directoryOf(sourceFile, 3);
        for (const PackageEntry& r : sourceRecords)
            if (nameOf(r) == c.entry)
                original = &r;
        ASSERT_NE(original, nullptr);
        Bytes expected;
        switch (c.stored) {
        case AS_IS: expected = dataOf(sourceFile, *original); break;
        case CONTENT: expected = content; break;
        case KEYED_CONTENT: expected = xorAll(content, k); break;
        case COMPRESSED_CONTENT: expected = packed; break;
        case PATCHED_KEYED: expected = xorAll(patched, k); break;
        case PATCHED: expected = patched; break;
        }
        EXPECT_EQ(dataOf(file, copy), expected) << what;
        EXPECT_EQ(getLe32(copy.storedSize), (int32_t)expected.size()) << what;

        ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
        Bytes extracted;
        ASSERT_TRUE(extractBytes(c.entry, extracted)) << what;
        EXPECT_EQ(extracted, (c.flags & XFER_PATCH) ? patched : content) << what;
    }
}

TEST_F(PackageWriter, CopyEntryNeedsBothPackages)
{
    RawPackage source;
    source.addStored("MAIN", textBytes(10, 1));
    std::string sourcePath = source.write("needs.pkg");
    EXPECT_EQ(copyEntry("MAIN", 0), 0) << "nothing open, nothing written";
    ASSERT_NE(openPackage(sourcePath.c_str()), INVALID_FILE);
    EXPECT_EQ(copyEntry("MAIN", 0), 0) << "no package being written";
    ASSERT_NE(createPackage(tempPath("needs.out").c_str()), INVALID_FILE);
    EXPECT_EQ(copyEntry("MAIN", 0), 1);
    closePackage(packageReaderHandle());
    EXPECT_EQ(copyEntry("MAIN", 0), 0) << "the source package is closed";
}

TEST_F(PackageWriter, PatchOffsetRecordsTheMarkersPosition)
{
    const Bytes payload = bytesOf("cfg");
    struct Case {
        const char* what;
        long marker;   // -1: none
        TransferFlags flags;
        bool fromFile;
        int32_t expected;
    } cases[] = {
        {"memory, marker at 100", 100, XFER_PATCH, false, 100},
        {"file, marker at 100", 100, XFER_PATCH, true, 100},
        {"file, marker in the second chunk", 20000, XFER_PATCH, true, 20000},
        {"file, compressed, marker in the third read", 25000, XFER_PATCH | XFER_COMPRESS, true, 25000},
        {"marker at 0 is recorded as none", 0, XFER_PATCH, false, -1},
        {"without XFER_PATCH", 100, 0, false, -1},
    };
    for (const Case& c : cases) {
        Bytes data = textBytes(40000, 9);
        if (c.marker >= 0) {
            putLe32(&data[(size_t)c.marker], CONFIG_MARKER_1);
            putLe32(&data[(size_t)c.marker + 4], CONFIG_MARKER_2);
        }
        std::string path = tempPath("patch.pkg"), source = tempPath("patch.in");
        writeFileBytes(source, data);
        closePackage(packageReaderHandle());   // Windows does not replace an open file
        ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
        ASSERT_EQ(addMemory("lead", 4, "Lead", 0), 1);
        Bytes armed = payload;
        setConfigPatch(armed.data(), (int32_t)armed.size(), 0);
        int result = c.fromFile ? addFile(source.c_str(), "Patched", c.flags)
                                : addMemory(data.data(), (int32_t)data.size(), "Patched", c.flags);
        EXPECT_EQ(result, 1) << c.what;
        ASSERT_EQ(closePackage(packageWriterHandle()), 1);
        ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
        PackageEntry* entry = findEntry("Patched", FIND_DATA);
        ASSERT_NE(entry, nullptr) << c.what;
        EXPECT_EQ(getLe32(entry->patchOffset), c.expected) << c.what;
    }
}

static int refuseOverwrite(const char*)
{
    return 0;
}

TEST_F(PackageWriter, CreateAndCloseEdges)
{
    std::string first = tempPath("first.pkg"), second = tempPath("second.pkg");
    ASSERT_NE(createPackage(first.c_str()), INVALID_FILE);
    ASSERT_EQ(addMemory("abc", 3, "A", 0), 1);
    ASSERT_NE(createPackage(second.c_str()), INVALID_FILE) << "finishes the first";
    ASSERT_NE(openPackage(first.c_str()), INVALID_FILE);
    EXPECT_EQ(packageEntryCount(), 1);
    closePackage(packageReaderHandle());

    // A package without records gets no directory and cannot be opened.
    EXPECT_EQ(closePackage(packageWriterHandle()), 1);
    EXPECT_EQ(openPackage(second.c_str()), INVALID_FILE);

    // A refused overwrite leaves the file alone; the hook lasts one call.
    const Bytes before = readFileBytes(first);
    confirmOverwriteHook = refuseOverwrite;
    EXPECT_EQ(createPackage(first.c_str()), INVALID_FILE);
    EXPECT_EQ(confirmOverwriteHook, nullptr);
    EXPECT_EQ(readFileBytes(first), before);
    EXPECT_EQ(addMemory("abc", 3, "A", 0), 0) << "no package being written";

    std::string tooLong(FILE_PATH_SIZE, 'x');
    EXPECT_EQ(createPackage(tooLong.c_str()), INVALID_FILE);
    EXPECT_EQ(createPackage(nullptr), INVALID_FILE);
}

#ifndef _WIN32
// A directory that cannot be written is reported and leaves no file behind.
TEST_F(PackageWriter, FailedDirectoryWriteDeletesThePackage)
{
    const Bytes data = textBytes(5000, 2);
    std::string path = tempPath("nodirectory.pkg");
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    ASSERT_EQ(addMemory(data.data(), (int32_t)data.size(), "A", 0), 1);
    ASSERT_EQ(addMemory(data.data(), 10, "B", 0), 1);

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);   // a failed write, not a signal
    struct rlimit limit = saved;
    limit.rlim_cur = 5000 + 10 + 20;   // the 80-byte directory does not fit
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    int result = closePackage(packageWriterHandle());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedSignal);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(packageWriterHandle(), INVALID_FILE);
    EXPECT_FALSE(fileExists(path));
}
#endif
