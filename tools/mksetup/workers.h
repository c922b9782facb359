// workers.h - worker processes: this program started again with other
// arguments (POSIX: posix_spawn of its own file; Windows: CreateProcess of its
// module path), sharing its standard error. Used to compress several sources
// at once, since the encoder's state belongs to the process.
#ifndef MKSETUP_WORKERS_H
#define MKSETUP_WORKERS_H

#include <stdint.h>
#include <string>
#include <vector>

typedef intptr_t Worker;   // a process id, or a process handle on Windows
#define NO_WORKER ((Worker)-1)

// Starts this program with args (argv[1]...). NO_WORKER with the reason in error.
Worker startWorker(const std::vector<std::string>& args, std::string& error);

// Waits for the worker to end; its exit status, or -1 when it died otherwise.
int waitWorker(Worker worker);

// Waits for the first of the running workers (at most 64) to end and removes
// it from the list; its index before removal goes to which. Exit status as
// waitWorker's.
int waitAnyWorker(std::vector<Worker>& running, size_t& which);

// Processors available to this process, at least 1.
int processorCount();

#endif
