// mksetup - builds a setup executable from a setup script, and inspects one.
// "mksetup --help" lists the commands, "mksetup help COMMAND" explains one.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <string>
#include <vector>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "app/filename.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"
#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/codingerror.h"
#include "coding/littleendian.h"
#include "package/package.h"
#include "package/packageerror.h"
#include "package/peimage.h"
#include "package/transfer.h"
#include "package/writer.h"
#include "script.h"
#include "stub.h"
#include "userfiles.h"
#include "versioninfo.h"
#include "workers.h"

#ifndef MKSETUP_VERSION
#define MKSETUP_VERSION "0.0"
#endif

static bool quiet;   // -q: no table, no progress; errors and warnings still go to stderr

struct Command {
    const char* name;
    const char* synopsis;
    const char* help;
};

// More workers than entries would sit idle: a package holds 31 records.
enum { MAX_WORKERS = 64 };

static const Command commands[] = {
    {"build", "build SCRIPT [-o OUT] [--stub STUB] [-j JOBS]",
     "Builds a setup executable from a setup script (see docs/script.md).\n"
     "  -o OUT       the setup to write (default: the script's Output, else the\n"
     "               script's name with .exe); never one of the inputs\n"
     "  --stub STUB  the setup program to build from (default: the script's Stub,\n"
     "               else the i686 setup program built into mksetup)\n"
     "  -j JOBS      compress up to JOBS entries at once, each in a worker process\n"
     "               (default: the number of processors; -j 1 compresses them one\n"
     "               after another); the setup is the same for every JOBS\n"
     "The output is written to a new file beside it and renamed into place only\n"
     "when every step succeeded.\n"},
    {"list", "list SETUP", "Lists the package entries of a setup executable.\n"},
    {"extract", "extract SETUP [NAME...] -d DIR",
     "Extracts entries (all by default) into DIR, which is created when missing.\n"
     "Files are written under their entry names; a symbolic link in DIR is never\n"
     "followed or replaced.\n"},
    {"verify", "verify SETUP", "Decodes every entry and checks every block, the configuration and the bitmaps.\n"},
    {"config", "config SETUP",
     "Prints the embedded configuration as a complete script. Saved into the folder\n"
     "that 'mksetup extract SETUP -d DIR' filled, it rebuilds the same setup:\n"
     "  mksetup extract S.exe -d D && mksetup config S.exe > D/setup.ini &&\n"
     "  mksetup build D/setup.ini -o S2.exe      (S2.exe is identical to S.exe)\n"},
    {"help", "help [COMMAND]", "Explains one command, or lists them all.\n"},
};

