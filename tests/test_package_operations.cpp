// The contract every package operation keeps, one table over all of them:
// while the latch is set it does nothing and says PACKAGE_STOPPED; when it
// fails it says why and sets the latch; on every path it clears the three
// hooks and disarms the configuration patch.
#include <stdio.h>

#include <functional>

#include "pkgtestutil.h"
#include "app/setupconfig.h"
#include "package/configpatch.h"
#include "package/transfer.h"
#include "package/writer.h"

static int hookCalls;

static int allowOverwrite(const char*)
{
    hookCalls++;
    return 1;
}

static void countBefore(FileHandle, int32_t)
{
    hookCalls++;
}

static void countAfter(FileHandle)
{
    hookCalls++;
}

class PackageOperations : public PackageTest {
protected:
    std::string source, added, blocks, written, out;
    Bytes payload = bytesOf("configuration");

    void SetUp() override
    {
        PackageTest::SetUp();
        RawPackage package;
        package.addStored("MAIN", textBytes(3000, 1), 0x21);
        package.addCompressed("Packed", textBytes(3000, 2));
        package.addValue("Version", bytesOf("1.0"));
        source = package.write("operations.pkg");
        added = tempPath("operations.add");
        writeFileBytes(added, textBytes(500, 3));
        blocks = tempPath("operations.lzh");
        writeFileBytes(blocks, compressBytes(textBytes(700, 4)));
        written = tempPath("operations.out.pkg");
        out = tempPath("operations.out");
    }

    // The source open, a package being written with one record, no output
    // file, stop-on-error on and the latch clear.
    void prepare()
    {
        TearDown();
        remove(out.c_str());
        ASSERT_NE(openPackage(source.c_str()), INVALID_FILE);
        ASSERT_NE(createPackage(written.c_str()), INVALID_FILE);
        ASSERT_EQ(addMemory("lead", 4, "Lead", 0), 1);
        setStopOnError(1);
    }

    void setHooksAndPatch()
    {
        hookCalls = 0;
        confirmOverwriteHook = allowOverwrite;
        beforeTransferHook = countBefore;
        afterTransferHook = countAfter;
        setConfigPatch(payload.data(), (int32_t)payload.size(), 0);
    }

    // Whether a patch is still armed: a transfer over a marker embeds it.
    static bool patchArmed()
    {
        Bytes in = textBytes(300, 5), copy(300, 0);
        putLe32(&in[20], CONFIG_MARKER_1);
        putLe32(&in[24], CONFIG_MARKER_2);
        int32_t count = (int32_t)in.size();
        return transferData(memoryEnd(in.data()), memoryEnd(copy.data()), &count,
                            XFER_PATCH | XFER_FROM_MEMORY | XFER_TO_MEMORY) == 1;
    }

    void expectHooksAndPatchCleared(const std::string& what)
    {
        EXPECT_EQ(confirmOverwriteHook, nullptr) << what;
        EXPECT_EQ(beforeTransferHook, nullptr) << what;
        EXPECT_EQ(afterTransferHook, nullptr) << what;
        EXPECT_FALSE(patchArmed()) << what;
    }
};

// What the package being written holds: its size and where its next record goes.
struct WriterState {
    FileHandle handle;
    int32_t size;
    PackageEntry* next;
};

static WriterState writerState()
{
    FileHandle handle = packageWriterHandle();
    return {handle, handle == INVALID_FILE ? -1 : fileSize(handle), nextFreeRecord()};
}

// Nothing written: no output file, and the package being written (unless the
// operation finished it first, as opening a new one does) as it was.
static void expectNothingWritten(const WriterState& before, const std::string& out, const std::string& what)
{
    EXPECT_FALSE(fileExists(out)) << what;
    WriterState after = writerState();
    if (after.handle == INVALID_FILE)
        return;
    EXPECT_EQ(after.handle, before.handle) << what;
    EXPECT_EQ(after.size, before.size) << what;
    EXPECT_EQ(after.next, before.next) << what;
}

