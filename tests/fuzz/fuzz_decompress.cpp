// fuzz_decompress - any bytes given to decompressStream: it never crashes,
// never writes past the memory it is given, reports to its hooks exactly what
// it writes, and gives a file and memory the same bytes.
#include <string.h>

#include "coding/blockstream.h"
#include "fuzz_util.h"

// Small enough that most streams overflow it, so the bound is exercised.
enum { MEMORY_CAPACITY = 4096 };

static int32_t hookedWrites;
static int32_t filteredBytes;

static void countWrite(int32_t bytesWritten)
{
    FUZZ_CHECK(bytesWritten >= 0 && bytesWritten <= BLOCK_SIZE);
    hookedWrites += bytesWritten;
}

static int countFiltered(uint8_t*, int32_t length)
{
    FUZZ_CHECK(length >= 0 && length <= BLOCK_SIZE);
    filteredBytes += length;
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT)
        return 0;
    writeHook = countWrite;
    dataFilterHook = countFiltered;

    // Into a file, with the output filter on.
    FileHandle source = fuzzSource(0, data, size);
    FileHandle sink = fuzzSink(1);
    hookedWrites = filteredBytes = 0;
    writeFilterOn = 1;
    int toFile = decompressStream(source, sink);
    int32_t fileWritten = totalWritten;
    std::vector<uint8_t> fileBytes = fuzzSinkContents(1);
    FUZZ_CHECK(fileWritten >= 0 && (size_t)fileWritten == fileBytes.size());
    FUZZ_CHECK(hookedWrites == fileWritten);
    FUZZ_CHECK(filteredBytes == fileWritten);
    FUZZ_CHECK(writeFilterOn == 0);

    // Into memory that holds less than most streams announce. The buffer is
    // exactly its capacity, so the sanitizer sees any write past it.
    std::vector<uint8_t> memory(MEMORY_CAPACITY);
    source = fuzzSource(0, data, size);
    hookedWrites = 0;
    memorySink = memory.data();
    memorySinkCapacity = MEMORY_CAPACITY;
    int toMemory = decompressStream(source, INVALID_FILE);
    FUZZ_CHECK(memorySink == nullptr);
    FUZZ_CHECK(totalWritten >= 0 && totalWritten <= MEMORY_CAPACITY);
    FUZZ_CHECK(hookedWrites == totalWritten);
    if (toMemory) {
        FUZZ_CHECK(toFile);
        FUZZ_CHECK(totalWritten == fileWritten);
        FUZZ_CHECK(fileWritten == 0 || memcmp(memory.data(), fileBytes.data(), (size_t)fileWritten) == 0);
    } else if (toFile) {
        // The same stream decoded to a file: only the capacity can have stopped it.
        FUZZ_CHECK(fileWritten > MEMORY_CAPACITY);
    }

    writeHook = nullptr;
    dataFilterHook = nullptr;
    return 0;
}