static void printUsage(FILE* out)
{
    fprintf(out, "usage: mksetup [-q] COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const Command& c : commands)
        fprintf(out, "  mksetup %s\n", c.synopsis);
    fprintf(out, "\noptions:\n"
                 "  -h, --help     this text; 'mksetup help COMMAND' or 'COMMAND --help' for one command\n"
                 "  --version      the version of mksetup\n"
                 "  -q, --quiet    print nothing but errors and warnings\n"
                 "\nExit status: 0 success, 1 a problem with the script, a file or a setup,\n"
                 "2 a bad command line.\n");
}

static const Command* findCommand(const std::string& name)
{
    for (const Command& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

static void printCommandHelp(const Command& c)
{
    printf("usage: mksetup %s\n\n%s", c.synopsis, c.help);
}

// "error: ..." on stderr, control characters escaped.
static void error(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "%s\n", shown(std::string("error: ") + text, 0).c_str());
}

// A command-line problem: named, with a pointer to the help. Exit status 2.
static int usageError(const std::string& what, const char* command)
{
    error("%s", what.c_str());
    if (command)
        fprintf(stderr, "try 'mksetup help %s'\n", command);
    else
        fprintf(stderr, "try 'mksetup --help'\n");
    return 2;
}

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

// Why the package library's last operation failed, in words: the system's
// reason for a file, the codec's for damaged data.
static std::string packageReason()
{
    PackageError e = packageLastError();
    std::string text = packageErrorText(e);
    if (e == PACKAGE_DAMAGED_ENTRY && codingLastError() != CODING_OK)
        return text + " (" + codingErrorText(codingLastError()) + ")";
    if (e == PACKAGE_NO_SUCH_FILE || e == PACKAGE_CANNOT_OPEN || e == PACKAGE_CANNOT_READ ||
        e == PACKAGE_CANNOT_CREATE_TARGET || e == PACKAGE_CANNOT_WRITE) {
        int32_t code = fileLastSystemError();
        if (code != 0) {
            char system[256];
            fileSystemErrorText(code, system, sizeof system);
            return text + ": " + system;
        }
    }
    return text;
}

static int refuseOverwrite(const char*)
{
    return 0;
}

// Creates path only when nothing, not even a dangling symbolic link, is there.
static bool writeNewFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FileHandle f = fileCreate(path.c_str(), 1, nullptr);
    if (f == INVALID_FILE)
        return false;
    bool ok = bytes.empty() || fileWrite(f, bytes.data(), (int32_t)bytes.size()) == (int32_t)bytes.size();
    fileClose(f);
    if (!ok)
        fileDelete(path.c_str());
    return ok;
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
    std::string output, stubPath, tempBase, temp;
    std::vector<uint8_t> stub;
    std::vector<int64_t> fileSizes;          // by index in script.files; [0] unused
    SetupConfig config;
    std::vector<AddedFile> added;
    std::vector<std::string> tempBitmaps;    // ours: created exclusively, deleted after
    std::string failure;
};

// The output next to the script (or as given); the stub as given, named by
// the script, or the one built into mksetup (empty stubPath).
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
    plan.output = output;
    plan.stubPath = stubPath;
}

// A setup program taken from a setup (the MAIN entry that 'extract' writes)
// carries its configuration where the markers were: put the markers back, so
// it builds like the stub it came from. Returns true when it did.
static bool restoreMarkers(std::vector<uint8_t>& image)
{
    for (size_t at = 0; at + sizeof(ConfigBlock) <= image.size(); at++) {
        if (readLe32(&image[at]) != CONFIG_MAGIC || readLe32(&image[at + 4]) != CONFIG_PAYLOAD_SIZE)
            continue;
        ConfigBlock block;
        memcpy(&block, &image[at], sizeof block);
        if (!decipherSetupConfig((uint8_t*)&block) || block.payload.payloadPosition != (uint32_t)at + 8)
            continue;
        writeLe32(&image[at], CONFIG_MARKER_1);
        writeLe32(&image[at + 4], CONFIG_MARKER_2);
        return true;
    }
    return false;
}

// The output must not be any file the build reads, by identity: another
// name (a link, "./x", a different case on Windows) is the same file.
static bool outputIsAnInput(const BuildPlan& plan)
{
    FileIdentity out = fileIdentity(plan.output);
    if (!out.exists)
        return false;
    std::vector<std::pair<std::string, std::string>> inputs = {{"the script", plan.script.scriptPath}};
    if (!plan.stubPath.empty())
        inputs.push_back({"the setup program (stub)", plan.stubPath});
    for (size_t i = 1; i < plan.script.files.size(); i++)
        inputs.push_back({plan.script.files[i].section + " " + plan.script.files[i].name, plan.script.files[i].path});
    for (int i = 0; i < DECORATION_COUNT; i++)
        if (!plan.script.decoration[i].text.empty())
            inputs.push_back({std::string("[Decoration] ") + decorativeBitmapNames[i],
                              joinPath(plan.script.folder, plan.script.decoration[i].text)});
    for (const auto& input : inputs)
        if (sameFile(out, fileIdentity(input.second))) {
            error("%s: the output is the same file as %s (\"%s\"); choose another output", plan.output.c_str(),
                  input.first.c_str(), input.second.c_str());
            return true;
        }
    return false;
}

