// fileio.h - the small file layer under the block stream and the package library.
// One POSIX and one Win32 implementation, chosen at build time; everything
// above this header is the same code on both. Paths and texts are UTF-8 on
// Windows (the wide functions take them), the bytes as they are on POSIX.
#ifndef CODING_FILEIO_H
#define CODING_FILEIO_H

#include <stdint.h>

// A file handle: a POSIX descriptor or a Win32 HANDLE, widened to a pointer-sized
// integer so one type serves both. INVALID_FILE is -1 on both (INVALID_HANDLE_VALUE).
typedef intptr_t FileHandle;
#define INVALID_FILE ((FileHandle)-1)

// Opens an existing file for reading; others may read and write it meanwhile.
// A failure sets CODING_NO_SUCH_FILE or CODING_CANNOT_OPEN (a folder included).
FileHandle fileOpenRead(const char* path);

// Creates a file for writing, not shared. exclusive = 0 replaces an existing
// file; exclusive != 0 fails when the file exists and then sets *alreadyExists
// to 1 (if given). Any other failure leaves *alreadyExists 0. A failure sets
// CODING_CANNOT_CREATE.
FileHandle fileCreate(const char* path, int exclusive, int* alreadyExists);

// Reads / writes up to count bytes at the current position. Returns the count
// moved: 0 at end of file or on failure (a failure is never negative).
int32_t fileRead(FileHandle file, void* buffer, int32_t count);
int32_t fileWrite(FileHandle file, const void* buffer, int32_t count);

// Moves to an absolute position. Returns 1, or 0 on failure (negative position included).
int fileSeek(FileHandle file, int32_t position);

// Current position, or -1.
int32_t fileTell(FileHandle file);

// Size in bytes, or -1 on failure or when the file is 2 GB or larger.
int32_t fileSize(FileHandle file);

// Closes a handle; the invalid handle is ignored.
void fileClose(FileHandle file);

// Deletes / renames (replacing the target) a file. Return 1 on success.
int fileDelete(const char* path);
int fileRename(const char* from, const char* to);

// The longest path the layer takes, in UTF-16 units without the terminator:
// well beyond the system's classic MAX_PATH, so a program started from a deep
// folder still opens itself. FILE_PATH_SIZE holds any such path in UTF-8.
// A plain number, so a message can quote it.
#define LONG_PATH_UNITS 1023
enum { FILE_PATH_SIZE = 3 * LONG_PATH_UNITS + 1 };

// The running program's own file (Win32: module file name; Linux: /proc/self/exe),
// NUL-terminated in buffer. Returns 1, or 0 when it does not fit or is unknown
// (a path too long counts as a failed file operation: fileLastSystemError).
int getModulePath(char* buffer, int32_t capacity);

// The system's code (errno, GetLastError) of the last file operation that
// failed, 0 before any failure; a success leaves it as it was.
int32_t fileLastSystemError(void);
// The system's text for such a code ("No such file or directory"),
// NUL-terminated and cut to fit capacity.
void fileSystemErrorText(int32_t code, char* buffer, int32_t capacity);

#endif
