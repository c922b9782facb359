// keptfiles.cpp - the previous installation's files, kept aside during a run.
#include "install/keptfiles.h"

#include <windows.h>

#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/textformat.h"

// The kept copy of each installed file, "" when none was kept.
static char keptPaths[MAX_SETUP_FILES][MAX_PATH];

// Deletes a file whatever its attributes. Returns non-zero when it went.
static BOOL deleteAnyFile(const char* path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path);
}

int keepAside(int index, const char* path)
{
    char* kept = keptPaths[index];
    kept[0] = 0;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return 1;
    char folder[MAX_PATH];
    if (formatText(folder, sizeof folder, "%s", path) < 0)
        return 0;
    cutAtLastBackslash(folder);
    // A new name that no one else holds: the system creates it empty, and
    // the old file replaces it.
    if (!GetTempFileNameA(folder, "~ts", 0, kept))
        return 0;
    if (MoveFileExA(path, kept, MOVEFILE_REPLACE_EXISTING))
        return 1;
    DeleteFileA(kept);
    kept[0] = 0;
    return 0;
}

void restoreKept(int index, const char* path)
{
    deleteAnyFile(path);
    char* kept = keptPaths[index];
    if (kept[0])
        MoveFileExA(kept, path, MOVEFILE_REPLACE_EXISTING);
    kept[0] = 0;
}

void discardKept(int count)
{
    for (int index = 0; index < count; index++) {
        char* kept = keptPaths[index];
        // An old program still running from its file cannot go now.
        if (kept[0] && !deleteAnyFile(kept))
            MoveFileExA(kept, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        kept[0] = 0;
    }
}