// Loads the script, the stub and the sizes, and fills the configuration.
// Returns 0, or 1 after saying what is wrong.
static int planBuild(BuildPlan& plan, const std::string& scriptPath, const std::string& output,
                     const std::string& stubPath)
{
    std::vector<std::string> errors;
    bool loaded = loadScript(scriptPath, plan.script, errors);
    for (const std::string& w : plan.script.warnings)
        fprintf(stderr, "%s\n", w.c_str());
    if (!loaded) {
        for (const std::string& e : errors)
            fprintf(stderr, "%s\n", e.c_str());
        return 1;
    }
    resolvePaths(plan, scriptPath, output, stubPath);
    if (isFolder(plan.output)) {
        error("%s: is a folder; name the setup file to write", plan.output.c_str());
        return 1;
    }
    if (outputIsAnInput(plan))
        return 1;
    std::string reason;
    if (plan.stubPath.empty()) {
        size_t size = 0;
        const uint8_t* stub = embeddedStub(&size);
        if (!size) {
            error("this mksetup was built without a setup program; name one with --stub or Stub =");
            return 1;
        }
        plan.stub.assign(stub, stub + size);
    } else if (!readRegularFile(plan.stubPath, plan.stub, reason)) {
        error("%s: cannot read the setup program (stub): %s", plan.stubPath.c_str(), reason.c_str());
        return 1;
    }
    if (findConfigMarkers(plan.stub.data(), plan.stub.size()) < 0 && !restoreMarkers(plan.stub)) {
        error("%s: no configuration markers: not a setup program", plan.stubPath.c_str());
        return 1;
    }
    const SetupScript& script = plan.script;
    // The file's properties and the system's prompts name the product.
    std::string stubName = plan.stubPath.empty() ? std::string("the built-in setup program") : plan.stubPath;
    VersionTexts texts;
    texts.productName = scriptField(script, "ProductName").text;
    texts.productVersion = scriptField(script, "ProductVersion").text;
    texts.description = texts.productName + " Setup";
    texts.company = script.publisher.text;
    if (!reservesVersionFields(plan.stub)) {
        fprintf(stderr, "%s\n", shown("warning: " + stubName + ": no reserved version fields: the file's properties will not name the product", 0).c_str());
    } else {
        std::string versionProblem = writeVersionTexts(plan.stub, texts);
        if (!versionProblem.empty()) {
            error("%s: %s", stubName.c_str(), versionProblem.c_str());
            return 1;
        }
    }
    int64_t total = 0;
    plan.fileSizes.assign(script.files.size(), 0);
    for (size_t i = 1; i < script.files.size(); i++) {
        const ScriptFile& f = script.files[i];
        int64_t size = regularFileSize(f.path, reason);
        if (size < 0) {
            fprintf(stderr, "%s\n", shown(script.scriptPath + ":" + std::to_string(f.line) + ": error: " + f.section + " " + f.name +
                                          ": cannot read source \"" + f.source + "\": " + reason, 0).c_str());
            return 1;
        }
        plan.fileSizes[i] = size;
        total += size;
    }
    if (total > 0x7FFFFFFF) {
        error("%s: the files add up to more than 2 GB", script.scriptPath.c_str());
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
        plan.failure = (plan.stubPath.empty() ? std::string("the built-in setup program") : plan.stubPath) +
                       ": could not embed the configuration (the markers must lie wholly in one 16 KB chunk)";
        return false;
    }
    plan.added.push_back({"(setup program)", MAIN_ENTRY_NAME, (int64_t)plan.stub.size(), (int64_t)plan.stub.size()});
    return true;
}

// One source to compress into an entry: a product file, or a bitmap through
// its temporary file.
struct CompressJob {
    std::string source, entry, shownName;
    int64_t size;
};

