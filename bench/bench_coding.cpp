// bench_coding - throughput of the block-stream drivers on three corpora that
// the bench assembles from files every build machine of ours has:
//   pe      ~8 MB of Windows DLLs that the MinGW-w64 packages ship
//   text    ~8 MB of English licence and copyright texts under /usr/share
//   random  4 MB of incompressible bytes from a fixed seed
// Figures are MB/s of uncompressed data, file to file through the block stream
// (checksums and hooks included), and file to memory for decoding.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/fileio.h"
#include "coding/pc1.h"

typedef std::vector<uint8_t> Bytes;

enum { CORPUS_BYTES = 8 << 20, RANDOM_BYTES = 4 << 20 };

static void appendFile(const std::string& path, Bytes& out, size_t limit)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return;
    uint8_t buffer[65536];
    size_t n;
    while (out.size() < limit && (n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out.insert(out.end(), buffer, buffer + std::min(n, limit - out.size()));
    fclose(f);
}

// Files of a folder whose names end in suffix (and, if given, lie in a subfolder named sub), sorted.
static std::vector<std::string> listFiles(const std::string& folder, const char* suffix, bool recurse)
{
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return found;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "/" + name;
        if (entry->d_type == DT_DIR && recurse) {
            std::vector<std::string> inner = listFiles(path, suffix, false);
            found.insert(found.end(), inner.begin(), inner.end());
        } else if (name.size() >= strlen(suffix) && name.compare(name.size() - strlen(suffix), std::string::npos, suffix) == 0) {
            found.push_back(path);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

static Bytes peCorpus()
{
    Bytes out;
    for (const char* folder : {"/usr/lib/gcc/x86_64-w64-mingw32/12-posix", "/usr/lib/gcc/i686-w64-mingw32/12-posix",
                               "/usr/x86_64-w64-mingw32/lib", "/usr/i686-w64-mingw32/lib"})
        for (const std::string& path : listFiles(folder, ".dll", true))
            appendFile(path, out, CORPUS_BYTES);
    return out;
}

static Bytes textCorpus()
{
    Bytes out;
    for (const std::string& path : listFiles("/usr/share/common-licenses", "", false))
        appendFile(path, out, CORPUS_BYTES);
    for (const std::string& path : listFiles("/usr/share/doc", "copyright", true))
        appendFile(path, out, CORPUS_BYTES);
    return out;
}

static Bytes randomCorpus()
{
    Bytes out(RANDOM_BYTES);
    uint32_t state = 0x9E3779B9u;
    for (uint8_t& b : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = (uint8_t)(state >> 24);
    }
    return out;
}

struct Corpus {
    const char* name;
    Bytes raw;
    std::string rawPath, packedPath, outPath;
    int32_t packedSize;
};

static Corpus corpora[3];

static std::string scratch(const std::string& name)
{
    const char* base = getenv("TMPDIR");
    return std::string(base ? base : "/tmp") + "/tambbench-" + std::to_string(getpid()) + "-" + name;
}

static void writeAll(const std::string& path, const Bytes& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        fprintf(stderr, "bench: cannot write %s\n", path.c_str());
        exit(1);
    }
    fclose(f);
}

static int packFile(const std::string& from, const std::string& to, int32_t size)
{
    FileHandle in = fileOpenRead(from.c_str());
    FileHandle out = fileCreate(to.c_str(), 0, nullptr);
    int ok = compressStream(in, out, size);
    fileClose(in);
    fileClose(out);
    return ok;
}

static void prepare()
{
    const char* names[3] = {"pe", "text", "random"};
    Bytes (*makers[3])() = {peCorpus, textCorpus, randomCorpus};
    for (int i = 0; i < 3; i++) {
        Corpus& c = corpora[i];
        c.name = names[i];
        c.raw = makers[i]();
        c.rawPath = scratch(std::string(c.name) + ".raw");
        c.packedPath = scratch(std::string(c.name) + ".packed");
        c.outPath = scratch(std::string(c.name) + ".out");
        writeAll(c.rawPath, c.raw);
        if (!packFile(c.rawPath, c.packedPath, (int32_t)c.raw.size())) {
            fprintf(stderr, "bench: compressing the %s corpus failed\n", c.name);
            exit(1);
        }
        FileHandle f = fileOpenRead(c.packedPath.c_str());
        c.packedSize = fileSize(f);
        fileClose(f);
        fprintf(stderr, "corpus %-6s %9zu bytes -> %9d packed (%.1f%%)\n", c.name, c.raw.size(), c.packedSize,
                100.0 * c.packedSize / (double)c.raw.size());
    }
}

static void cleanup()
{
    for (Corpus& c : corpora) {
        unlink(c.rawPath.c_str());
        unlink(c.packedPath.c_str());
        unlink(c.outPath.c_str());
    }
}

static void setCounters(benchmark::State& state, const Corpus& c)
{
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)c.raw.size());
    state.counters["ratio%"] = 100.0 * c.packedSize / (double)c.raw.size();
    state.SetLabel(c.name);
}

static void BM_Compress(benchmark::State& state)
{
    const Corpus& c = corpora[state.range(0)];
    for (auto _ : state)
        if (!packFile(c.rawPath, c.outPath, (int32_t)c.raw.size()))
            state.SkipWithError("compressStream failed");
    setCounters(state, c);
}

static void BM_DecompressToFile(benchmark::State& state)
{
    const Corpus& c = corpora[state.range(0)];
    for (auto _ : state) {
        FileHandle in = fileOpenRead(c.packedPath.c_str());
        FileHandle out = fileCreate(c.outPath.c_str(), 0, nullptr);
        int ok = decompressStream(in, out);
        fileClose(in);
        fileClose(out);
        if (!ok || totalWritten != (int32_t)c.raw.size())
            state.SkipWithError("decompressStream failed");
    }
    setCounters(state, c);
}

static void BM_DecompressToMemory(benchmark::State& state)
{
    const Corpus& c = corpora[state.range(0)];
    static Bytes memory;
    memory.assign(c.raw.size(), 0);
    for (auto _ : state) {
        FileHandle in = fileOpenRead(c.packedPath.c_str());
        memorySink = memory.data();
        memorySinkCapacity = (int32_t)memory.size();
        int ok = decompressStream(in, INVALID_FILE);
        fileClose(in);
        if (!ok || totalWritten != (int32_t)c.raw.size())
            state.SkipWithError("decompressStream to memory failed");
    }
    if (memory != c.raw)
        state.SkipWithError("decoded bytes differ");
    setCounters(state, c);
}

static void BM_Pc1(benchmark::State& state)
{
    static Bytes buffer(1 << 20, 0x5A);
    for (auto _ : state) {
        setKey(nullptr);
        crypt(buffer.data(), (int32_t)buffer.size(), 1);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)buffer.size());
}

BENCHMARK(BM_Compress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecompressToFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecompressToMemory)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Pc1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cleanup();
    return 0;
}
