// mksetup - builds a setup executable from a setup script, and inspects one.
//   mksetup build SCRIPT [-o OUT] [--stub STUB]
//   mksetup list SETUP
//   mksetup extract SETUP [NAME...] -d DIR
//   mksetup verify SETUP
//   mksetup config SETUP
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "app/setupconfig.h"
#include "app/setuplayout.h"
#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"
#include "script.h"

static const char* const usage =
    "usage: mksetup build SCRIPT [-o OUT] [--stub STUB]   build a setup executable\n"
    "       mksetup list SETUP                            list the package entries\n"
    "       mksetup extract SETUP [NAME...] -d DIR        extract entries into DIR\n"
    "       mksetup verify SETUP                          decode and check everything\n"
    "       mksetup config SETUP                          print the embedded configuration\n";

static double secondsNow()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}

// ---- build progress: a bar on stderr when it is a terminal and the build is slow ----

static struct {
    double start;
    int64_t total;
    int64_t done;            // bytes of the files finished
    FileHandle source;       // the file being added
    int ticks;
    bool shown;
    bool terminal;
} progress;

static void drawProgress(int64_t done)
{
    if (!progress.terminal || progress.total <= 0 || secondsNow() - progress.start < 1.0)
        return;
    int width = 40;
    int filled = (int)(done * width / progress.total);
    if (filled > width)
        filled = width;
    char bar[64];
    memset(bar, '#', (size_t)filled);
    memset(bar + filled, '.', (size_t)(width - filled));
    bar[width] = 0;
    fprintf(stderr, "\r[%s] %3d%%", bar, (int)(done * 100 / progress.total));
    progress.shown = true;
}

static void progressTick(void)
{
    if (++progress.ticks % 64 == 0 && progress.source != INVALID_FILE)
        drawProgress(progress.done + fileTell(progress.source));
}

static void progressBefore(FileHandle source, int32_t)
{
    progress.source = source;
}

static void progressAfter(FileHandle)
{
    progress.source = INVALID_FILE;
}

// ---- helpers ----

static std::string entryFileName(int index)
{
    char name[32];
    snprintf(name, sizeof name, FILE_ENTRY_FORMAT, index);
    return name;
}

static bool writeTempFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

static const char* modeName(const PackageEntry* e)
{
    if (e->mode == ENTRY_VALUE)
        return "value";
    return e->mode == ENTRY_STORED ? "stored" : "compressed";
}

// ---- build ----

struct AddedFile {
    std::string name, entry;
    int64_t in, out;
};

// Everything a build needs before the package is written. Each source is
// opened once: the stub and the bitmaps were read into memory (the bitmaps
// by the script's checks), the product files are sized without opening them
// and read only as they are compressed.
struct BuildPlan {
    SetupScript script;
    std::string output, stubPath, temp;
    std::vector<uint8_t> stub;
    std::vector<int64_t> fileSizes;          // by index in script.files; [0] unused
    SetupConfig config;
    std::vector<AddedFile> added;
    std::vector<std::string> tempBitmaps;
    std::string failure;
};

// The size of a file, -1 when it is not there or not a regular file.
static int64_t sizeWithoutOpening(const std::string& path)
{
#ifdef _WIN32
    struct _stat64 info;
    if (_stat64(path.c_str(), &info) != 0 || !(info.st_mode & _S_IFREG))
        return -1;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
#endif
    return (int64_t)info.st_size;
}

// The output next to the script (or as given), the stub as given, named by
// the script, or next to mksetup itself.
static void resolvePaths(BuildPlan& plan, const std::string& scriptPath, std::string output, std::string stubPath)
{
    const SetupScript& script = plan.script;
    if (output.empty())
        output = script.output.text.empty() ? "" : joinPath(script.folder, script.output.text);
    if (output.empty()) {
        size_t dot = scriptPath.find_last_of('.');
        size_t slash = scriptPath.find_last_of("/\\");
        output = (dot == std::string::npos || (slash != std::string::npos && dot < slash) ? scriptPath : scriptPath.substr(0, dot)) + ".exe";
    }
    if (stubPath.empty() && !script.stub.text.empty())
        stubPath = joinPath(script.folder, script.stub.text);
    if (stubPath.empty()) {
        char self[1024];
        if (getModulePath(self, sizeof self)) {
            std::string folder(self);
            size_t slash = folder.find_last_of("/\\");
            stubPath = (slash == std::string::npos ? std::string(".") : folder.substr(0, slash)) + "/tambsetup.exe";
        }
    }
    plan.output = output;
    plan.stubPath = stubPath;
    plan.temp = output + ".tmp";
}

