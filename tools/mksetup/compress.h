// compress.h - compressing the product files and the bitmaps into the
// package: in this process one after another, or by worker processes.
#ifndef MKSETUP_COMPRESS_H
#define MKSETUP_COMPRESS_H

#include "plan.h"

// The -j limit: a wait takes at most 64 processes at once (more would sit
// idle anyway: a package holds 31 records).
enum { MAX_WORKERS = 64 };

// The hidden command a build starts its workers with:
// mksetup --compress-worker SOURCE SIZE TEMP
#define WORKER_COMMAND "--compress-worker"

// Worker: compresses size bytes of source into a new file temp, which it
// creates exclusively and deletes again when it fails. It says why on stderr.
int compressWorker(const char* source, const char* sizeText, const char* temp);

// File1.. for the product files, then the bitmaps, into the open package
// in that order whatever workers is; every temporary file is gone after.
// False with plan.failure set (empty: a worker has said what failed).
bool addCompressedEntries(BuildPlan& plan, int workers);

#endif
