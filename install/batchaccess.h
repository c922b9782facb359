// batchaccess.h - a file that only administrators and the system can have
// written: the uninstaller's batch file runs with an administrator's rights.
#ifndef INSTALL_BATCHACCESS_H
#define INSTALL_BATCHACCESS_H

#include <windows.h>

// The batch file's access list: users may read it, only administrators and
// the system may change it. Returns a descriptor to LocalFree, or null where
// the system has no access lists.
PSECURITY_DESCRIPTOR makeBatchAccess(void);

// Creates a new file at the UTF-8 path (never opens an existing one, never removes
// one) with that access list. Returns the handle for writing, or
// INVALID_HANDLE_VALUE when something is at path or the file cannot be made.
HANDLE createPrivateFile(const char* path);

#endif
