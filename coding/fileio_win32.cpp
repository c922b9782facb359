// fileio_win32.cpp - the file layer on Win32 handles. Paths are UTF-8 and
// reach the system through its wide functions, so a name with any
// characters opens, whatever the system's ANSI code page.
#include "coding/fileio.h"

#include <windows.h>

#include "coding/codingerror.h"
#include "coding/widetext.h"

enum { SYSTEM_TEXT_SIZE = 512 };

static int32_t lastSystemError;

// Keeps GetLastError as the reason; returns the failure result given.
static int failed(int result)
{
    lastSystemError = (int32_t)GetLastError();
    return result;
}

static void failedOpen(CodingError what)
{
    DWORD error = GetLastError();
    lastSystemError = (int32_t)error;
    setCodingError(what == CODING_CANNOT_OPEN &&
                           (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                       ? CODING_NO_SUCH_FILE : what);
}

static HANDLE asHandle(FileHandle file)
{
    return (HANDLE)file;
}

FileHandle fileOpenRead(const char* path)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    HANDLE h = !wide ? INVALID_HANDLE_VALUE
                     : CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        failedOpen(CODING_CANNOT_OPEN);
    return (FileHandle)h;
}

FileHandle fileCreate(const char* path, int exclusive, int* alreadyExists)
{
    if (alreadyExists)
        *alreadyExists = 0;
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    HANDLE h = !wide ? INVALID_HANDLE_VALUE
                     : CreateFileW(wide, GENERIC_WRITE, 0, NULL, exclusive ? CREATE_NEW : CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE && exclusive && alreadyExists) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            *alreadyExists = 1;
    }
    if (h == INVALID_HANDLE_VALUE)
        failedOpen(CODING_CANNOT_CREATE);
    return (FileHandle)h;
}

// Large transfers go in pieces; ReadFile on some handles refuses huge counts.
enum { IO_PIECE = 1 << 20 };

int32_t fileRead(FileHandle file, void* buffer, int32_t count)
{
    if (file == INVALID_FILE || count <= 0)
        return 0;
    int32_t done = 0;
    while (done < count) {
        DWORD want = (DWORD)(count - done < IO_PIECE ? count - done : IO_PIECE);
        DWORD got = 0;
        if (!ReadFile(asHandle(file), (char*)buffer + done, want, &got, NULL))
            failed(0);
        if (got == 0)
            break;
        done += (int32_t)got;
    }
    return done;
}

int32_t fileWrite(FileHandle file, const void* buffer, int32_t count)
{
    if (file == INVALID_FILE || count <= 0)
        return 0;
    int32_t done = 0;
    while (done < count) {
        DWORD want = (DWORD)(count - done < IO_PIECE ? count - done : IO_PIECE);
        DWORD put = 0;
        if (!WriteFile(asHandle(file), (const char*)buffer + done, want, &put, NULL))
            failed(0);
        if (put == 0)
            break;
        done += (int32_t)put;
    }
    return done;
}

int fileSeek(FileHandle file, int32_t position)
{
    if (file == INVALID_FILE || position < 0)
        return 0;
    return SetFilePointer(asHandle(file), position, NULL, FILE_BEGIN) == (DWORD)position;
}

int32_t fileTell(FileHandle file)
{
    if (file == INVALID_FILE)
        return -1;
    DWORD at = SetFilePointer(asHandle(file), 0, NULL, FILE_CURRENT);
    return (at == INVALID_SET_FILE_POINTER || at > 0x7FFFFFFFu) ? -1 : (int32_t)at;
}

int32_t fileSize(FileHandle file)
{
    if (file == INVALID_FILE)
        return -1;
    DWORD high = 0;
    DWORD low = GetFileSize(asHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return -1;
    if (high != 0 || low > 0x7FFFFFFFu)
        return -1;
    return (int32_t)low;
}

void fileClose(FileHandle file)
{
    if (file != INVALID_FILE)
        CloseHandle(asHandle(file));
}

int fileDelete(const char* path)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    return (wide && DeleteFileW(wide)) || failed(0);
}

int fileRename(const char* from, const char* to)
{
    wchar_t fromBuffer[SYSTEM_PATH_UNITS], toBuffer[SYSTEM_PATH_UNITS];
    const wchar_t* wideFrom = toSystemPath(from, fromBuffer);
    const wchar_t* wideTo = toSystemPath(to, toBuffer);
    return (wideFrom && wideTo && MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING)) || failed(0);
}

int getModulePath(char* buffer, int32_t capacity)
{
    if (capacity <= 0)
        return 0;
    wchar_t wide[LONG_PATH_UNITS + 1];
    DWORD n = GetModuleFileNameW(NULL, wide, LONG_PATH_UNITS + 1);
    if (n == 0 || n > LONG_PATH_UNITS || wideToUtf8(wide, buffer, capacity) < 0) {   // a cut path is no path
        if (n > LONG_PATH_UNITS)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        buffer[0] = 0;
        return failed(0);
    }
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
    wchar_t wide[SYSTEM_TEXT_SIZE];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)code, 0,
                                 wide, SYSTEM_TEXT_SIZE, NULL);
    int n = units == 0 || units >= SYSTEM_TEXT_SIZE ? -1 : wideToUtf8(wide, buffer, capacity);
    if (n < 0) {   // no text, or it did not fit
        const char unknown[] = "unknown system error";
        int32_t i = 0;
        for (; i < capacity - 1 && unknown[i]; i++)
            buffer[i] = unknown[i];
        buffer[i] = 0;
        return;
    }
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' ||
                     buffer[n - 1] == '.'))
        buffer[--n] = 0;   // the system's text ends with a full stop and a line break
}
