// workers.cpp - starting and waiting for copies of this program.
#include "workers.h"

#include "coding/fileio.h"
#include "userfiles.h"

#ifdef _WIN32
#include <windows.h>

// One argument as the C runtime's parser reads it back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
static void appendQuoted(std::string& line, const std::string& arg)
{
    line += '"';
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        line.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        line += c;
    }
    line.append(slashes * 2, '\\');
    line += '"';
}

// The arguments are UTF-8 and reach the worker whole through the wide
// command line, whatever the system's code page.
Worker startWorker(const std::vector<std::string>& args, std::string& error)
{
    wchar_t self[32768];
    DWORD length = GetModuleFileNameW(NULL, self, sizeof self / sizeof self[0]);
    if (length == 0 || length >= sizeof self / sizeof self[0]) {
        error = "cannot find this program's own file";
        return NO_WORKER;
    }
    std::string line = "\"mksetup\"";   // argv[0]; the program is named by its path
    for (const std::string& a : args) {
        line += ' ';
        appendQuoted(line, a);
    }
    std::wstring writable = widePath(line);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(self, &writable[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        error = "cannot start a worker: " + lastSystemError();
        return NO_WORKER;
    }
    CloseHandle(process.hThread);
    return (Worker)process.hProcess;
}

int waitWorker(Worker worker)
{
    HANDLE process = (HANDLE)worker;
    DWORD code = 0;
    int result = -1;
    if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
        result = (int)code;
    CloseHandle(process);
    return result;
}

int waitAnyWorker(std::vector<Worker>& running, size_t& which)
{
    HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
    size_t n = running.size() < MAXIMUM_WAIT_OBJECTS ? running.size() : MAXIMUM_WAIT_OBJECTS;
    for (size_t i = 0; i < n; i++)
        handles[i] = (HANDLE)running[i];
    DWORD got = WaitForMultipleObjects((DWORD)n, handles, FALSE, INFINITE);
    // A failed wait leaves no way to tell which ended: take the first, and wait for it alone.
    which = got >= WAIT_OBJECT_0 && got < WAIT_OBJECT_0 + n ? got - WAIT_OBJECT_0 : 0;
    Worker done = running[which];
    running.erase(running.begin() + (long)which);
    return waitWorker(done);
}

int processorCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? (int)info.dwNumberOfProcessors : 1;
}

#else
#include <errno.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Worker startWorker(const std::vector<std::string>& args, std::string& error)
{
    char self[4096];
    if (!getModulePath(self, sizeof self)) {
        error = "cannot find this program's own file";
        return NO_WORKER;
    }
    std::vector<char*> argv;
    argv.push_back(self);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int code = posix_spawn(&pid, self, nullptr, nullptr, argv.data(), environ);
    if (code != 0) {
        error = std::string("cannot start a worker: ") + strerror(code);
        return NO_WORKER;
    }
    return (Worker)pid;
}

int waitWorker(Worker worker)
{
    int status = 0;
    pid_t got;
    do
        got = waitpid((pid_t)worker, &status, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int waitAnyWorker(std::vector<Worker>& running, size_t& which)
{
    for (;;) {
        int status = 0;
        pid_t got = waitpid(-1, &status, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {   // no child left to wait for: the first one is gone without a status
            which = 0;
            running.erase(running.begin());
            return -1;
        }
        for (size_t i = 0; i < running.size(); i++)
            if ((pid_t)running[i] == got) {
                which = i;
                running.erase(running.begin() + (long)i);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        // a child that is not one of these workers: not ours to report
    }
}

int processorCount()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}
#endif