// File1.. for the product files, then the eight bitmaps, as the script's checks
// read them. The compressor reads files only: each bitmap goes through a
// temporary file of our own.
static bool listCompressJobs(BuildPlan& plan, std::vector<CompressJob>& jobs)
{
    const SetupScript& script = plan.script;
    for (size_t i = 1; i < script.files.size(); i++)
        jobs.push_back({script.files[i].path, entryFileName((int)i), script.files[i].name, plan.fileSizes[i]});
    for (int i = 0; i < DECORATION_COUNT; i++) {
        std::string path = plan.tempBase + "." + decorativeBitmapNames[i] + ".tmp";
        if (!writeNewFile(path, script.decorationImage[i])) {
            plan.failure = path + ": cannot create a temporary file: " + lastSystemError();
            return false;
        }
        plan.tempBitmaps.push_back(path);
        const std::string& source = script.decoration[i].text;
        jobs.push_back({path, decorativeBitmapNames[i], source.empty() ? "(default bitmap)" : source,
                        (int64_t)script.decorationImage[i].size()});
    }
    return true;
}

// One after another in this process, each compressed as it is read.
static bool compressInTurn(BuildPlan& plan, const std::vector<CompressJob>& jobs)
{
    for (const CompressJob& job : jobs) {
        beforeTransferHook = progressBefore;
        afterTransferHook = progressAfter;
        int32_t before = fileTell(packageWriterHandle());
        if (!addFile(job.source.c_str(), job.entry.c_str(), XFER_COMPRESS)) {
            plan.failure = job.source + ": could not be read and compressed: " + packageReason();
            return false;
        }
        progress.done += job.size;
        progress.source = INVALID_FILE;
        plan.added.push_back({job.shownName, job.entry, job.size, fileTell(packageWriterHandle()) - before});
    }
    return true;
}

// The hidden command a build starts its workers with.
static const char* const WORKER_COMMAND = "--compress-worker";
enum { WORKER_OK = 0, WORKER_FAILED = 1, WORKER_NO_TEMPORARY = 3 };

// Worker: compresses size bytes of source into a new file temp, which it
// creates exclusively and deletes again when it fails. It says why on stderr.
static int compressWorker(const char* source, const char* sizeText, const char* temp)
{
    char* end = nullptr;
    long long size = strtoll(sizeText, &end, 10);
    if (!*sizeText || *end || size < 0 || size > INT32_MAX) {
        error("%s: bad size \"%s\"", source, sizeText);
        return WORKER_FAILED;
    }
    FileHandle sink = fileCreate(temp, 1, nullptr);
    if (sink == INVALID_FILE) {
        error("%s: cannot create a temporary file: %s", temp, lastSystemError().c_str());
        return WORKER_NO_TEMPORARY;
    }
    FileHandle input = fileOpenRead(source);
    int ok = input != INVALID_FILE && compressStream(input, sink, (int32_t)size);
    std::string reason = input == INVALID_FILE ? lastSystemError() : codingErrorText(codingLastError());
    fileClose(input);
    fileClose(sink);
    if (!ok) {
        fileDelete(temp);
        error("%s: could not be read and compressed: %s", source, reason.c_str());
        return WORKER_FAILED;
    }
    return WORKER_OK;
}

