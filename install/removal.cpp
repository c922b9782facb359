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
#include "package/package.h"

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

// Whether folder (UTF-8, no trailing backslash) holds the product's main
// program (installed file 1) as a file.
static int holdsProduct(const char* folder)
{
    char path[FILE_PATH_SIZE];
    if (formatText(path, sizeof path, "%s\\%s", folder, fileNameAt(1)) < 0)
        return 0;
    DWORD attributes = pathAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int uninstallRefusal(void)
{
    setInstallDirFromModule();
    // A composed uninstaller carries the program and the bitmaps only; a
    // package with the product's files is a setup that was given an
    // "uninst" name, wherever it lies (a download folder, say).
    char entry[16];
    formatText(entry, sizeof entry, FILE_ENTRY_FORMAT, 1);
    FileHandle own = openPackage(NULL);
    int isSetup = own != INVALID_FILE && getExtractedSize(entry) >= 0;
    closePackage(own);
    if (isSetup)
        return REFUSED_SETUP;
    if (!installDir[0] || !isPlainFileName(fileNameAt(1)) || !holdsProduct(installDir))
        return REFUSED_NO_INSTALLATION;
    return 0;
}

// The uninstall entry and the shortcuts belong to the installation the
// entry names: this one, or one moved or gone (its folder no longer holds
// the product). A copy of the uninstaller beside another installation of
// the product leaves them to it.
static int ownsRegistration(void)
{
    char key[UNINSTALL_KEY_SIZE], location[UTF8_BYTES_FOR_WIDE(MAX_PATH)];
    wchar_t wideLocation[MAX_PATH], wideDir[MAX_PATH];
    if (!formUninstallKey(key) ||
        !readFolderValue(HKEY_LOCAL_MACHINE, key, "InstallLocation", location, sizeof location))
        return 1;
    if (utf8ToWide(location, wideLocation, MAX_PATH) >= 0 && utf8ToWide(installDir, wideDir, MAX_PATH) >= 0 &&
        lstrcmpiW(wideLocation, wideDir) == 0)
        return 1;
    return !holdsProduct(location);
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
            appendLine(leftovers, capacity, path);   // cut when full: the count still tells
        }
        if (endsWithNoCase(path, HELP_EXTENSION))
            deleteHelpIndexes(path);
    }
    removeEmptyInstallFolders();
    if (!ownsRegistration())
        return left;

    // The same shortcut names as the install made them, file for file.
    const char* product = setupText.productName;
    for (int index = 0; index < count; index++) {
        const char* format = shortcutNameFormat(fileNameAt(index), index, setupText.uninstallShortcutFormat);
        if (format)
            left += removeShortcut(product, format, 0, leftovers, capacity);
    }
    char key[UNINSTALL_KEY_SIZE];
    if (!removeUninstallEntry() && formUninstallKey(key)) {
        left++;   // the list of programs would still show the product
        appendText(leftovers, capacity, "HKEY_LOCAL_MACHINE\\");
        appendLine(leftovers, capacity, key);
    }
    if (setupText.startupArguments[0] != '|')
        left += removeShortcut(product, "%s", 1, leftovers, capacity);
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
