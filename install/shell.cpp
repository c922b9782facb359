// shell.cpp - shortcuts through the shell's link object, and the uninstall entry.
#include "install/shell.h"

#include <shlobj.h>

#include "app/setupstate.h"
#include "app/textformat.h"

int useUninstallIcon;

// The link object's class and the two interfaces used on it; declared here
// so the program needs no import library for three GUIDs.
static const GUID clsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

enum { SHORTCUT_NAME_SIZE = 32 };

int readFolderValue(HKEY root, const char* subkey, const char* valueName, char* path, DWORD capacity)
{
    path[0] = 0;
    if (capacity > MAX_PATH)
        capacity = MAX_PATH;
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    char value[MAX_PATH + 1];
    DWORD type = 0, size = capacity;
    LONG status = RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return 0;
    value[size <= capacity ? size : capacity] = 0;   // stored without NUL, perhaps
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsA(value, path, capacity);
        if (length == 0 || length > capacity)
            path[0] = 0;
    } else if (type != REG_SZ || formatText(path, (int)capacity, "%s", value) < 0) {
        path[0] = 0;
    }
    return path[0] != 0;
}

// The user's "Programs" or "Startup" folder from the Shell Folders key.
static int readShellFolder(const char* valueName, char folder[MAX_PATH])
{
    return readFolderValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           valueName, folder, MAX_PATH);
}

// The name as the shell's file system takes it: a character that would make
// it a path or an invalid name becomes "_".
static void makeFileName(char* name)
{
    for (; *name; name++) {
        const char* bad = "\\/:*?\"<>|";
        while (*bad && *bad != *name)
            bad++;
        if (*bad || (unsigned char)*name < 32)
            *name = '_';
    }
}

// The shortcut's name and its full path; groupEnd and subfolderEnd say where
// the group folder and the subfolder end in the path (0 for Startup, and
// subfolderEnd 0 when there is no subfolder). Returns 1, or 0 when the folder
// is unknown or the path would not fit.
static int formShortcutPath(const char* nameArgument, const char* nameFormat, int startup,
                            char name[SHORTCUT_NAME_SIZE], char path[MAX_PATH], int* groupEnd,
                            int* subfolderEnd)
{
    *groupEnd = *subfolderEnd = 0;
    // A name longer than 31 characters is cut there, the same way each time.
    formatWithName(name, SHORTCUT_NAME_SIZE, nameFormat, nameArgument);
    makeFileName(name);
    if (!name[0] || !readShellFolder(startup ? "Startup" : "Programs", path))
        return 0;
    // Without a group name the shortcuts lie in the Programs folder itself,
    // which is never created or removed here.
    if (!startup && setupConfig.installFolderName[0]) {
        if (appendText(path, MAX_PATH, "\\") < 0 ||
            (*groupEnd = appendText(path, MAX_PATH, setupConfig.installFolderName)) < 0)
            return 0;
    }
    if (!startup && setupConfig.startMenuSubfolder[0]) {
        if (appendText(path, MAX_PATH, "\\") < 0 ||
            (*subfolderEnd = appendText(path, MAX_PATH, setupConfig.startMenuSubfolder)) < 0)
            return 0;
    }
    return appendText(path, MAX_PATH, "\\") >= 0 && appendText(path, MAX_PATH, name) >= 0 &&
           appendText(path, MAX_PATH, ".lnk") >= 0;
}

// Creates (or removes) the folder that the path names up to end.
static void folderUpTo(char* path, int end, int create)
{
    if (end <= 0)
        return;
    char kept = path[end];
    path[end] = 0;
    if (create)
        CreateDirectoryA(path, NULL);
    else
        RemoveDirectoryA(path);
    path[end] = kept;
}

int createShortcut(const char* target, const char* nameArgument, const char* nameFormat,
                   const char* arguments, int startup)
{
    char name[SHORTCUT_NAME_SIZE];
    char path[MAX_PATH];
    int groupEnd, subfolderEnd;
    int result = 0;
    if (formShortcutPath(nameArgument, nameFormat, startup, name, path, &groupEnd, &subfolderEnd)) {
        if (arguments && !arguments[0])
            arguments = NULL;
        folderUpTo(path, groupEnd, 1);   // already there from the second shortcut on
        folderUpTo(path, subfolderEnd, 1);
        result = writeShellLink(target, path, name, arguments) >= 0;
    }
    useUninstallIcon = 0;
    return result;
}

HRESULT writeShellLink(const char* target, const char* linkPath, const char* description,
                       const char* arguments)
{
    HRESULT status = CoInitialize(NULL);
    if (FAILED(status))
        return status;
    IShellLinkA* link = NULL;
    status = CoCreateInstance(clsidShellLink, NULL, CLSCTX_INPROC_SERVER, iidShellLinkA, (void**)&link);
    if (SUCCEEDED(status)) {
        link->SetPath(target);
        link->SetDescription(description);
        if (arguments)
            link->SetArguments(arguments);
        if (useUninstallIcon)
            link->SetIconLocation(target, 1);
        IPersistFile* file = NULL;
        status = link->QueryInterface(iidPersistFile, (void**)&file);
        if (SUCCEEDED(status)) {
            WCHAR widePath[MAX_PATH];
            if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) > 0)
                status = file->Save(widePath, TRUE);
            else
                status = E_INVALIDARG;   // a path that does not fit is no path
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return status;
}

int removeShortcut(const char* nameArgument, const char* nameFormat, int startup)
{
    char name[SHORTCUT_NAME_SIZE];
    char path[MAX_PATH];
    int groupEnd, subfolderEnd;
    if (formShortcutPath(nameArgument, nameFormat, startup, name, path, &groupEnd, &subfolderEnd)) {
        DeleteFileA(path);
        // Only empty folders go: the group disappears with its last shortcut.
        folderUpTo(path, subfolderEnd, 0);
        folderUpTo(path, groupEnd, 0);
    }
    return 1;
}

int formUninstallKey(char key[UNINSTALL_KEY_SIZE])
{
    return formatText(key, UNINSTALL_KEY_SIZE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\%s",
                      setupConfig.productName) > 0;
}

int setMachineString(const char* subkey, const char* valueName, const char* text)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)text, (DWORD)lstrlenA(text) + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int setMachineDword(const char* subkey, const char* valueName, DWORD value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExA(key, valueName, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int writeUninstallEntry(uint32_t installedKilobytes)
{
    char key[UNINSTALL_KEY_SIZE];
    if (!formUninstallKey(key))
        return 0;
    setMachineString(key, "DisplayName", setupConfig.productName);
    // Quoted: with a space in the folder an unquoted path could start C:\Program.exe.
    char text[MAX_PATH + 8];
    int result = 0;
    if (formatText(text, sizeof text, "\"%s\\%s\"", installDir, setupConfig.fileNames) > 0)
        result = setMachineString(key, "UninstallString", text);
    if (formatText(text, sizeof text, "%s\\%s,1", installDir, setupConfig.fileNames) > 0)
        setMachineString(key, "DisplayIcon", text);
    setMachineString(key, "DisplayVersion", setupConfig.productVersion);
    setMachineString(key, "InstallLocation", installDir);
    setMachineDword(key, "EstimatedSize", installedKilobytes);
    setMachineDword(key, "NoModify", 1);
    setMachineDword(key, "NoRepair", 1);
    return result;
}
