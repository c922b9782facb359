// bench_package - the package library's costs: opening a package of 31 records
// (up to 32 trial decipherments of its directory), and extracting a 20 MB
// compressed entry to a file next to the bare decompressStream on the same bytes,
// which shows what the package layer adds to the codec.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"

enum { BIG_SIZE = 20 << 20 };

static std::string benchPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

// English-like text: compresses about as well as program files and documents.
static std::vector<uint8_t> textData(size_t size)
{
    static const char* words[] = {"setup ", "program ", "installs ", "files ", "into ", "a ",
                                  "folder ", "under ", "the ", "package ", "entry ", "with ",
                                  "compressed ", "size ", "name ", "window\r\n"};
    std::vector<uint8_t> bytes;
    bytes.reserve(size + 16);
    uint32_t state = 12345;
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const char* word = words[state % 16];
        bytes.insert(bytes.end(), word, word + strlen(word));
    }
    bytes.resize(size);
    return bytes;
}

static void writeAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        abort();
    fclose(file);
}

static void BM_OpenPackage31(benchmark::State& state)
{
    const std::string path = benchPath("tamb-bench-31.pkg");
    std::vector<uint8_t> data = textData(4096);
    if (createPackage(path.c_str()) == INVALID_FILE)
        abort();
    for (int i = 0; i < PACKAGE_MAX_RECORDS; i++) {
        char name[16];
        snprintf(name, sizeof name, "File%d", i);
        addMemory(data.data() + i * 100, 100, name, 0);
    }
    if (!closePackage(packageWriterHandle()))
        abort();
    for (auto _ : state) {
        FileHandle package = openPackage(path.c_str());
        if (package == INVALID_FILE)
            state.SkipWithError("package does not open");
        closePackage(package);
    }
    remove(path.c_str());
}
BENCHMARK(BM_OpenPackage31)->Unit(benchmark::kMicrosecond);

// One package with the 20 MB entry "Big", made once.
static const std::string& bigPackage()
{
    static std::string path;
    if (path.empty()) {
        path = benchPath("tamb-bench-big.pkg");
        const std::string source = benchPath("tamb-bench-big.txt");
        writeAll(source, textData(BIG_SIZE));
        enableCompression();
        if (createPackage(path.c_str()) == INVALID_FILE || !addFile(source.c_str(), "Big", XFER_COMPRESS) ||
            !closePackage(packageWriterHandle()))
            abort();
        remove(source.c_str());
    }
    return path;
}

static void BM_ExtractCompressedToFile(benchmark::State& state)
{
    const std::string out = benchPath("tamb-bench-big.out");
    if (openPackage(bigPackage().c_str()) == INVALID_FILE)
        abort();
    for (auto _ : state) {
        if (!extractToFile("Big", out.c_str()))
            state.SkipWithError("extraction failed");
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)BIG_SIZE);
    closePackage(packageReaderHandle());
    remove(out.c_str());
}
BENCHMARK(BM_ExtractCompressedToFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

static void BM_DecompressStreamBare(benchmark::State& state)
{
    const std::string out = benchPath("tamb-bench-bare.out");
    if (openPackage(bigPackage().c_str()) == INVALID_FILE)
        abort();
    const int32_t offset = getLe32(findEntry("Big", FIND_DATA)->dataOffset);
    FileHandle source = packageReaderHandle();
    for (auto _ : state) {
        FileHandle sink = fileCreate(out.c_str(), 0, nullptr);
        if (!fileSeek(source, offset) || !decompressStream(source, sink))
            state.SkipWithError("decompression failed");
        fileClose(sink);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)BIG_SIZE);
    closePackage(packageReaderHandle());
    remove(out.c_str());
}
BENCHMARK(BM_DecompressStreamBare)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

BENCHMARK_MAIN();