// The entries are compressed by up to jobs worker processes at once, not by
// threads: the encoder and the block stream keep their state in static buffers
// of the process, so one process compresses one source at a time. Each worker
// writes a block stream to a temporary file beside the output. The largest
// sources start first and a free worker takes the next at once, so the build
// ends soon after its largest entry; this process appends the finished ones in
// the list's order, so the package is the one a build in turn writes, byte for
// byte. Every temporary file is gone when this returns.
static bool compressByWorkers(BuildPlan& plan, const std::vector<CompressJob>& jobs, int workers)
{
    std::vector<size_t> order(jobs.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return jobs[a].size > jobs[b].size; });
    std::vector<std::string> temp(jobs.size());
    std::vector<char> finished(jobs.size(), 0);
    std::vector<Worker> running;
    std::vector<size_t> runningJob;   // beside running: the job each one compresses
    size_t started = 0, appended = 0;
    bool ok = true;
    while (ok && appended < jobs.size()) {
        while (started < order.size() && running.size() < (size_t)workers) {
            size_t j = order[started++];
            temp[j] = plan.tempBase + "." + jobs[j].entry + ".part";
            std::string reason;
            Worker w = startWorker({WORKER_COMMAND, jobs[j].source, std::to_string(jobs[j].size), temp[j]}, reason);
            if (w == NO_WORKER) {
                plan.failure = jobs[j].source + ": " + reason;
                ok = false;
                break;
            }
            running.push_back(w);
            runningJob.push_back(j);
        }
        if (!ok || running.empty())
            break;
        size_t which = 0;
        int status = waitAnyWorker(running, which);
        size_t j = runningJob[which];
        runningJob.erase(runningJob.begin() + (long)which);
        if (status != WORKER_OK) {
            // The worker named the source and the reason; one that died without a word is named here.
            plan.failure = status < 0 ? jobs[j].source + ": the worker compressing it ended abnormally" : "";
            if (status != WORKER_NO_TEMPORARY)
                fileDelete(temp[j].c_str());
            ok = false;
            break;
        }
        finished[j] = 1;
        progress.done += jobs[j].size;
        drawProgress(progress.done);
        for (; ok && appended < jobs.size() && finished[appended]; appended++) {
            const CompressJob& job = jobs[appended];
            int32_t before = fileTell(packageWriterHandle());
            if (!addPrecompressed(temp[appended].c_str(), job.entry.c_str(), (int32_t)job.size)) {
                plan.failure = plan.temp + ": cannot add " + job.entry + ": " + packageReason();
                ok = false;
            } else {
                plan.added.push_back({job.shownName, job.entry, job.size, fileTell(packageWriterHandle()) - before});
            }
            fileDelete(temp[appended].c_str());
            finished[appended] = 0;
        }
    }
    for (size_t i = 0; i < running.size(); i++)
        if (waitWorker(running[i]) != WORKER_NO_TEMPORARY)
            fileDelete(temp[runningJob[i]].c_str());
    for (size_t j = 0; j < jobs.size(); j++)
        if (finished[j])
            fileDelete(temp[j].c_str());
    return ok;
}

static bool addCompressedEntries(BuildPlan& plan, int workers)
{
    std::vector<CompressJob> jobs;
    if (!listCompressJobs(plan, jobs))
        return false;
    return workers <= 1 ? compressInTurn(plan, jobs) : compressByWorkers(plan, jobs, workers);
}

static void printBuildTable(const BuildPlan& plan, double seconds)
{
    int64_t in = 0, out = 0;
    printf("%-24s %-10s %12s %12s %7s\n", "file", "entry", "bytes in", "bytes out", "ratio");
    for (const AddedFile& a : plan.added) {
        printf("%-24s %-10s %12lld %12lld %6.1f%%\n", shown(a.name, 24).c_str(), a.entry.c_str(), (long long)a.in,
               (long long)a.out, a.in ? 100.0 * (double)a.out / (double)a.in : 100.0);
        in += a.in;
        out += a.out;
    }
    printf("%-24s %-10s %12lld %12lld %6.1f%%\n", "total", "", (long long)in, (long long)out,
           in ? 100.0 * (double)out / (double)in : 100.0);
    printf("%s: %zu files, %.2f s\n", shown(plan.output, 0).c_str(), plan.script.files.size(), seconds);
}