TEST_F(PackageOperations, EveryOperationKeepsTheContract)
{
    const std::string missingFolder = tempPath("no-such-folder") + "/out.bin";
    uint8_t memory[4000];
    auto handle = [](FileHandle h) { return (int)(h != INVALID_FILE); };
    struct Operation {
        const char* what;
        std::function<int()> run;    // succeeds in the prepared state
        std::function<int()> fail;   // fails in the prepared state ...
        PackageError reason;         // ... for this reason
        int latchedResult;           // what it returns while the latch is set
    } operations[] = {
        {"openPackage", [&] { return handle(openPackage(source.c_str())); },
         [&] { return handle(openPackage(tempPath("missing.pkg").c_str())); }, PACKAGE_NO_SUCH_FILE, 0},
        {"createPackage", [&] { return handle(createPackage(out.c_str())); },
         [&] { return handle(createPackage(missingFolder.c_str())); }, PACKAGE_CANNOT_CREATE_TARGET, 0},
        {"addFile", [&] { return addFile(added.c_str(), "Added", XFER_COMPRESS); },
         [&] { return addFile(tempPath("missing.src").c_str(), "Added", 0); }, PACKAGE_NO_SUCH_FILE, 0},
        {"addPrecompressed", [&] { return addPrecompressed(blocks.c_str(), "Blocks", 700); },
         [&] { return addPrecompressed(blocks.c_str(), "Blocks", -1); }, PACKAGE_BAD_ARGUMENT, 0},
        {"addMemory", [&] { return addMemory("data", 4, "Memory", 0x11); },
         [&] { return addMemory(nullptr, 4, "Memory", 0); }, PACKAGE_BAD_ARGUMENT, 0},
        {"addValue", [&] { return addValue("Value", (const uint8_t*)"ab", 2); },
         [&] {
             closePackage(packageWriterHandle());
             return addValue("Value", (const uint8_t*)"ab", 2);
         }, PACKAGE_NOT_OPEN, 0},
        {"copyValue", [&] { return copyValue("Version"); }, [&] { return copyValue("MAIN"); },
         PACKAGE_NO_SUCH_ENTRY, 0},
        {"copyEntry", [&] { return copyEntry("MAIN", XFER_UNSCRAMBLE); }, [&] { return copyEntry("Missing", 0); },
         PACKAGE_NO_SUCH_ENTRY, 0},
        {"padPackageData", [&] { return padPackageData(8); }, [&] { return padPackageData(9); },
         PACKAGE_BAD_ARGUMENT, 0},
        {"aliasEntry", [&] { return aliasEntry("Alias", "lead"); }, [&] { return aliasEntry("Alias", "Missing"); },
         PACKAGE_NO_SUCH_ENTRY, 0},
        {"renameEntry", [&] { return renameEntry("Lead", "Renamed"); },
         [&] { return renameEntry("Missing", "Renamed"); }, PACKAGE_NO_SUCH_ENTRY, 0},
        {"extractToFile", [&] { return extractToFile("MAIN", out.c_str()); },
         [&] { return extractToFile("Missing", out.c_str()); }, PACKAGE_NO_SUCH_ENTRY, 0},
        {"extractToMemory", [&] { return extractToMemory("Packed", memory, sizeof memory); },
         [&] { return extractToMemory("Packed", memory, 100); }, PACKAGE_TOO_SMALL, 0},
        // While the latch is set a path makes no shared target, and that is no failure.
        {"setSharedTarget", [&] { return setSharedTarget(out.c_str()); },
         [&] { return setSharedTarget(missingFolder.c_str()); }, PACKAGE_CANNOT_CREATE_TARGET, 1},
    };
    for (const Operation& op : operations) {
        const std::string what = op.what;

        // Latched: nothing happens, no hook is called.
        prepare();
        ASSERT_EQ(extractToMemory("Missing", memory, 4), 0);
        ASSERT_EQ(failureLatch(), 1);
        WriterState before = writerState();
        setHooksAndPatch();
        setPackageError(PACKAGE_OK);
        EXPECT_EQ(op.run(), op.latchedResult) << what << ", latched";
        EXPECT_EQ(packageLastError(), op.latchedResult ? PACKAGE_OK : PACKAGE_STOPPED) << what << ", latched";
        EXPECT_EQ(hookCalls, 0) << what << ", latched";
        expectNothingWritten(before, out, what + ", latched");
        EXPECT_EQ(failureLatch(), 1) << what << ", latched";
        expectHooksAndPatchCleared(what + ", latched");

        // Succeeding with hooks set and a patch armed that it does not use.
        prepare();
        setHooksAndPatch();
        EXPECT_EQ(op.run(), 1) << what << ": " << packageErrorText(packageLastError());
        EXPECT_EQ(failureLatch(), 0) << what;
        expectHooksAndPatchCleared(what);

        // Failing: the reason, the latch, nothing written.
        prepare();
        before = writerState();
        setHooksAndPatch();
        setPackageError(PACKAGE_OK);
        EXPECT_EQ(op.fail(), 0) << what << ", failing";
        EXPECT_EQ(packageLastError(), op.reason) << what << ": " << packageErrorText(packageLastError());
        EXPECT_EQ(failureLatch(), 1) << what << ", failing";
        expectNothingWritten(before, out, what + ", failing");
        expectHooksAndPatchCleared(what + ", failing");
    }
}

// A whole sequence run with stop-on-error on is checked once at its end: the
// first failure of any operation stops the rest, whatever it was.
TEST_F(PackageOperations, FirstFailureStopsTheRest)
{
    struct Case {
        const char* what;
        std::function<int()> failing;
    } cases[] = {
        {"a value as the first record", [] { return addValue("V", (const uint8_t*)"x", 1); }},
        {"an alias of nothing", [] { return aliasEntry("A", "Missing"); }},
        {"a rename of nothing", [] { return renameEntry("Missing", "B"); }},
        {"padding to 9", [] { return padPackageData(9); }},
        {"memory with no package being written", [] {
             closePackage(packageWriterHandle());
             return addMemory("x", 1, "X", 0);
         }},
    };
    for (const Case& c : cases) {
        TearDown();
        ASSERT_NE(createPackage(written.c_str()), INVALID_FILE);
        setStopOnError(1);
        EXPECT_EQ(c.failing(), 0) << c.what;
        EXPECT_EQ(failureLatch(), 1) << c.what;
        EXPECT_EQ(addMemory("late", 4, "Late", 0), 0) << c.what;
        EXPECT_EQ(packageLastError(), PACKAGE_STOPPED) << c.what;
    }
}
