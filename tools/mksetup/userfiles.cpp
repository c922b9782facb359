// userfiles.cpp - POSIX and Win32 sides of mksetup's file safety.
#ifdef _WIN32
#define _CRT_RAND_S   // rand_s: the system's random numbers; before any header
#endif
#include "userfiles.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <sys/types.h>
#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <direct.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

static const char* const nulInPath = "the path holds a NUL byte";

static bool hasNul(const std::string& path)
{
    return path.find('\0') != std::string::npos;
}

std::string lastSystemError()
{
    return strerror(errno);
}

#ifdef _WIN32

std::wstring widePath(const std::string& path)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), (int)path.size(), NULL, 0);
    std::wstring wide((size_t)(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, path.data(), (int)path.size(), &wide[0], n);
    return wide;
}

FileIdentity fileIdentity(const std::string& path)
{
    FileIdentity id = {0, 0, false};
    if (hasNul(path))
        return id;
    // No access asked: a file open elsewhere or a FIFO-like device still answers.
    HANDLE h = CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        id.device = info.dwVolumeSerialNumber;
        id.file = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        id.exists = true;
    }
    CloseHandle(h);
    return id;
}

int64_t regularFileSize(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return -1;
    }
    struct _stat64 info;
    if (_wstat64(widePath(path).c_str(), &info) != 0) {
        error = strerror(errno);
        return -1;
    }
    if (!(info.st_mode & _S_IFREG)) {
        error = "not a regular file";
        return -1;
    }
    return (int64_t)info.st_size;
}

bool isSymbolicLink(const std::string& path)
{
    if (hasNul(path))
        return false;
    DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool isFolder(const std::string& path)
{
    if (hasNul(path))
        return false;
    DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeFolder(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return false;
    }
    if (_wmkdir(widePath(path).c_str()) == 0)
        return true;
    error = strerror(errno);
    return false;
}

bool isReadable(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return false;
    }
    if (_waccess(widePath(path).c_str(), 4) == 0)
        return true;
    error = strerror(errno);
    return false;
}

std::string unpredictableTag()
{
    unsigned int a = 0, b = 0;
    if (rand_s(&a) != 0 || rand_s(&b) != 0) {   // never expected; still no fixed name
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        a ^= (unsigned int)t.LowPart;
        b ^= (unsigned int)GetCurrentProcessId();
    }
    char text[24];
    snprintf(text, sizeof text, "%08x%08x", a, b);
    return text;
}

#else

FileIdentity fileIdentity(const std::string& path)
{
    FileIdentity id = {0, 0, false};
    if (hasNul(path))
        return id;
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        id.device = (uint64_t)info.st_dev;
        id.file = (uint64_t)info.st_ino;
        id.exists = true;
    }
    return id;
}

int64_t regularFileSize(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return -1;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = strerror(errno);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return -1;
    }
    return (int64_t)info.st_size;
}

bool isReadable(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return false;
    }
    if (access(path.c_str(), R_OK) == 0)
        return true;
    error = strerror(errno);
    return false;
}

bool isSymbolicLink(const std::string& path)
{
    if (hasNul(path))
        return false;
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool isFolder(const std::string& path)
{
    if (hasNul(path))
        return false;
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeFolder(const std::string& path, std::string& error)
{
    if (hasNul(path)) {
        error = nulInPath;
        return false;
    }
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    error = strerror(errno);
    return false;
}

std::string unpredictableTag()
{
    uint8_t random[8] = {0};
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && read(fd, random, sizeof random) == (ssize_t)sizeof random;
    if (fd >= 0)
        close(fd);
    if (!ok) {   // never expected; still no fixed name
        struct timespec t;
        clock_gettime(CLOCK_REALTIME, &t);
        uint64_t mix = (uint64_t)t.tv_nsec * 0x9E3779B97F4A7C15ull ^ (uint64_t)getpid() << 32;
        memcpy(random, &mix, sizeof random);
    }
    char text[24];
    for (int i = 0; i < 8; i++)
        snprintf(text + 2 * i, 3, "%02x", random[i]);
    return text;
}

#endif

bool sameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.exists && b.exists && a.device == b.device && a.file == b.file;
}

// Opens a regular file for reading, or -1 with the reason in error.
static int openRegularFile(const std::string& path, std::string& error)
{
#ifdef _WIN32
    if (regularFileSize(path, error) < 0)
        return -1;
    int fd = _wopen(widePath(path).c_str(), _O_RDONLY | _O_BINARY);
#else
    if (hasNul(path)) {
        error = nulInPath;
        return -1;
    }
    // O_NONBLOCK: opening a FIFO returns at once; fstat then refuses it.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
#endif
    if (fd < 0) {
        error = strerror(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !(info.st_mode & S_IFREG) || (info.st_mode & S_IFMT) != S_IFREG) {
        close(fd);
        error = "not a regular file";
        return -1;
    }
    return fd;
}

bool readRegularFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, size_t limit)
{
    bytes.clear();
    int fd = openRegularFile(path, error);
    if (fd < 0)
        return false;
    if (limit > READ_LIMIT)
        limit = READ_LIMIT;
    uint8_t buffer[65536];
    for (;;) {
        int n = (int)read(fd, buffer, sizeof buffer);
        if (n < 0) {
            error = strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        if (bytes.size() + (size_t)n > limit) {   // stops at the limit, whatever the file's size says
            close(fd);
            bytes.clear();
            error = limit == READ_LIMIT ? "larger than 2 GB" : "larger than " + std::to_string(limit >> 20) + " MB";
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    close(fd);
    return true;
}

bool readsEmpty(const std::string& path, std::string& error)
{
    int fd = openRegularFile(path, error);
    if (fd < 0)
        return false;
    uint8_t byte;
    int n = (int)read(fd, &byte, 1);
    if (n < 0)
        error = strerror(errno);
    else if (n > 0)
        error = "its size says 0 bytes, but reading it gives more (a special file); copy it into a regular file";
    close(fd);
    return n == 0;
}

std::string folderOf(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}