// Creates the package as a new file beside the output, under a name nobody
// can plant a link at in advance. Returns its handle or INVALID_FILE.
static FileHandle createTemporaryPackage(BuildPlan& plan)
{
    for (int attempt = 0; attempt < 8; attempt++) {
        plan.tempBase = plan.output + "." + unpredictableTag();
        plan.temp = plan.tempBase + ".tmp";
        setStopOnError(0);
        confirmOverwriteHook = refuseOverwrite;   // exclusive: an existing name is never opened
        FileHandle package = createPackage(plan.temp.c_str());
        if (package != INVALID_FILE)
            return package;
        if (!fileIdentity(plan.temp).exists && !isSymbolicLink(plan.temp))
            break;   // not a clash of names: the folder refuses
    }
    plan.failure = plan.temp + ": cannot create: " + lastSystemError();
    plan.temp.clear();
    return INVALID_FILE;
}

// Writes the package into a temporary file next to the output and puts it in
// the output's place only when every step succeeded.
static int buildSetup(const std::string& scriptPath, const std::string& output, const std::string& stubPath,
                      int workers)
{
    BuildPlan plan;
    if (planBuild(plan, scriptPath, output, stubPath) != 0)
        return 1;
    double start = secondsNow();
    progress.start = start;
    progress.done = 0;
    progress.source = INVALID_FILE;
    progress.terminal = !quiet && isatty(2);
    tickHook = progressTick;

    FileHandle package = createTemporaryPackage(plan);
    bool ok = package != INVALID_FILE;
    ok = ok && addSetupProgram(plan) && addCompressedEntries(plan, workers);
    // The package ends on a multiple of 8, so a signer appends its
    // certificate table right after it, and the setup finds the package there.
    if (ok && !padPackageData(8)) {
        plan.failure = plan.temp + ": cannot write: " + packageReason();
        ok = false;
    }
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
        plan.failure = plan.output + ": cannot replace it with the new setup: " + lastSystemError();
        ok = false;
    }
    if (!ok) {
        if (!plan.temp.empty())
            fileDelete(plan.temp.c_str());   // ours: created exclusively above
        if (!plan.failure.empty())   // empty: a worker has said what failed
            error("%s", plan.failure.c_str());
        return 1;
    }
    if (!quiet)
        printBuildTable(plan, secondsNow() - start);
    return 0;
}

// ---- inspection ----

static int openSetup(const char* path)
{
    // The system's reason first: "no package directory" is for files that are there.
    std::string reason;
    if (regularFileSize(path, reason) < 0) {
        error("%s: cannot open: %s", path, reason.c_str());
        return 0;
    }
    if (openPackage(path) == INVALID_FILE) {
        PackageError e = packageLastError();
        if (e == PACKAGE_BAD_SIGNATURE)
            error("%s: the program's headers name a certificate table, but it does not end the file right after "
                  "the package: changed after signing, or signed without the builder's padding", path);
        else if (e == PACKAGE_NO_DIRECTORY)
            error("%s: no package directory found: not a setup, or its end is cut off or damaged", path);
        else
            error("%s: cannot open: %s", path, packageReason().c_str());
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
            printf("%-16s %-5s %-10s %4s %10d\n", shown(name).c_str(), "value", "-", "-", e->inlineLength);
            continue;
        }
        int32_t stored = getLe32(e->storedSize), extracted = getLe32(e->extractedSize);
        printf("%-16s %-5s %-10s 0x%02X %10d %10d %6.1f%% %10d\n", shown(name).c_str(), "data", modeName(e), e->xorKey, stored,
               extracted, extracted ? 100.0 * stored / extracted : 100.0, getLe32(e->dataOffset));
    }
    closePackage(packageReaderHandle());
    return 0;
}

