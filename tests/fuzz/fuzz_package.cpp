// fuzz_package - any bytes opened as a package file: opening, lookups, value
// reads and extraction to memory and to files never crash and never write past
// the memory they are given; stored entries come out as the file holds them;
// the entries that copy into a new package can be read back from it.
//
// Input: one mode byte, then the file. Mode bit 0 set: the last (mode >> 1)
// records are given in plain text and enciphered here as the writer would, so
// the fuzzer can reach record fields that the cipher would otherwise hide.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "package/package.h"
#include "coding/pc1.h"
#include "package/transfer.h"
#include "package/writer.h"

typedef std::vector<uint8_t> Bytes;

// Small inputs keep the decoded output (up to ~60 bytes per coded bit pattern) small.
enum { PACKAGE_MAX_INPUT = 1 << 16, MEMORY_CAPACITY = 2048 };

#ifdef __linux__
#include <unistd.h>
// Memory files from fuzz_util, reopened by path: no disk traffic.
static std::string slotFile(int slot, const uint8_t* data, size_t size, bool source)
{
    FileHandle file = source ? fuzzSource(slot, data, size) : fuzzSink(slot);
    return "/proc/self/fd/" + std::to_string((int)file);
}
#else
#include <filesystem>
static std::string slotFile(int slot, const uint8_t* data, size_t size, bool source)
{
    std::string path = (std::filesystem::temp_directory_path() /
                        ("tamb-fuzz-package-" + std::to_string(slot) + ".tmp")).string();
    if (source) {
        FileHandle file = fileCreate(path.c_str(), 0, nullptr);
        FUZZ_CHECK(file != INVALID_FILE);
        FUZZ_CHECK(size == 0 || fileWrite(file, data, (int32_t)size) == (int32_t)size);
        fileClose(file);
    }
    return path;
}
#endif

static Bytes readAll(const std::string& path)
{
    FileHandle file = fileOpenRead(path.c_str());
    FUZZ_CHECK(file != INVALID_FILE);
    int32_t size = fileSize(file);
    FUZZ_CHECK(size >= 0);
    Bytes bytes((size_t)size);
    FUZZ_CHECK(size == 0 || fileRead(file, bytes.data(), size) == size);
    fileClose(file);
    return bytes;
}

static Bytes storedContent(const uint8_t* data, const PackageEntry* entry, int32_t count)
{
    Bytes bytes(data + getLe32(entry->dataOffset), data + getLe32(entry->dataOffset) + count);
    for (uint8_t& b : bytes)
        b ^= entry->xorKey;
    return bytes;
}

// Looks up, reads and extracts every record of the open package; with copy,
// copies each into the package being written. Returns the data entries copied.
static int visitPackage(const uint8_t* data, size_t size, const std::string& outPath, bool copy)
{
    const int count = packageEntryCount();
    int dataCopies = 0;
    FUZZ_CHECK(count >= 0 && count <= PACKAGE_MAX_RECORDS && (size_t)count * ENTRY_SIZE <= size);
    for (int i = 0; i < count; i++) {
        PackageEntry* record = packageRecord(i);
        FUZZ_CHECK(record != nullptr);
        char name[ENTRY_NAME_SIZE + 1];
        memcpy(name, record->name, ENTRY_NAME_SIZE);
        name[ENTRY_NAME_SIZE] = 0;

        PackageEntry* found = findEntry(name, FIND_DATA | FIND_VALUE);
        FUZZ_CHECK(found != nullptr && entryNameEquals(found, name));

        uint8_t value[ENTRY_VALUE_SIZE + 1];
        value[ENTRY_VALUE_SIZE] = 0xA5;
        int32_t length = -1;
        int isValue = readValue(name, value, &length);
        FUZZ_CHECK(length >= 0 && length <= ENTRY_VALUE_SIZE && value[ENTRY_VALUE_SIZE] == 0xA5);
        FUZZ_CHECK(isValue == (found->mode == ENTRY_VALUE));
        int32_t stored = getStoredSize(name);
        FUZZ_CHECK(isValue ? stored == -1 : stored == getLe32(found->storedSize));
        (void)isSameData(name, name);

        // Memory exactly as large as the capacity, so the sanitizer sees any overrun.
        Bytes memory(MEMORY_CAPACITY);
        int toMemory = extractToMemory(name, memory.data(), MEMORY_CAPACITY);
        if (toMemory) {
            FUZZ_CHECK(!isValue && entryDataFits(found));
            if (found->mode == ENTRY_STORED) {
                int32_t copied = stored < MEMORY_CAPACITY ? stored : MEMORY_CAPACITY;
                FUZZ_CHECK(Bytes(memory.begin(), memory.begin() + copied) == storedContent(data, found, copied));
            }
        }
        int toFile = extractToFile(name, outPath.c_str());
        if (toFile && !isValue && found->mode == ENTRY_STORED) {
            FileHandle out = fileOpenRead(outPath.c_str());
            Bytes written((size_t)stored);
            FUZZ_CHECK(stored == 0 || fileRead(out, written.data(), stored) == stored);
            FUZZ_CHECK(fileSize(out) == stored);
            fileClose(out);
            FUZZ_CHECK(written == storedContent(data, found, stored));
        }
        if (copy && isValue)
            (void)copyValue(name);
        else if (copy)
            dataCopies += copyEntry(name, 0);
    }
    return dataCopies;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    if (inputSize < 1 || inputSize > PACKAGE_MAX_INPUT)
        return 0;
    Bytes file(input + 1, input + inputSize);
    const size_t plainRecords = (input[0] & 1) ? std::min<size_t>(input[0] >> 1, file.size() / ENTRY_SIZE) : 0;
    if (plainRecords) {
        setKey(PC1_DIRECTORY_KEY);
        crypt(file.data() + file.size() - plainRecords * ENTRY_SIZE, (int32_t)(plainRecords * ENTRY_SIZE), 1);
    }
    const uint8_t* data = file.data();
    const size_t size = file.size();
    const std::string packagePath = slotFile(0, data, size, true);
    const std::string outPath = slotFile(1, nullptr, 0, false);
    const std::string copyPath = slotFile(2, nullptr, 0, false);

    if (openPackage(packagePath.c_str()) == INVALID_FILE) {
        FUZZ_CHECK(packageReaderHandle() == INVALID_FILE);
        FUZZ_CHECK(findEntry("MAIN", FIND_DATA | FIND_VALUE) == nullptr);
    } else {
        FUZZ_CHECK(createPackage(copyPath.c_str()) != INVALID_FILE);
        const int copied = visitPackage(data, size, outPath, true);
        FUZZ_CHECK(closePackage(packageWriterHandle()) == 1);
        // Whatever was copied reads back; without a data entry there is no directory.
        const Bytes copy = readAll(copyPath);
        FUZZ_CHECK((openPackage(copyPath.c_str()) != INVALID_FILE) == (copied > 0));
        if (copied > 0) {
            FUZZ_CHECK(packageEntryCount() >= copied);
            visitPackage(copy.data(), copy.size(), outPath, false);
        }
    }

    // The same bytes as a package that ends before its file does.
    if (size > ENTRY_SIZE) {
        presetPackageSize((int32_t)size - 1 - data[size - 1] % ENTRY_SIZE);
        if (openPackage(packagePath.c_str()) != INVALID_FILE)
            visitPackage(data, size, outPath, false);
    }
    closePackage(packageReaderHandle());
    return 0;
}
