// removal.cpp - removing an installed product.
#include "install/removal.h"

#include <windows.h>

#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/textformat.h"
#include "app/setuptext.h"
#include "app/wintext.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "install/runningcopy.h"
#include "install/shell.h"

// The extension (a dot and three letters) of name, or "" for a shorter name.
static const char* extensionOf(const char* name)
{
    int length = lstrlenA(name);
    return length >= 4 ? name + length - 4 : "";
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
        char* extension = (char*)extensionOf(path);
        if (findNoCase(extension, ".hlp") == 1) {
            // The help index files that WinHelp writes next to the help file.
            lstrcpyA(extension, ".gid");
            fileDelete(path);
            lstrcpyA(extension, ".fts");
            fileDelete(path);
        }
    }
    // Only empty folders go; files the user added keep theirs.
    if (formatText(path, sizeof path, "%s\\Samples", installDir) > 0)
        removeFolder(path);
    removeFolder(installDir);

    // The same shortcut names as the install made them, file for file.
    const char* product = setupText.productName;
    for (int index = 0; index < count; index++) {
        const char* format = shortcutNameFormat(fileNameAt(index), index, setupText.uninstallShortcutFormat);
        if (format)
            removeShortcut(product, format, 0);
    }
    // Without a product name the key would be the whole list of programs.
    char key[KEY_PATH_SIZE];
    wchar_t wideKey[KEY_PATH_SIZE];
    if (product[0] && formUninstallKey(key) && utf8ToWide(key, wideKey, KEY_PATH_SIZE) >= 0)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, wideKey);
    if (setupText.startupArguments[0] != '|')
        removeShortcut(product, "%s", 1);
    return left;
}