// Writes one entry as DIR/name: into a new file of our own, then renamed over
// the name unless that is a symbolic link, so nothing is written through a
// link and nothing outside DIR. Returns an empty string or what went wrong.
static std::string extractOne(const std::string& name, const std::string& folder, std::string& target)
{
    target = joinPath(folder, name);
    if (isSymbolicLink(target))
        return "\"" + target + "\" is a symbolic link; not followed or replaced";
    std::string temp = joinPath(folder, "." + name + "." + unpredictableTag() + ".tmp");
    confirmOverwriteHook = refuseOverwrite;   // exclusive: never opens what is already there
    FileHandle probe = createTargetFile(temp.c_str());
    confirmOverwriteHook = nullptr;
    if (probe == INVALID_FILE)
        return "cannot create a file in \"" + folder + "\": " + lastSystemError();
    fileClose(probe);
    // The file is ours now; the extraction replaces it in place.
    if (!extractToFile(name.c_str(), temp.c_str())) {
        std::string reason = packageReason();
        fileDelete(temp.c_str());   // no half-written file stays behind
        return reason + "; nothing written";
    }
    if (isSymbolicLink(target)) {
        fileDelete(temp.c_str());
        return "\"" + target + "\" is a symbolic link; not followed or replaced";
    }
    if (!fileRename(temp.c_str(), target.c_str())) {
        std::string reason = lastSystemError();
        fileDelete(temp.c_str());
        return "cannot write \"" + target + "\": " + reason;
    }
    return "";
}

static int extractSetup(const char* path, const std::vector<std::string>& names, const std::string& folder)
{
    if (!openSetup(path))
        return 1;
    if (!isFolder(folder)) {
        std::string reason;
        if (!makeFolder(folder, reason)) {
            closePackage(packageReaderHandle());
            error("%s: cannot create the folder: %s", folder.c_str(), reason.c_str());
            return 1;
        }
    }
    std::vector<std::string> wanted = names;
    if (wanted.empty())
        for (int i = 0; i < packageEntryCount(); i++) {
            const PackageEntry* e = packageRecord(i);
            wanted.push_back(std::string(e->name, strnlen(e->name, ENTRY_NAME_SIZE)));
        }
    int result = 0;
    for (const std::string& name : wanted) {
        if (!findEntry(name.c_str(), FIND_DATA | FIND_VALUE)) {
            error("%s: no entry \"%s\"", path, name.c_str());
            result = 1;
            continue;
        }
        if (!isPlainFileName(name.c_str())) {
            error("%s: entry \"%s\" has a name that is no plain file name; skipped", path, name.c_str());
            result = 1;
            continue;
        }
        std::string target;
        std::string problem = extractOne(name, folder, target);
        if (!problem.empty()) {
            error("%s: entry \"%s\": %s", path, name.c_str(), problem.c_str());
            result = 1;
            continue;
        }
        if (!quiet)
            printf("%s\n", shown(target, 0).c_str());
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
        problem = std::string("damaged: its data does not decode (") + codingErrorText(codingLastError()) + ")";
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
        error("%s: %s", path, problem.c_str());
        return 1;
    }
    if (quiet)
        return 0;
    printf("%s: OK: %d entries, %d files, configuration readable\n", path, count, (int)names.size());
    FileHandle file = fileOpenRead(path);
    int32_t end;
    PeSignature signature;
    if (findPackageEnd(file, fileSize(file), &end, &signature) == SIGNATURE_AT_END)
        printf("%s: signed: certificate table at offset %d, %d bytes, right after the package\n", path,
               signature.tableOffset, signature.tableSize);
    else
        printf("%s: not signed\n", path);
    fileClose(file);
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
        error("%s: %s", path, problem.c_str());
        return 1;
    }
    fputs(describeSetupConfig(config).c_str(), stdout);
    return 0;
}

