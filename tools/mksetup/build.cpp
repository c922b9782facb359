// build.cpp - writing the setup: MAIN with the configuration, the
// compressed entries, the padding, then the rename into place.
#include "build.h"

#include <stdio.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "compress.h"
#include "package/configpatch.h"
#include "package/operation.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"
#include "plan.h"
#include "progress.h"
#include "tool.h"
#include "userfiles.h"

// MAIN: the stub with the configuration embedded over its markers.
static bool addSetupProgram(BuildPlan& plan)
{
    setConfigPatch((uint8_t*)&plan.config, CONFIG_PAYLOAD_SIZE, PATCH_ENCIPHER | PATCH_STORE_POSITION);
    if (!addMemory(plan.stub.data(), (int32_t)plan.stub.size(), MAIN_ENTRY_NAME, XFER_PATCH)) {
        plan.failure = stubShownName(plan) + ": could not embed the configuration (the markers must lie wholly in one 16 KB chunk)";
        return false;
    }
    plan.added.push_back({"(setup program)", MAIN_ENTRY_NAME, (int64_t)plan.stub.size(), (int64_t)plan.stub.size()});
    return true;
}

static void printBuildTable(const BuildPlan& plan, double seconds)
{
    int64_t in = 0, out = 0;
    printf("%-24s %-10s %12s %12s %7s\n", "file", "entry", "bytes in", "bytes out", "ratio");
    for (const AddedFile& a : plan.added) {
        // Aligned by characters: the names are UTF-8.
        printf("%s %-10s %12lld %12lld %6.1f%%\n", column(a.name, 24).c_str(), a.entry.c_str(), (long long)a.in,
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
    std::string reason;
    for (int attempt = 0; attempt < 8; attempt++) {
        plan.tempBase = plan.output + "." + unpredictableTag();
        plan.temp = plan.tempBase + ".tmp";
        setStopOnError(0);
        confirmOverwriteHook = refuseOverwrite;   // exclusive: an existing name is never opened
        FileHandle package = createPackage(plan.temp.c_str());
        if (package != INVALID_FILE)
            return package;
        reason = lastSystemError();   // before the checks below change it
        if (!fileIdentity(plan.temp).exists && !isSymbolicLink(plan.temp))
            break;   // not a clash of names: the folder refuses
    }
    // The temporary file is ours; the user named the output and its folder.
    plan.failure = plan.output + ": cannot write the setup into the folder \"" + folderOf(plan.output) + "\": " + reason;
    plan.temp.clear();
    return INVALID_FILE;
}

// The package's entries into the temporary file, closed; false with plan.failure.
static bool writePackage(BuildPlan& plan, int workers)
{
    FileHandle package = createTemporaryPackage(plan);
    bool ok = package != INVALID_FILE;
    ok = ok && addSetupProgram(plan) && addCompressedEntries(plan, workers);
    // The package ends on a multiple of 8, so a signer appends its
    // certificate table right after it, and the setup finds the package there.
    if (ok && !padPackageData(8)) {
        plan.failure = plan.output + ": cannot write the setup: " + packageReason();
        ok = false;
    }
    stopProgress();
    if (package != INVALID_FILE && !closePackage(package) && ok) {
        plan.failure = plan.output + ": cannot write the setup: the package directory could not be written";
        ok = false;
    }
    for (const std::string& path : plan.tempBitmaps)
        fileDelete(path.c_str());
    return ok;
}

// A path as one word of a depfile: '/' separates folders (make reads '\'
// as an escape), a space and '#' are escaped, '$' doubled.
static std::string depfileWord(const std::string& path)
{
    std::string word;
    for (char ch : path) {
        if (ch == '\\')
            word += '/';
        else if (ch == ' ' || ch == '#')
            word += std::string("\\") + ch;
        else if (ch == '$')
            word += "$$";
        else
            word += ch;
    }
    return word;
}

// Every file the setup is built from, after the output; written beside the
// depfile and renamed into place, like the setup.
static bool writeDepfile(BuildPlan& plan, const std::string& depfile)
{
    std::vector<std::string> inputs = {plan.script.scriptPath};
    if (!plan.stubPath.empty())
        inputs.push_back(plan.stubPath);
    for (size_t i = 1; i < plan.script.files.size(); i++)
        inputs.push_back(plan.script.files[i].path);
    for (int i = 0; i < DECORATION_COUNT; i++)
        if (!plan.script.decoration[i].text.empty())
            inputs.push_back(joinPath(plan.script.folder, plan.script.decoration[i].text));
    std::string text = depfileWord(plan.output) + ":";
    for (const std::string& input : inputs)
        text += " \\\n  " + depfileWord(input);
    text += "\n";
    std::string temp = depfile + "." + unpredictableTag() + ".tmp";
    FileHandle file = fileCreate(temp.c_str(), 1, nullptr);
    bool ok = file != INVALID_FILE;
    std::string reason = ok ? "" : lastSystemError();
    if (ok && fileWrite(file, text.data(), (int32_t)text.size()) != (int32_t)text.size()) {
        reason = lastSystemError();
        ok = false;
    }
    if (file != INVALID_FILE)
        fileClose(file);
    if (ok && !fileRename(temp.c_str(), depfile.c_str())) {
        reason = lastSystemError();
        ok = false;
    }
    if (!ok) {
        if (file != INVALID_FILE)
            fileDelete(temp.c_str());   // ours: created exclusively above
        plan.failure = depfile + ": cannot write the depfile into the folder \"" + folderOf(depfile) + "\": " + reason;
    }
    return ok;
}

int buildSetup(const std::string& scriptPath, const std::string& output, const std::string& stubPath, int workers,
               const std::string& depfile)
{
    BuildPlan plan;
    if (planBuild(plan, scriptPath, output, stubPath) != 0)
        return 1;
    double start = secondsNow();
    startProgress(plan.totalSize, !isQuiet() && isatty(2));
    bool ok = writePackage(plan, workers);
    // The depfile before the setup is in place: a setup whose inputs a build
    // system does not know would not be rebuilt when they change.
    if (ok && !depfile.empty())
        ok = writeDepfile(plan, depfile);
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
    if (!isQuiet())
        printBuildTable(plan, secondsNow() - start);
    return 0;
}
