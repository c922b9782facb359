// userfiles.h - how mksetup touches the user's files: sources are read only
// when they are regular files (asked without opening, so a FIFO never blocks),
// paths are UTF-8 (on Windows opened by the wide functions),
// the output is compared with every input by identity, new files are created
// exclusively under unpredictable names (never through a symlink) and renamed
// into place, and nothing that the user owns is deleted.
#ifndef MKSETUP_USERFILES_H
#define MKSETUP_USERFILES_H

#include <stdint.h>
#include <string>
#include <vector>

// Every function here refuses a path with a NUL byte in it (the system would
// take the part before it): no file, with the reason "the path holds a NUL byte".

// Identity of an existing file (device and file number), or none.
struct FileIdentity {
    uint64_t device, file;
    bool exists;
};
FileIdentity fileIdentity(const std::string& path);
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// The size of a regular file, or -1 with the reason in error (the system's
// text, or "not a regular file"). Never opens the file.
int64_t regularFileSize(const std::string& path, std::string& error);

// Reads a whole regular file of at most limit bytes (2 GB at most). A FIFO
// or device is refused without waiting on it. Returns false with the reason
// in error.
enum { READ_LIMIT = 0x7FFFFFFF };   // packages address their data with 32-bit offsets
bool readRegularFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                     size_t limit = READ_LIMIT);

// Whether a regular file that says it is empty is: a special file (those of
// /proc) says 0 and gives bytes when read. False with the reason in error
// when it gives any, or cannot be read.
bool readsEmpty(const std::string& path, std::string& error);

// True when this process may read the file; else false with the reason.
bool isReadable(const std::string& path, std::string& error);

// True when path itself is a symbolic link (or, on Windows, a reparse point).
bool isSymbolicLink(const std::string& path);
// True when path is an existing folder (symbolic links followed).
bool isFolder(const std::string& path);
// Creates one folder. Returns false with the system's reason in error.
bool makeFolder(const std::string& path, std::string& error);

// A file name part no other program can guess: 16 hex digits of system randomness.
std::string unpredictableTag();

// The folder part of a path ("." when it has none) and the name part.
std::string folderOf(const std::string& path);

// The system's text for the last failed call (errno / GetLastError).
std::string lastSystemError();

#ifdef _WIN32
// A UTF-8 path for the wide file functions.
std::wstring widePath(const std::string& path);
#endif

#endif
