// keptfiles.cpp - the previous installation's files, kept aside during a run.
#include "install/keptfiles.h"

#include <windows.h>

#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "coding/fileio.h"
#include "coding/widetext.h"

// The kept copy of each installed file (UTF-8), "" when none was kept.
static char keptPaths[MAX_SETUP_FILES][UTF8_BYTES_FOR_WIDE(MAX_PATH)];

// Deletes a file whatever its attributes. Returns non-zero when it went.
static BOOL deleteAnyFile(const char* path)
{
    setPathAttributes(path, FILE_ATTRIBUTE_NORMAL);
    return fileDelete(path);
}

int keepAside(int index, const char* path)
{
    char* kept = keptPaths[index];
    kept[0] = 0;
    DWORD attributes = pathAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 1;
    // Only files are set aside: a folder of that name is the user's, and
    // stays where and as it is (the install stops on it).
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    char folder[UTF8_BYTES_FOR_WIDE(MAX_PATH)];
    wchar_t wideFolder[MAX_PATH], wideKept[MAX_PATH];
    if (formatText(folder, sizeof folder, "%s", path) < 0)
        return 0;
    cutAtLastBackslash(folder);
    // A new name that no one else holds: the system creates it empty, and
    // the old file replaces it.
    if (utf8ToWide(folder, wideFolder, MAX_PATH) < 0 || !GetTempFileNameW(wideFolder, L"~ts", 0, wideKept))
        return 0;
    if (wideToUtf8(wideKept, kept, sizeof keptPaths[index]) < 0) {
        DeleteFileW(wideKept);
        return 0;
    }
    if (fileRename(path, kept))
        return 1;
    fileDelete(kept);
    kept[0] = 0;
    return 0;
}

void restoreKept(int index, const char* path)
{
    deleteAnyFile(path);
    char* kept = keptPaths[index];
    if (kept[0])
        fileRename(kept, path);
    kept[0] = 0;
}

void discardKept(int count)
{
    for (int index = 0; index < count; index++) {
        char* kept = keptPaths[index];
        // An old program still running from its file cannot go now.
        wchar_t wide[MAX_PATH];
        if (kept[0] && !deleteAnyFile(kept) && utf8ToWide(kept, wide, MAX_PATH) >= 0)
            MoveFileExW(wide, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        kept[0] = 0;
    }
}
