// Package directory and reader: finding the directory, lookups, queries, the
// stop-after-failure latch and output-file creation.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "coding/pc1.h"
#include "pkgtestutil.h"
#include "package/transfer.h"
#include "package/writer.h"

class PackageReader : public PackageTest {};

static std::string entryName(int i)
{
    char name[16];
    snprintf(name, sizeof name, "Entry%02d", i);
    return name;
}

static std::string swapCase(std::string text)
{
    for (char& c : text)
        c = (char)(isupper((unsigned char)c) ? tolower((unsigned char)c) : toupper((unsigned char)c));
    return text;
}

TEST_F(PackageReader, PackagesOfEveryCountOpenAndFindEveryName)
{
    for (int leading : {0, 2000}) {   // 2000 bytes in front: all 32 trials are possible
        for (int n = 1; n <= PACKAGE_MAX_RECORDS; n++) {
            RawPackage package;
            package.data = randomBytes((size_t)leading, 5);
            for (int i = 0; i < n; i++)
                package.addStored(entryName(i), textBytes((size_t)(10 + i), (uint32_t)i + 1));
            std::string path = package.write("count.pkg");
            ASSERT_NE(openPackage(path.c_str()), INVALID_FILE) << n << " records, " << leading;
            EXPECT_EQ(packageEntryCount(), n);
            for (int i = 0; i < n; i++) {
                for (const std::string& name : {entryName(i), swapCase(entryName(i))}) {
                    PackageEntry* entry = findEntry(name.c_str(), FIND_DATA);
                    ASSERT_NE(entry, nullptr) << name << " in " << n;
                    EXPECT_EQ(getLe32(entry->dataOffset), package.records[(size_t)i].dataOffset);
                    EXPECT_EQ(getStoredSize(name.c_str()), 10 + i);
                }
            }
            EXPECT_EQ(findEntry(entryName(n).c_str(), FIND_DATA), nullptr);
        }
    }
}

TEST_F(PackageReader, DamagedOrShortFilesDoNotOpen)
{
    RawPackage good;
    good.addStored("MAIN", textBytes(300, 1));
    good.addStored("File1", textBytes(50, 2));
    const Bytes valid = good.bytes();
    const std::string goodPath = good.write("good.pkg");

    Bytes appended = valid;
    appended.push_back(0);
    Bytes lastByteChanged = valid;
    if (!lastByteChanged.empty())   // (also keeps g++ -O2 from a false overflow warning)
        lastByteChanged.back() ^= 1;
    Bytes cut = valid;
    cut.pop_back();
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty file", Bytes()},
        {"39 bytes", Bytes(valid.end() - 39, valid.end())},
        {"one byte after the directory", appended},
        {"last byte of the magic changed", lastByteChanged},
        {"last byte cut off", cut},
        {"random bytes", randomBytes(3000, 9)},
    };
    for (const Case& c : cases) {
        std::string path = tempPath("bad.pkg");
        writeFileBytes(path, c.bytes);
        FileHandle first = openPackage(goodPath.c_str());
        ASSERT_NE(first, INVALID_FILE);
        EXPECT_EQ(openPackage(path.c_str()), INVALID_FILE) << c.what;
        EXPECT_EQ(packageReaderHandle(), INVALID_FILE) << c.what;
        EXPECT_EQ(findEntry("MAIN", FIND_DATA), nullptr) << c.what;
        EXPECT_EQ(fileSize(first), -1) << c.what << ": the first package is closed";
    }
    EXPECT_EQ(openPackage(tempPath("no such file").c_str()), INVALID_FILE);
}

TEST_F(PackageReader, SecondPackageReplacesTheFirst)
{
    RawPackage a, b;
    a.addStored("OnlyInA", textBytes(10, 1));
    b.addStored("OnlyInB", textBytes(20, 2));
    std::string pathA = a.write("a.pkg"), pathB = b.write("b.pkg");

    ASSERT_NE(openPackage(pathA.c_str()), INVALID_FILE);
    FileHandle second = openPackage(pathB.c_str());
    ASSERT_NE(second, INVALID_FILE);
    EXPECT_EQ(packageReaderHandle(), second);
    EXPECT_EQ(findEntry("OnlyInA", FIND_DATA), nullptr);
    EXPECT_NE(findEntry("OnlyInB", FIND_DATA), nullptr);

    EXPECT_EQ(closePackage(second), 1);
    EXPECT_EQ(findEntry("OnlyInB", FIND_DATA), nullptr) << "nothing is found with no package open";
    EXPECT_EQ(closePackage(second), 0) << "a closed handle is ignored";
    EXPECT_EQ(closePackage(INVALID_FILE), 0);
}

