// fileio_posix.cpp - the file layer on POSIX descriptors.
#include "coding/fileio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "coding/codingerror.h"

static int32_t lastSystemError;

// Keeps errno as the reason; returns the failure result given.
static int failed(int result)
{
    lastSystemError = errno;
    return result;
}

// An open or create failed: errno says why, the coding layer's code says what.
static FileHandle failedOpen(CodingError what)
{
    lastSystemError = errno;
    setCodingError(what == CODING_CANNOT_OPEN && (errno == ENOENT || errno == ENOTDIR)
                       ? CODING_NO_SUCH_FILE : what);
    return INVALID_FILE;
}

FileHandle fileOpenRead(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failedOpen(CODING_CANNOT_OPEN);
    struct stat info;
    int statFailed = fstat(fd, &info) != 0;
    if (statFailed || S_ISDIR(info.st_mode)) {   // a folder is no file
        if (!statFailed)
            errno = EISDIR;
        failedOpen(CODING_CANNOT_OPEN);
        close(fd);
        return INVALID_FILE;
    }
    return (FileHandle)fd;
}

FileHandle fileCreate(const char* path, int exclusive, int* alreadyExists)
{
    if (alreadyExists)
        *alreadyExists = 0;
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (exclusive ? O_EXCL : 0);
    int fd = open(path, flags, 0644);
    if (fd < 0) {
        if (exclusive && errno == EEXIST && alreadyExists)
            *alreadyExists = 1;
        return failedOpen(CODING_CANNOT_CREATE);
    }
    return (FileHandle)fd;
}

int32_t fileRead(FileHandle file, void* buffer, int32_t count)
{
    if (file == INVALID_FILE || count <= 0)
        return 0;
    int32_t done = 0;
    while (done < count) {   // a pipe or signal may deliver less than asked
        ssize_t n = read((int)file, (char*)buffer + done, (size_t)(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed(0);
        if (n <= 0)
            break;
        done += (int32_t)n;
    }
    return done;
}

int32_t fileWrite(FileHandle file, const void* buffer, int32_t count)
{
    if (file == INVALID_FILE || count <= 0)
        return 0;
    int32_t done = 0;
    while (done < count) {
        ssize_t n = write((int)file, (const char*)buffer + done, (size_t)(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed(0);
        if (n <= 0)
            break;
        done += (int32_t)n;
    }
    return done;
}

int fileSeek(FileHandle file, int32_t position)
{
    if (file == INVALID_FILE || position < 0)
        return 0;
    return lseek((int)file, (off_t)position, SEEK_SET) == (off_t)position;
}

int32_t fileTell(FileHandle file)
{
    if (file == INVALID_FILE)
        return -1;
    off_t at = lseek((int)file, 0, SEEK_CUR);
    return (at < 0 || at > INT32_MAX) ? -1 : (int32_t)at;
}

int32_t fileSize(FileHandle file)
{
    struct stat info;
    if (file == INVALID_FILE || fstat((int)file, &info) != 0 || info.st_size > INT32_MAX)
        return -1;
    return (int32_t)info.st_size;
}

void fileClose(FileHandle file)
{
    if (file != INVALID_FILE)
        close((int)file);
}

int fileDelete(const char* path)
{
    return unlink(path) == 0 || failed(0);
}

int fileRename(const char* from, const char* to)
{
    return rename(from, to) == 0 || failed(0);
}

int getModulePath(char* buffer, int32_t capacity)
{
    if (capacity <= 0)
        return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, (size_t)capacity);
    if (n <= 0 || n >= capacity)   // readlink does not terminate; a full buffer may be cut
        return 0;
    buffer[n] = 0;
    return 1;
}

int32_t fileLastSystemError(void)
{
    return lastSystemError;
}

void fileSystemErrorText(int32_t code, char* buffer, int32_t capacity)
{
    if (!buffer || capacity <= 0)
        return;
    snprintf(buffer, (size_t)capacity, "%s", strerror((int)code));
}