// Loads the script, the stub and the sizes, and fills the configuration.
// Returns 0, or 1 after saying what is wrong.
static int planBuild(BuildPlan& plan, const std::string& scriptPath, const std::string& output,
                     const std::string& stubPath)
{
    std::vector<std::string> errors;
    if (!loadScript(scriptPath, plan.script, errors)) {
        for (const std::string& e : errors)
            fprintf(stderr, "%s\n", e.c_str());
        return 1;
    }
    resolvePaths(plan, scriptPath, output, stubPath);
    std::string error;
    if (!readWholeFile(plan.stubPath, plan.stub, error)) {
        fprintf(stderr, "%s: cannot read the setup stub: %s\n", plan.stubPath.c_str(), error.c_str());
        return 1;
    }
    if (findConfigMarkers(plan.stub.data(), plan.stub.size()) < 0) {
        fprintf(stderr, "%s: no configuration markers: not a setup stub, or one that already carries a configuration\n", plan.stubPath.c_str());
        return 1;
    }
    const SetupScript& script = plan.script;
    int64_t total = 0;
    plan.fileSizes.assign(script.files.size(), 0);
    for (size_t i = 1; i < script.files.size(); i++) {
        const ScriptFile& f = script.files[i];
        int64_t size = sizeWithoutOpening(f.path);
        if (size < 0) {
            fprintf(stderr, "%s:%d: [Files] %s: cannot read source \"%s\"\n", script.scriptPath.c_str(), f.line,
                    f.name.c_str(), f.source.c_str());
            return 1;
        }
        plan.fileSizes[i] = size;
        total += size;
    }
    if (total > 0x7FFFFFFF) {
        fprintf(stderr, "%s: the files add up to more than 2 GB\n", script.scriptPath.c_str());
        return 1;
    }
    fillSetupConfig(script, plan.config);
    plan.config.progressRange = (int32_t)total;   // every file is decoded, so the bar ends full
    progress.total = total;
    return 0;
}

// MAIN: the stub with the configuration embedded over its markers.
static bool addSetupProgram(BuildPlan& plan)
{
    setConfigPatch((uint8_t*)&plan.config, CONFIG_PAYLOAD_SIZE, 1, PATCH_STORE_POSITION);
    if (!addMemory(plan.stub.data(), (int32_t)plan.stub.size(), MAIN_ENTRY_NAME, XFER_PATCH)) {
        plan.failure = plan.stubPath + ": could not embed the configuration (the markers must lie wholly in one 16 KB chunk)";
        return false;
    }
    plan.added.push_back({"(setup program)", MAIN_ENTRY_NAME, (int64_t)plan.stub.size(), (int64_t)plan.stub.size()});
    return true;
}

// File1..: each product file compressed as it is read.
static bool addProductFiles(BuildPlan& plan)
{
    const SetupScript& script = plan.script;
    for (size_t i = 1; i < script.files.size(); i++) {
        const ScriptFile& f = script.files[i];
        std::string entry = entryFileName((int)i);
        beforeTransferHook = progressBefore;
        afterTransferHook = progressAfter;
        int32_t before = fileTell(packageWriterHandle());
        if (!addFile(f.path.c_str(), entry.c_str(), XFER_COMPRESS)) {
            plan.failure = f.path + ": could not be read and compressed";
            return false;
        }
        progress.done += plan.fileSizes[i];
        progress.source = INVALID_FILE;
        plan.added.push_back({f.name, entry, plan.fileSizes[i], fileTell(packageWriterHandle()) - before});
    }
    return true;
}

// The eight bitmaps, as the script's checks read them. The compressor reads
// files only: each goes through a temporary file.
static bool addDecorations(BuildPlan& plan)
{
    const SetupScript& script = plan.script;
    for (int i = 0; i < DECORATION_COUNT; i++) {
        std::string path = plan.output + "." + decorativeBitmapNames[i] + ".tmp";
        if (!writeTempFile(path, script.decorationImage[i])) {
            plan.failure = path + ": cannot write a temporary file";
            return false;
        }
        plan.tempBitmaps.push_back(path);
        int32_t before = fileTell(packageWriterHandle());
        if (!addFile(path.c_str(), decorativeBitmapNames[i], XFER_COMPRESS)) {
            plan.failure = path + ": could not be read and compressed";
            return false;
        }
        const std::string& source = script.decoration[i].text;
        plan.added.push_back({source.empty() ? "(default bitmap)" : source, decorativeBitmapNames[i],
                              (int64_t)script.decorationImage[i].size(), fileTell(packageWriterHandle()) - before});
    }
    return true;
}

