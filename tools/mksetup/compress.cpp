// compress.cpp - the compression jobs and the worker pool.
#include "compress.h"

#include <stdint.h>
#include <stdlib.h>
#include <algorithm>

#include "app/setuplayout.h"
#include "coding/blockstream_encode.h"
#include "coding/codingerror.h"
#include "package/package.h"
#include "package/writer.h"
#include "progress.h"
#include "tool.h"
#include "userfiles.h"
#include "workers.h"

enum { WORKER_OK = 0, WORKER_FAILED = 1, WORKER_NO_TEMPORARY = 3 };

// One source to compress into an entry: a product file, or a bitmap through
// its temporary file.
struct CompressJob {
    std::string source, entry, shownName;
    int64_t size;
};

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

// File1.. for the product files, then the decorative bitmaps, as the
// script's checks read them. The compressor reads files only: each bitmap
// goes through a temporary file of our own.
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

// The source still has the size it was planned with after it was read: a
// file that grew or was replaced meanwhile would be packed cut short or
// mixed. False with plan.failure set.
static bool sourceKept(BuildPlan& plan, const CompressJob& job)
{
    std::string reason;
    int64_t now = regularFileSize(job.source, reason);
    if (now == job.size)
        return true;
    plan.failure = job.source + ": changed while it was read (" + std::to_string(job.size) + " bytes before, " +
                   (now < 0 ? reason : std::to_string(now) + " bytes after)") + "; nothing written";
    return false;
}

// One after another in this process, each compressed as it is read.
static bool compressInTurn(BuildPlan& plan, const std::vector<CompressJob>& jobs)
{
    for (const CompressJob& job : jobs) {
        followNextTransfer();
        int32_t before = fileTell(packageWriterHandle());
        if (!addFile(job.source.c_str(), job.entry.c_str(), XFER_COMPRESS)) {
            plan.failure = job.source + ": could not be read and compressed: " + packageReason();
            return false;
        }
        if (!sourceKept(plan, job))
            return false;
        progressFileDone(job.size);
        plan.added.push_back({job.shownName, job.entry, job.size, fileTell(packageWriterHandle()) - before});
    }
    return true;
}

int compressWorker(const char* source, const char* sizeText, const char* temp)
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

// The worker pool's state: which job each running worker compresses, which
// temporary files are finished, and how far the package has been appended.
struct Pool {
    std::vector<size_t> order;        // jobs, largest first
    std::vector<std::string> temp;    // by job
    std::vector<char> finished;       // by job: compressed, not yet appended
    std::vector<Worker> running;
    std::vector<size_t> runningJob;   // beside running: the job each one compresses
    size_t started, appended;
};

static bool startWorkers(BuildPlan& plan, const std::vector<CompressJob>& jobs, Pool& pool, int workers)
{
    while (pool.started < pool.order.size() && pool.running.size() < (size_t)workers) {
        size_t j = pool.order[pool.started++];
        pool.temp[j] = plan.tempBase + "." + jobs[j].entry + ".part";
        std::string reason;
        Worker w = startWorker({WORKER_COMMAND, jobs[j].source, std::to_string(jobs[j].size), pool.temp[j]}, reason);
        if (w == NO_WORKER) {
            plan.failure = jobs[j].source + ": " + reason;
            return false;
        }
        pool.running.push_back(w);
        pool.runningJob.push_back(j);
    }
    return true;
}

// Appends the finished jobs that are next in the list's order.
static bool appendFinished(BuildPlan& plan, const std::vector<CompressJob>& jobs, Pool& pool)
{
    bool ok = true;
    for (; ok && pool.appended < jobs.size() && pool.finished[pool.appended]; pool.appended++) {
        const CompressJob& job = jobs[pool.appended];
        int32_t before = fileTell(packageWriterHandle());
        if (!addPrecompressed(pool.temp[pool.appended].c_str(), job.entry.c_str(), (int32_t)job.size)) {
            plan.failure = plan.temp + ": cannot add " + job.entry + ": " + packageReason();
            ok = false;
        } else {
            plan.added.push_back({job.shownName, job.entry, job.size, fileTell(packageWriterHandle()) - before});
        }
        fileDelete(pool.temp[pool.appended].c_str());
        pool.finished[pool.appended] = 0;
    }
    return ok;
}

// Waits for one worker; on success its job is finished and what can be
// appended in order is.
static bool collectWorker(BuildPlan& plan, const std::vector<CompressJob>& jobs, Pool& pool)
{
    size_t which = 0;
    int status = waitAnyWorker(pool.running, which);
    size_t j = pool.runningJob[which];
    pool.runningJob.erase(pool.runningJob.begin() + (long)which);
    if (status != WORKER_OK) {
        // The worker named the source and the reason; one that died without a word is named here.
        plan.failure = status < 0 ? jobs[j].source + ": the worker compressing it ended abnormally" : "";
        if (status != WORKER_NO_TEMPORARY)
            fileDelete(pool.temp[j].c_str());
        return false;
    }
    if (!sourceKept(plan, jobs[j])) {
        fileDelete(pool.temp[j].c_str());
        return false;
    }
    pool.finished[j] = 1;
    progressFileDone(jobs[j].size);
    return appendFinished(plan, jobs, pool);
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
    Pool pool;
    pool.order.resize(jobs.size());
    for (size_t i = 0; i < jobs.size(); i++)
        pool.order[i] = i;
    std::stable_sort(pool.order.begin(), pool.order.end(), [&](size_t a, size_t b) { return jobs[a].size > jobs[b].size; });
    pool.temp.resize(jobs.size());
    pool.finished.assign(jobs.size(), 0);
    pool.started = pool.appended = 0;
    bool ok = true;
    while (ok && pool.appended < jobs.size()) {
        ok = startWorkers(plan, jobs, pool, workers);
        if (!ok || pool.running.empty())
            break;
        ok = collectWorker(plan, jobs, pool);
    }
    for (size_t i = 0; i < pool.running.size(); i++)
        if (waitWorker(pool.running[i]) != WORKER_NO_TEMPORARY)
            fileDelete(pool.temp[pool.runningJob[i]].c_str());
    for (size_t j = 0; j < jobs.size(); j++)
        if (pool.finished[j])
            fileDelete(pool.temp[j].c_str());
    return ok;
}

bool addCompressedEntries(BuildPlan& plan, int workers)
{
    std::vector<CompressJob> jobs;
    if (!listCompressJobs(plan, jobs))
        return false;
    return workers <= 1 ? compressInTurn(plan, jobs) : compressByWorkers(plan, jobs, workers);
}