TEST_F(PackageReader, LookupsAndQueries)
{
    RawPackage package;
    package.addStored("MAIN", textBytes(100, 1));
    package.addValue("Twice", bytesOf("value"));
    package.addStored("Twice", textBytes(30, 2));          // never seen: the value comes first
    package.addStored("Alias", Bytes());
    package.records.back().dataOffset = 0;                 // same data as MAIN
    package.addValue("Version", bytesOf("3.1"));
    package.addValue("Long", bytesOf("x")).inlineLength = 17;
    package.addValue("Negative", bytesOf("x")).inlineLength = -1;
    package.addValue("Full", bytesOf("0123456789abcdef"));
    std::string path = package.write("lookups.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);

    struct Find {
        const char* name;
        int kinds;
        int expectedMode;   // -1: not found
    } finds[] = {
        {"main", FIND_DATA, ENTRY_STORED},
        {"MAIN", FIND_VALUE, -1},
        {"Twice", FIND_DATA, -1},
        {"Twice", FIND_VALUE, ENTRY_VALUE},
        {"twice", FIND_DATA | FIND_VALUE, ENTRY_VALUE},
        {"Version", 4, -1},                                // other bits are ignored
        {"Missing", FIND_DATA | FIND_VALUE, -1},
        {"", FIND_DATA | FIND_VALUE, -1},
    };
    for (const Find& f : finds) {
        PackageEntry* entry = findEntry(f.name, f.kinds);
        EXPECT_EQ(entry ? entry->mode : -1, f.expectedMode) << f.name << " kinds " << f.kinds;
    }

    struct Size {
        const char* name;
        int32_t stored, extracted;
    } sizes[] = {{"main", 100, 100}, {"Version", -1, -1}, {"Twice", -1, -1}, {"Missing", -1, -1}};
    for (const Size& s : sizes) {
        EXPECT_EQ(getStoredSize(s.name), s.stored) << s.name;
        EXPECT_EQ(getExtractedSize(s.name), s.extracted) << s.name;
    }

    struct Value {
        const char* name;
        int found;
        const char* bytes;
    } values[] = {{"version", 1, "3.1"}, {"Long", 1, ""}, {"Negative", 1, ""},
                  {"Full", 1, "0123456789abcdef"}, {"MAIN", 0, ""}, {"Missing", 0, ""}};
    for (const Value& v : values) {
        uint8_t buffer[16 + 4];
        memset(buffer, 0xEE, sizeof buffer);
        int32_t length = 99;
        EXPECT_EQ(readValue(v.name, buffer, &length), v.found) << v.name;
        EXPECT_EQ(Bytes(buffer, buffer + length), bytesOf(v.bytes)) << v.name;
        EXPECT_EQ(buffer[16], 0xEE) << v.name;
    }

    EXPECT_EQ(isSameData("MAIN", "alias"), 1);
    EXPECT_EQ(isSameData("MAIN", "MAIN"), 1);
    EXPECT_EQ(isSameData("MAIN", "Version"), 0);
    EXPECT_EQ(isSameData("MAIN", "Missing"), 0);
}

// A 16-character name has no terminator; matching must stay inside its field.
TEST_F(PackageReader, SixteenCharacterNamesMatchInsideTheirField)
{
    RawPackage package;
    package.data = Bytes(0x51, 'd');
    package.addStored("ABCDEFGHIJKLMNOP", textBytes(40, 1));   // dataOffset 0x51 = 'Q'
    package.records.back().dataOffset = 0x51;
    package.records.back().storedSize = 0;
    std::string path = package.write("names.pkg");
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);

    struct Case {
        const char* name;
        bool found;
    } cases[] = {
        {"ABCDEFGHIJKLMNOP", true},
        {"abcdefghijklmnop", true},
        {"ABCDEFGHIJKLMNOPQ", false},   // would match if the compare ran on into dataOffset
        {"ABCDEFGHIJKLMNO", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findEntry(c.name, FIND_DATA) != nullptr, c.found) << c.name;
}

// True when a trial that starts after the directory's first record shows the magic.
static bool lateTrialShowsMagic(const Bytes& file, int records)
{
    for (int trial = 1; trial < records; trial++) {
        Bytes tail(file.end() - trial * ENTRY_SIZE, file.end());
        setKey(PC1_DIRECTORY_KEY);
        crypt(tail.data(), (int32_t)tail.size(), 0);
        if ((uint32_t)getLe32(&tail[tail.size() - 4]) == ENTRY_MAGIC)
            return true;
    }
    return false;
}

// The cipher can fall into step with the true stream from a later start, so a
// late trial may show the magic; its count byte gives it away.
TEST_F(PackageReader, LateTrialInStepWithTheStreamIsNotTaken)
{
    const int n = PACKAGE_MAX_RECORDS;
    for (uint32_t seed = 1; seed < 5000; seed++) {
        RawPackage package;
        const Bytes letters = randomBytes((size_t)n * 16, seed);
        for (int i = 0; i < n; i++) {
            std::string name;
            for (int j = 0; j < 16; j++)
                name += (char)('A' + letters[(size_t)(i * 16 + j)] % 26);
            package.addStored(name, Bytes());
        }
        const Bytes file = package.bytes();
        if (!lateTrialShowsMagic(file, n))
            continue;
        std::string path = tempPath("instep.pkg");
        writeFileBytes(path, file);
        ASSERT_NE(openPackage(path.c_str()), INVALID_FILE) << "seed " << seed;
        EXPECT_EQ(packageEntryCount(), n) << "seed " << seed;
        for (const RawEntry& entry : package.records)
            EXPECT_NE(findEntry(entry.name.c_str(), FIND_DATA), nullptr) << entry.name << ", seed " << seed;
        return;
    }
    FAIL() << "no directory with a late trial in step was found";
}

// A count byte larger than the directory that was found cannot reach records
// from an earlier package left in the buffer.
TEST_F(PackageReader, CountByteIsBoundedByTheDirectory)
{
    RawPackage big;
    for (int i = 0; i < 20; i++)
        big.addStored(entryName(i), textBytes(5, (uint32_t)i + 1));
    std::string bigPath = big.write("big.pkg");
    ASSERT_NE(openPackage(bigPath.c_str()), INVALID_FILE);

    RawPackage small;
    small.addStored("Only", textBytes(5, 1));
    small.countByte = 31;
    std::string smallPath = small.write("small.pkg");
    ASSERT_NE(openPackage(smallPath.c_str()), INVALID_FILE);
    EXPECT_EQ(packageEntryCount(), 1);
    EXPECT_NE(findEntry("Only", FIND_DATA), nullptr);
    EXPECT_EQ(findEntry(entryName(5).c_str(), FIND_DATA), nullptr);
}

TEST_F(PackageReader, PresetSizeEndsThePackageBeforeTheEndOfItsFile)
{
    RawPackage package;
    package.addStored("MAIN", textBytes(64, 3));
    Bytes file = package.bytes();
    const int32_t packageSize = (int32_t)file.size();
    Bytes tail = randomBytes(77, 4);
    file.insert(file.end(), tail.begin(), tail.end());
    std::string path = tempPath("preset.pkg");
    writeFileBytes(path, file);

    EXPECT_EQ(openPackage(path.c_str()), INVALID_FILE);
    presetPackageSize(packageSize);
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    Bytes content;
    ASSERT_TRUE(extractBytes("MAIN", content));
    EXPECT_EQ(content, textBytes(64, 3));
    EXPECT_EQ(openPackage(path.c_str()), INVALID_FILE) << "the preset applies to one open";
}

TEST_F(PackageReader, LatchStopsEveryLaterOperationUntilReset)
{
    RawPackage package;
    package.addStored("MAIN", textBytes(64, 3));
    package.addValue("Version", bytesOf("1"));
    std::string good = package.write("latch.pkg");
    std::string bad = tempPath("latch.bad");
    writeFileBytes(bad, randomBytes(100, 1));
    std::string out = tempPath("latch.out");

    // Off: failures do not arm the latch.
    setStopOnError(0);
    EXPECT_EQ(openPackage(bad.c_str()), INVALID_FILE);
    EXPECT_EQ(failureLatch(), 0);
    EXPECT_NE(openPackage(good.c_str()), INVALID_FILE);

    setStopOnError(1);
    EXPECT_NE(openPackage(good.c_str()), INVALID_FILE);
    EXPECT_EQ(extractToFile("MAIN", out.c_str()), 1);
    EXPECT_EQ(failureLatch(), 0);
    EXPECT_EQ(extractToFile("Missing", out.c_str()), 0);
    EXPECT_EQ(failureLatch(), 1);

    remove(out.c_str());
    uint8_t memory[64];
    EXPECT_EQ(openPackage(good.c_str()), INVALID_FILE);
    EXPECT_EQ(extractToFile("MAIN", out.c_str()), 0);
    EXPECT_EQ(extractToMemory("MAIN", memory, sizeof memory), 0);
    EXPECT_EQ(createPackage(tempPath("latch.new").c_str()), INVALID_FILE);
    EXPECT_EQ(copyEntry("MAIN", 0), 0);
    EXPECT_EQ(copyValue("Version"), 0);
    EXPECT_EQ(addFile(good.c_str(), "MAIN", 0), 0);
    EXPECT_EQ(addMemory(memory, 4, "Mem", 0), 0);
    EXPECT_EQ(setSharedTarget(out.c_str()), 1) << "does nothing while the latch is set";
    EXPECT_FALSE(fileExists(out));
    EXPECT_FALSE(fileExists(tempPath("latch.new")));
    EXPECT_EQ(failureLatch(), 1);

    setStopOnError(1);
    EXPECT_EQ(failureLatch(), 0);
    EXPECT_NE(openPackage(good.c_str()), INVALID_FILE);
    EXPECT_EQ(extractToMemory("MAIN", memory, sizeof memory), 1);

    // A failed open arms it as well, and a shared target that cannot be made.
    EXPECT_EQ(openPackage(bad.c_str()), INVALID_FILE);
    EXPECT_EQ(failureLatch(), 1);
    setStopOnError(1);
    EXPECT_EQ(setSharedTarget(tempPath("no such folder/x").c_str()), 0);
    EXPECT_EQ(failureLatch(), 1);
}

static int hookCalls;
static int hookAnswer;
static std::string hookPath;
static int answerHook(const char* path)
{
    hookCalls++;
    hookPath = path;
    return hookAnswer;
}

TEST_F(PackageReader, CreateTargetFileAsksBeforeReplacing)
{
    struct Case {
        bool exists;
        bool hook;
        int answer;
        bool replaced;     // or created
        int calls;
    } cases[] = {
        {true, false, 0, true, 0},
        {true, true, 0, false, 1},
        {true, true, 1, true, 1},
        {false, true, 0, true, 0},   // nothing to replace: the hook is not asked
    };
    for (const Case& c : cases) {
        std::string path = tempPath("target.bin");
        remove(path.c_str());
        if (c.exists)
            writeFileBytes(path, bytesOf("old"));
        hookCalls = 0;
        hookAnswer = c.answer;
        confirmOverwriteHook = c.hook ? answerHook : nullptr;
        FileHandle file = createTargetFile(path.c_str());
        EXPECT_EQ(file != INVALID_FILE, c.replaced);
        EXPECT_EQ(hookCalls, c.calls);
        if (c.calls) {
            EXPECT_EQ(hookPath, path);
        }
        if (file != INVALID_FILE) {
            EXPECT_EQ(fileWrite(file, "new", 3), 3);
            fileClose(file);
        }
        EXPECT_EQ(readFileBytes(path), bytesOf(c.replaced ? "new" : "old"));
        EXPECT_EQ(confirmOverwriteHook != nullptr, c.hook) << "the callers clear the hook";
        confirmOverwriteHook = nullptr;
    }
}

// The running program opens its own file as a package: the test copies its
// own executable, appends a package and runs the copy on this one test.
static const char* selfTestVariable = "TAMB_SELF_PACKAGE";

TEST_F(PackageReader, NullPathOpensTheRunningProgram)
{
    static const char* content = "carried inside the program";
    if (getenv(selfTestVariable)) {
        ASSERT_NE(openPackage(nullptr), INVALID_FILE);
        Bytes extracted;
        ASSERT_TRUE(extractBytes("SELF", extracted));
        EXPECT_EQ(extracted, bytesOf(content));
        return;
    }
    char self[FILE_PATH_SIZE];
    ASSERT_EQ(getModulePath(self, sizeof self), 1);
    EXPECT_EQ(openPackage(nullptr), INVALID_FILE) << "this program carries no package";

    Bytes image = readFileBytes(self);
    ASSERT_FALSE(image.empty());
    RawPackage package;
    package.data = image;
    package.addStored("SELF", bytesOf(content), 0x21);
#ifdef _WIN32
    std::string copy = tempPath("selfcopy.exe");
#else
    std::string copy = tempPath("selfcopy");
#endif
    writeFileBytes(copy, package.bytes());
#ifdef _WIN32
    _putenv_s(selfTestVariable, "1");
    std::string command = "\"" + copy + "\" --gtest_filter=PackageReader.NullPathOpensTheRunningProgram >nul";
#else
    chmod(copy.c_str(), 0755);
    setenv(selfTestVariable, "1", 1);
    std::string command = "'" + copy + "' --gtest_filter=PackageReader.NullPathOpensTheRunningProgram >/dev/null";
#endif
    int status = system(command.c_str());
#ifdef _WIN32
    _putenv_s(selfTestVariable, "");
#else
    unsetenv(selfTestVariable);
#endif
    EXPECT_EQ(status, 0) << command;
}