static void printBuildTable(const BuildPlan& plan, double seconds)
{
    int64_t in = 0, out = 0;
    printf("%-24s %-10s %12s %12s %7s\n", "file", "entry", "bytes in", "bytes out", "ratio");
    for (const AddedFile& a : plan.added) {
        printf("%-24s %-10s %12lld %12lld %6.1f%%\n", a.name.c_str(), a.entry.c_str(), (long long)a.in,
               (long long)a.out, a.in ? 100.0 * (double)a.out / (double)a.in : 100.0);
        in += a.in;
        out += a.out;
    }
    printf("%-24s %-10s %12lld %12lld %6.1f%%\n", "total", "", (long long)in, (long long)out,
           in ? 100.0 * (double)out / (double)in : 100.0);
    printf("%s: %zu files, %.2f s\n", plan.output.c_str(), plan.script.files.size(), seconds);
}

// Writes the package into a temporary file next to the output and puts it in
// the output's place only when every step succeeded.
static int buildSetup(const std::string& scriptPath, const std::string& output, const std::string& stubPath)
{
    BuildPlan plan;
    if (planBuild(plan, scriptPath, output, stubPath) != 0)
        return 1;
    double start = secondsNow();
    progress.start = start;
    progress.done = 0;
    progress.source = INVALID_FILE;
    progress.terminal = isatty(2);
    tickHook = progressTick;

    FileHandle package = createPackage(plan.temp.c_str());
    bool ok = package != INVALID_FILE;
    if (!ok)
        plan.failure = plan.temp + ": cannot create";
    ok = ok && addSetupProgram(plan) && addProductFiles(plan) && addDecorations(plan);
    tickHook = nullptr;
    if (progress.shown)
        fprintf(stderr, "\r%60s\r", "");
    if (package != INVALID_FILE && !closePackage(package) && ok) {
        plan.failure = plan.temp + ": could not write the package directory";
        ok = false;
    }
    for (const std::string& path : plan.tempBitmaps)
        fileDelete(path.c_str());
    if (ok && !fileRename(plan.temp.c_str(), plan.output.c_str())) {
        plan.failure = plan.output + ": cannot replace it with the new setup";
        ok = false;
    }
    if (!ok) {
        fileDelete(plan.temp.c_str());
        fprintf(stderr, "mksetup: %s\n", plan.failure.c_str());
        return 1;
    }
    printBuildTable(plan, secondsNow() - start);
    return 0;
}

// ---- inspection ----

static int openSetup(const char* path)
{
    if (openPackage(path) == INVALID_FILE) {
        fprintf(stderr, "%s: no package directory found: not a setup, or its end is cut off or damaged\n", path);
        return 0;
    }
    return 1;
}

static int listSetup(const char* path)
{
    if (!openSetup(path))
        return 1;
    printf("%-16s %-5s %-10s %4s %10s %10s %7s %10s\n", "name", "kind", "mode", "key", "stored", "extracted", "ratio", "offset");
    for (int i = 0; i < packageEntryCount(); i++) {
        const PackageEntry* e = packageRecord(i);
        char name[ENTRY_NAME_SIZE + 1];
        memcpy(name, e->name, ENTRY_NAME_SIZE);
        name[ENTRY_NAME_SIZE] = 0;
        if (e->mode == ENTRY_VALUE) {
            printf("%-16s %-5s %-10s %4s %10d\n", name, "value", "-", "-", e->inlineLength);
            continue;
        }
        int32_t stored = getLe32(e->storedSize), extracted = getLe32(e->extractedSize);
        printf("%-16s %-5s %-10s 0x%02X %10d %10d %6.1f%% %10d\n", name, "data", modeName(e), e->xorKey, stored,
               extracted, extracted ? 100.0 * stored / extracted : 100.0, getLe32(e->dataOffset));
    }
    closePackage(packageReaderHandle());
    return 0;
}

