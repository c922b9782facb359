// removal.cpp - removing an installed product, and rolling back an install.
#include "install/removal.h"

#include <windows.h>

#include "app/filename.h"
#include "app/nocase.h"
#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/textformat.h"
#include "app/setuptext.h"
#include "app/wintext.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "install/keptfiles.h"
#include "install/runningcopy.h"
#include "install/shell.h"

// Only empty folders go: files the user added, or that were there before
// the install, keep theirs.
static void removeEmptyInstallFolders(void)
{
    char path[sizeof installDir];
    if (formFolderPath(path, sizeof path, SAMPLES_FIRST_INDEX))
        removeFolder(path);
    removeFolder(installDir);
}

// The help index files that WinHelp writes next to a help file at path.
static void deleteHelpIndexes(char* path)
{
    static const char* const indexExtensions[] = {".gid", ".fts"};
    char* extension = path + lstrlenA(path) - (sizeof HELP_EXTENSION - 1);
    for (const char* replacement : indexExtensions) {
        lstrcpyA(extension, replacement);
        fileDelete(path);
    }
}

int removeInstallation(char* leftovers, int capacity)
{
    int left = 0;
    leftovers[0] = 0;
    setInstallDirFromModule();
    if (!installDir[0])
        return 0;   // no folder known: nothing of ours can be named
    closeRunningInstance();
    int count = configFileCount();
    char path[sizeof installDir];
    for (int index = 0; index < count; index++) {
        // A name that would reach out of the folder is not ours to delete.
        if (!isPlainFileName(fileNameAt(index)) || !formInstalledPath(path, sizeof path, index))
            continue;
        // The running program's own file too, so the batch file can delete it.
        setPathAttributes(path, FILE_ATTRIBUTE_NORMAL);
        if (!fileDelete(path) && index > 0 && pathAttributes(path) != INVALID_FILE_ATTRIBUTES) {
            left++;
            appendText(leftovers, capacity, path);   // cut when full: the count still tells
            appendText(leftovers, capacity, "\n");
        }
        if (endsWithNoCase(path, HELP_EXTENSION))
            deleteHelpIndexes(path);
    }
    removeEmptyInstallFolders();

    // The same shortcut names as the install made them, file for file.
    const char* product = setupText.productName;
    for (int index = 0; index < count; index++) {
        const char* format = shortcutNameFormat(fileNameAt(index), index, setupText.uninstallShortcutFormat);
        if (format)
            removeShortcut(product, format, 0);
    }
    // Without a product name the key would be the whole list of programs.
    char key[UNINSTALL_KEY_SIZE];
    wchar_t wideKey[UNINSTALL_KEY_SIZE];
    if (product[0] && formUninstallKey(key) && utf8ToWide(key, wideKey, UNINSTALL_KEY_SIZE) >= 0)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, wideKey);
    if (setupText.startupArguments[0] != '|')
        removeShortcut(product, "%s", 1);
    return left;
}

void rollBackInstall(int count, void (*showFile)(const char* path))
{
    char path[sizeof installDir];
    // Last first: where a name came twice, the first run's copy is the old file.
    for (int index = count - 1; index >= 0; index--) {
        if (!formInstalledPath(path, sizeof path, index))
            continue;
        if (showFile)
            showFile(path);
        restoreKept(index, path);
    }
    removeEmptyInstallFolders();
}