int main(int argc, char** argv)
{
    enableCompression();   // entries are added with XFER_COMPRESS
    if (argc == 5 && strcmp(argv[1], WORKER_COMMAND) == 0)
        return compressWorker(argv[2], argv[3], argv[4]);
    // Global options anywhere before the command; per-command options anywhere after it.
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string command;
    std::vector<std::string> rest;
    bool wantHelp = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help")
            wantHelp = true;
        else if (a == "-q" || a == "--quiet")
            quiet = true;
        else if (a == "--version" && command.empty()) {
            printf("mksetup %s\n", MKSETUP_VERSION);
            return 0;
        } else if (command.empty() && a.size() > 1 && a[0] == '-')
            return usageError("unknown option \"" + a + "\"", nullptr);
        else if (command.empty())
            command = a;
        else
            rest.push_back(a);
    }
    std::vector<std::string> names;
    for (const Command& c : commands)
        names.push_back(c.name);
    const Command* found = command.empty() ? nullptr : findCommand(command);
    if (!command.empty() && !found)
        return usageError("unknown command \"" + command + "\"" + didYouMean(command, names), nullptr);
    if (command == "help" || (wantHelp && !found) || (command.empty() && wantHelp)) {
        const std::string topic = command == "help" && !rest.empty() ? rest[0] : "";
        if (topic.empty()) {
            printUsage(stdout);
            return 0;
        }
        const Command* c = findCommand(topic);
        if (!c)
            return usageError("unknown command \"" + topic + "\"" + didYouMean(topic, names), nullptr);
        printCommandHelp(*c);
        return 0;
    }
    if (wantHelp) {
        printCommandHelp(*found);
        return 0;
    }
    if (!found) {
        printUsage(stderr);
        return 2;
    }

    // The command's own options, in any order among its operands.
    std::string output, stub, folder;
    bool folderGiven = false;
    int workers = processorCount();
    std::vector<std::string> operands;
    for (size_t i = 0; i < rest.size(); i++) {
        std::string a = rest[i], value;
        bool joined = command == "build" && a.size() > 2 && a.compare(0, 2, "-j") == 0;   // -jN is -j N
        if (joined) {
            value = a.substr(2);
            a = "-j";
        }
        bool takesValue = (command == "build" && (a == "-o" || a == "--output" || a == "--stub" || a == "-j" ||
                                                  a == "--jobs")) ||
                          (command == "extract" && (a == "-d" || a == "--directory"));
        if (takesValue) {
            if (!joined && i + 1 >= rest.size())
                return usageError(a + " needs a value", found->name);
            if (!joined)
                value = rest[++i];
            if (a == "--stub")
                stub = value;
            else if (a == "-j" || a == "--jobs") {
                char* end = nullptr;
                long n = strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || n < 1 || n > MAX_WORKERS)
                    return usageError(a + " needs a number of jobs from 1 to " + std::to_string(MAX_WORKERS) + ", not \"" +
                                          value + "\"", found->name);
                workers = (int)n;
            }
            else if (a == "-d" || a == "--directory") {
                folder = value;
                folderGiven = true;
            } else
                output = value;
        } else if (a == "--") {
            operands.insert(operands.end(), rest.begin() + (long)i + 1, rest.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option \"" + a + "\" for " + command, found->name);
        } else {
            operands.push_back(a);
        }
    }
    if (operands.empty())
        return usageError(command + ": which " + (command == "build" ? "script" : "setup") + "?", found->name);
    if (command == "build") {
        if (operands.size() > 1)
            return usageError("build takes one script; \"" + operands[1] + "\" is one too many", found->name);
        return buildSetup(operands[0], output, stub, workers < MAX_WORKERS ? workers : MAX_WORKERS);
    }
    if (command == "extract") {
        std::vector<std::string> entries(operands.begin() + 1, operands.end());
        return extractSetup(operands[0].c_str(), entries, folderGiven ? folder : std::string("."));
    }
    if (operands.size() > 1)
        return usageError(command + " takes one setup; \"" + operands[1] + "\" is one too many", found->name);
    if (command == "list")
        return listSetup(operands[0].c_str());
    if (command == "verify")
        return verifySetup(operands[0].c_str());
    return printConfig(operands[0].c_str());
}