static int extractSetup(const char* path, const std::vector<std::string>& names, const std::string& folder)
{
    if (!openSetup(path))
        return 1;
    std::vector<std::string> wanted = names;
    if (wanted.empty())
        for (int i = 0; i < packageEntryCount(); i++) {
            const PackageEntry* e = packageRecord(i);
            wanted.push_back(std::string(e->name, strnlen(e->name, ENTRY_NAME_SIZE)));
        }
    int result = 0;
    for (const std::string& name : wanted) {
        if (!findEntry(name.c_str(), FIND_DATA | FIND_VALUE)) {
            fprintf(stderr, "%s: no entry \"%s\"\n", path, name.c_str());
            result = 1;
            continue;
        }
        if (!isPlainFileName(name.c_str())) {
            fprintf(stderr, "%s: entry \"%s\" has a name that is no plain file name; skipped\n", path, name.c_str());
            result = 1;
            continue;
        }
        std::string target = joinPath(folder, name);
        if (!extractToFile(name.c_str(), target.c_str())) {
            fileDelete(target.c_str());   // no half-written file stays behind
            fprintf(stderr, "%s: entry \"%s\": damaged or cut short; nothing written\n", path, name.c_str());
            result = 1;
            continue;
        }
        printf("%s\n", target.c_str());
    }
    closePackage(packageReaderHandle());
    return result;
}

// Reads the content of a data entry of the open package into memory; the
// decoded size must be exactly what the record announces.
static bool readEntry(const char* name, std::vector<uint8_t>& bytes, std::string& problem)
{
    PackageEntry* e = findEntry(name, FIND_DATA);
    if (!e) {
        problem = "missing";
        return false;
    }
    if (!entryDataFits(e)) {
        problem = "its data lies outside the package";
        return false;
    }
    int32_t size = e->mode == ENTRY_STORED ? getLe32(e->storedSize) : getLe32(e->extractedSize);
    if (size < 0) {
        problem = "negative size";
        return false;
    }
    bytes.assign((size_t)size + 1, 0);   // one spare byte: a longer stream must fail, not fit
    if (!extractToMemory(name, bytes.data(), size)) {
        problem = "damaged: its data does not decode (block check failed or cut short)";
        return false;
    }
    if (e->mode != ENTRY_STORED && totalWritten != getLe32(e->extractedSize)) {
        problem = "decodes to " + std::to_string(totalWritten) + " bytes, not the " + std::to_string(getLe32(e->extractedSize)) + " its record announces";
        return false;
    }
    bytes.resize((size_t)size);
    return true;
}

// Finds and deciphers the configuration embedded in MAIN.
static bool readEmbeddedConfig(SetupConfig& config, std::string& problem)
{
    PackageEntry* main = findEntry(MAIN_ENTRY_NAME, FIND_DATA);
    std::vector<uint8_t> image;
    if (!readEntry(MAIN_ENTRY_NAME, image, problem)) {
        problem = "MAIN: " + problem;
        return false;
    }
    if (main->mode != ENTRY_STORED || main->xorKey != 0 || getLe32(main->dataOffset) != 0) {
        problem = "MAIN: must be stored unscrambled at offset 0, or the setup cannot start";
        return false;
    }
    int32_t at = getLe32(main->patchOffset);
    if (at < 0 || (size_t)at + 8 + CONFIG_PAYLOAD_SIZE > image.size()) {
        problem = "MAIN: carries no embedded configuration";
        return false;
    }
    ConfigBlock block;
    memcpy(&block, &image[(size_t)at], sizeof block);
    if (block.magic != CONFIG_MAGIC || block.length != CONFIG_PAYLOAD_SIZE) {
        problem = "MAIN: the configuration header is damaged";
        return false;
    }
    if (!decipherSetupConfig((uint8_t*)&block)) {
        problem = "MAIN: the configuration cannot be deciphered";
        return false;
    }
    if (block.payload.payloadPosition != (uint32_t)at + 8) {
        problem = "MAIN: the configuration does not decipher to a readable payload";
        return false;
    }
    config = block.payload;
    return true;
}

// Names of the file list, or a problem when the list does not hold fileCount names.
static bool fileNamesOf(const SetupConfig& config, std::vector<std::string>& names, std::string& problem)
{
    if (config.fileCount < 2 || config.fileCount > MAX_SETUP_FILES) {
        problem = "configuration: file count " + std::to_string(config.fileCount) + " is out of range";
        return false;
    }
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount; i++) {
        size_t length = at < sizeof config.fileNames ? strnlen(config.fileNames + at, sizeof config.fileNames - at) : 0;
        if (at + length >= sizeof config.fileNames || length == 0) {
            problem = "configuration: the file list holds fewer names than its count";
            return false;
        }
        names.push_back(std::string(config.fileNames + at, length));
        at += length + 1;
    }
    return true;
}

