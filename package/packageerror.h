// packageerror.h - why the last operation of the package library failed: a
// reason kept beside the 0/1 results, so a tool can tell a missing file from
// a missing directory, a missing entry or a folder it cannot write to.
#ifndef PACKAGE_PACKAGEERROR_H
#define PACKAGE_PACKAGEERROR_H

enum PackageError {
    PACKAGE_OK = 0,
    PACKAGE_NO_SUCH_FILE,          // the package or a source file does not exist
    PACKAGE_CANNOT_OPEN,           // it exists but cannot be opened (a folder, no permission)
    PACKAGE_CANNOT_READ,           // reading it failed, or a source ended early
    PACKAGE_NO_DIRECTORY,          // no package directory at the end of the file
    PACKAGE_NOT_OPEN,              // no package open for reading, or none being written
    PACKAGE_NO_SUCH_ENTRY,         // no entry of that name and kind
    PACKAGE_DAMAGED_ENTRY,         // its data lies outside the package or does not decode
    PACKAGE_TOO_SMALL,             // the memory given cannot hold the entry
    PACKAGE_CANNOT_CREATE_TARGET,  // the output file cannot be created
    PACKAGE_OVERWRITE_REFUSED,     // the output file exists and the caller said no
    PACKAGE_CANNOT_WRITE,          // a write fell short (disk full?)
    PACKAGE_DIRECTORY_FULL,        // the package already has 31 records
    PACKAGE_TOO_LARGE,             // the package would pass 2 GB
    PACKAGE_PATCH_FAILED,          // no configuration marker, or the payload was cut
    PACKAGE_NO_COMPRESSION,        // compression is not available in this program
    PACKAGE_ABORTED,               // a hook aborted the transfer
    PACKAGE_STOPPED,               // an earlier failure set the stop latch
    PACKAGE_BAD_ARGUMENT,          // a null or too long path, a value as first record, ...
    PACKAGE_BAD_SIGNATURE,         // a certificate table is named but does not end the file
    PACKAGE_ERROR_COUNT
};

// The reason of the last failure; an operation that succeeds leaves it as it
// was. For PACKAGE_DAMAGED_ENTRY and the file errors, codingLastError() and
// fileLastSystemError() (coding/) tell more.
PackageError packageLastError(void);
// A short lower-case phrase ("no package directory found"); never null.
const char* packageErrorText(PackageError error);
// For the package library's own modules.
void setPackageError(PackageError error);

#endif