static int verifySetup(const char* path)
{
    if (!openSetup(path))
        return 1;
    std::string problem;
    int count = packageEntryCount();
    // Every entry decodes and every block checks.
    for (int i = 0; i < count && problem.empty(); i++) {
        const PackageEntry* e = packageRecord(i);
        std::string name(e->name, strnlen(e->name, ENTRY_NAME_SIZE));
        if (e->mode == ENTRY_VALUE)
            continue;
        std::vector<uint8_t> bytes;
        if (!readEntry(name.c_str(), bytes, problem))
            problem = name + ": " + problem;
    }
    SetupConfig config;
    std::vector<std::string> names;
    if (problem.empty() && readEmbeddedConfig(config, problem) && fileNamesOf(config, names, problem)) {
        for (int32_t i = 1; i < config.fileCount && problem.empty(); i++)
            if (!findEntry(entryFileName(i).c_str(), FIND_DATA))
                problem = entryFileName(i) + " (" + names[(size_t)i] + "): missing";
        std::string sharedTable;
        for (int i = 0; i < DECORATION_COUNT && problem.empty(); i++) {
            std::vector<uint8_t> image;
            if (!readEntry(decorativeBitmapNames[i], image, problem)) {
                problem = std::string(decorativeBitmapNames[i]) + ": " + problem;
                break;
            }
            std::string bad = checkBitmap(image);
            if (!bad.empty()) {
                problem = std::string(decorativeBitmapNames[i]) + ": " + bad;
                break;
            }
            std::string table = bitmapColourTable(image);
            if (!table.empty() && !sharedTable.empty() && table != sharedTable)
                problem = std::string(decorativeBitmapNames[i]) + ": colour table differs from the other palettized bitmaps";
            if (!table.empty())
                sharedTable = table;
        }
    }
    closePackage(packageReaderHandle());
    if (!problem.empty()) {
        fprintf(stderr, "%s: %s\n", path, problem.c_str());
        return 1;
    }
    printf("%s: OK: %d entries, %d files, configuration readable\n", path, count, (int)names.size());
    return 0;
}

static int printConfig(const char* path)
{
    if (!openSetup(path))
        return 1;
    SetupConfig config;
    std::string problem;
    bool ok = readEmbeddedConfig(config, problem);
    closePackage(packageReaderHandle());
    if (!ok) {
        fprintf(stderr, "%s: %s\n", path, problem.c_str());
        return 1;
    }
    fputs(describeSetupConfig(config).c_str(), stdout);
    return 0;
}

int main(int argc, char** argv)
{
    enableCompression();   // entries are added with XFER_COMPRESS
    if (argc < 3) {
        fputs(usage, stderr);
        return 2;
    }
    std::string command = argv[1];
    std::vector<std::string> rest(argv + 2, argv + argc);
    if (command == "build") {
        std::string script, output, stub;
        for (size_t i = 0; i < rest.size(); i++) {
            if (rest[i] == "-o" && i + 1 < rest.size())
                output = rest[++i];
            else if (rest[i] == "--stub" && i + 1 < rest.size())
                stub = rest[++i];
            else if (script.empty() && rest[i][0] != '-')
                script = rest[i];
            else {
                fputs(usage, stderr);
                return 2;
            }
        }
        if (script.empty()) {
            fputs(usage, stderr);
            return 2;
        }
        return buildSetup(script, output, stub);
    }
    if (command == "extract") {
        std::string folder = ".";
        std::vector<std::string> names;
        for (size_t i = 1; i < rest.size(); i++) {
            if (rest[i] == "-d" && i + 1 < rest.size())
                folder = rest[++i];
            else
                names.push_back(rest[i]);
        }
        return extractSetup(rest[0].c_str(), names, folder);
    }
    if (rest.size() != 1) {
        fputs(usage, stderr);
        return 2;
    }
    if (command == "list")
        return listSetup(rest[0].c_str());
    if (command == "verify")
        return verifySetup(rest[0].c_str());
    if (command == "config")
        return printConfig(rest[0].c_str());
    fputs(usage, stderr);
    return 2;
}
