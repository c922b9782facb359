// shell.cpp - shortcuts through the shell's link object, and the uninstall entry.
#include "install/shell.h"

#include <shlobj.h>

#include "app/setupstate.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "resources/versionfields.h"

int useUninstallIcon;

// The link object's class and the two interfaces used on it; declared here
// so the program needs no import library for three GUIDs.
static const GUID clsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidShellLinkW = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID iidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

enum {
    // A name of at most 31 bytes in its code page, in UTF-8.
    SHORTCUT_NAME_SIZE = UTF8_BYTES_FOR_CODE_PAGE(31),
    SHORTCUT_PATH_SIZE = UTF8_BYTES_FOR_WIDE(MAX_PATH - 1)   // any path the system takes, in UTF-8
};

// The two sets of Start Menu and Startup folders shortcuts may lie in.
enum { SHORTCUTS_ALL_USERS, SHORTCUTS_USER };

int readFolderValue(HKEY root, const char* subkey, const char* valueName, char* path, DWORD capacity)
{
    path[0] = 0;
    HKEY key;
    wchar_t wideKey[MAX_PATH], wideName[MAX_PATH], value[MAX_PATH + 1], expanded[MAX_PATH];
    if (utf8ToWide(subkey, wideKey, MAX_PATH) < 0 || utf8ToWide(valueName, wideName, MAX_PATH) < 0 ||
        RegOpenKeyExW(root, wideKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, size = MAX_PATH * sizeof value[0];
    LONG status = RegQueryValueExW(key, wideName, NULL, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return 0;
    value[size / sizeof value[0]] = 0;   // stored without NUL, perhaps
    const wchar_t* folder = value;
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
        if (length == 0 || length > MAX_PATH)
            return 0;
        folder = expanded;
    } else if (type != REG_SZ) {
        return 0;
    }
    // Only a whole path names a folder: "Programs", "C:Programs" or
    // "\\Programs" would be taken from wherever the program happens to run.
    int drive = ((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':' && folder[2] == L'\\';
    int network = folder[0] == L'\\' && folder[1] == L'\\' && folder[2] && folder[2] != L'\\';
    if (!drive && !network)
        return 0;
    return wideToUtf8(folder, path, (int)capacity) > 0;
}

// The user's "Programs" or "Startup" folder from the Shell Folders key.
static int readShellFolder(const char* valueName, char folder[SHORTCUT_PATH_SIZE])
{
    return readFolderValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           valueName, folder, SHORTCUT_PATH_SIZE);
}

// The machine's all-users Programs or Startup folder, from the shell. Looked
// up at run time: a system without the call (or without the folder) has none.
static int readAllUsersFolder(int startup, char folder[SHORTCUT_PATH_SIZE])
{
    typedef HRESULT(WINAPI * FolderFunction)(HWND, int, HANDLE, DWORD, LPWSTR);
    folder[0] = 0;
    HMODULE shell = loadSystemLibrary("SHELL32.DLL");
    FolderFunction getFolder =
        shell ? (FolderFunction)(void (*)(void))GetProcAddress(shell, "SHGetFolderPathW") : NULL;
    wchar_t wide[MAX_PATH];
    // S_FALSE (the folder does not exist) counts as none, as every failure.
    if (!getFolder || getFolder(NULL, startup ? CSIDL_COMMON_STARTUP : CSIDL_COMMON_PROGRAMS, NULL,
                                SHGFP_TYPE_CURRENT, wide) != S_OK)
        return 0;
    return wideToUtf8(wide, folder, SHORTCUT_PATH_SIZE) > 0;
}

// The folder of a place's Programs (startup 0) or Startup folder.
static int shortcutFolder(int place, int startup, char folder[SHORTCUT_PATH_SIZE])
{
    if (place == SHORTCUTS_ALL_USERS)
        return readAllUsersFolder(startup, folder);
    return readShellFolder(startup ? "Startup" : "Programs", folder);
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

// The shortcut's name and its full path under the Programs or Startup folder
// that path holds; groupEnd and subfolderEnd say where the group folder and
// the subfolder end in the path (0 for Startup, and subfolderEnd 0 when there
// is no subfolder). Returns 1, or 0 when the path would not fit.
static int formShortcutPath(const char* nameArgument, const char* nameFormat, int startup,
                            char name[SHORTCUT_NAME_SIZE], char path[SHORTCUT_PATH_SIZE], int* groupEnd,
                            int* subfolderEnd)
{
    *groupEnd = *subfolderEnd = 0;
    // A name longer than the builder lets through is cut, the same way each time.
    formatWithName(name, SHORTCUT_NAME_SIZE, nameFormat, nameArgument);
    makeFileName(name);
    if (!name[0] || !path[0])
        return 0;
    // Without a group name the shortcuts lie in the Programs folder itself,
    // which is never created or removed here.
    if (!startup && setupText.installFolderName[0]) {
        if (appendText(path, SHORTCUT_PATH_SIZE, "\\") < 0 ||
            (*groupEnd = appendText(path, SHORTCUT_PATH_SIZE, setupText.installFolderName)) < 0)
            return 0;
    }
    if (!startup && setupText.startMenuSubfolder[0]) {
        if (appendText(path, SHORTCUT_PATH_SIZE, "\\") < 0 ||
            (*subfolderEnd = appendText(path, SHORTCUT_PATH_SIZE, setupText.startMenuSubfolder)) < 0)
            return 0;
    }
    return appendText(path, SHORTCUT_PATH_SIZE, "\\") >= 0 && appendText(path, SHORTCUT_PATH_SIZE, name) >= 0 &&
           appendText(path, SHORTCUT_PATH_SIZE, ".lnk") >= 0;
}

// Creates (or removes) the folder that the path names up to end.
static void folderUpTo(char* path, int end, int create)
{
    if (end <= 0)
        return;
    char kept = path[end];
    path[end] = 0;
    if (create)
        createFolder(path);
    else
        removeFolder(path);
    path[end] = kept;
}

int createShortcut(const char* target, const char* nameArgument, const char* nameFormat,
                   const char* arguments, int startup)
{
    char name[SHORTCUT_NAME_SIZE];
    char path[SHORTCUT_PATH_SIZE];
    int groupEnd, subfolderEnd;
    int result = 0;
    // A per-machine install: every account's Start Menu shows the product.
    // Only where the system has no all-users folder, the installing user's.
    if (!shortcutFolder(SHORTCUTS_ALL_USERS, startup, path))
        shortcutFolder(SHORTCUTS_USER, startup, path);
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
    // A path that does not fit is no path.
    wchar_t wideTarget[MAX_PATH], wideLink[MAX_PATH], wideDescription[SHORTCUT_NAME_SIZE];
    wchar_t wideArguments[WIDE_UNITS_FOR_UTF8(sizeof setupText.startupArguments)];
    if (utf8ToWide(target, wideTarget, MAX_PATH) < 0 || utf8ToWide(linkPath, wideLink, MAX_PATH) < 0 ||
        utf8ToWide(description, wideDescription, SHORTCUT_NAME_SIZE) < 0 ||
        utf8ToWide(arguments ? arguments : "", wideArguments,
                   (int)(sizeof wideArguments / sizeof wideArguments[0])) < 0)
        status = E_INVALIDARG;
    IShellLinkW* link = NULL;
    if (SUCCEEDED(status))
        status = CoCreateInstance(clsidShellLink, NULL, CLSCTX_INPROC_SERVER, iidShellLinkW, (void**)&link);
    if (SUCCEEDED(status)) {
        link->SetPath(wideTarget);
        link->SetDescription(wideDescription);
        if (arguments)
            link->SetArguments(wideArguments);
        if (useUninstallIcon)
            link->SetIconLocation(wideTarget, 1);
        IPersistFile* file = NULL;
        status = link->QueryInterface(iidPersistFile, (void**)&file);
        if (SUCCEEDED(status)) {
            status = file->Save(wideLink, TRUE);
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return status;
}

int removeShortcut(const char* nameArgument, const char* nameFormat, int startup, char* leftovers, int capacity)
{
    int stayed = 0;
    // Both places: an install made before shortcuts went to all users, or
    // one without the all-users folder, left them in the user's.
    static const int places[] = {SHORTCUTS_ALL_USERS, SHORTCUTS_USER};
    for (int place : places) {
        char name[SHORTCUT_NAME_SIZE];
        char path[SHORTCUT_PATH_SIZE];
        int groupEnd, subfolderEnd;
        if (shortcutFolder(place, startup, path) &&
            formShortcutPath(nameArgument, nameFormat, startup, name, path, &groupEnd, &subfolderEnd)) {
            if (!fileDelete(path) && pathAttributes(path) != INVALID_FILE_ATTRIBUTES) {
                stayed++;
                appendLine(leftovers, capacity, path);
            }
            // Only empty folders go: the group disappears with its last shortcut.
            folderUpTo(path, subfolderEnd, 0);
            folderUpTo(path, groupEnd, 0);
        }
    }
    return stayed;
}

int formUninstallKey(char key[UNINSTALL_KEY_SIZE])
{
    return formatText(key, UNINSTALL_KEY_SIZE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\%s",
                      setupText.productName) > 0;
}

// One value of type under HKEY_LOCAL_MACHINE\subkey. 1 when it was stored.
static int setMachineValue(const char* subkey, const char* valueName, DWORD type, const void* data, DWORD size)
{
    wchar_t wideKey[UNINSTALL_KEY_SIZE], wideName[MAX_PATH];
    HKEY key;
    if (utf8ToWide(subkey, wideKey, UNINSTALL_KEY_SIZE) < 0 || utf8ToWide(valueName, wideName, MAX_PATH) < 0 ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, wideKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExW(key, wideName, 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int setMachineString(const char* subkey, const char* valueName, const char* text)
{
    wchar_t wide[WIDE_UNITS_FOR_UTF8(SHORTCUT_PATH_SIZE)];
    int units = utf8ToWide(text, wide, (int)(sizeof wide / sizeof wide[0]));
    return units >= 0 && setMachineValue(subkey, valueName, REG_SZ, wide, (DWORD)(units + 1) * sizeof wide[0]);
}

int setMachineDword(const char* subkey, const char* valueName, DWORD value)
{
    return setMachineValue(subkey, valueName, REG_DWORD, &value, sizeof value);
}

enum { KEY_TREE_DEPTH = 16 };   // deeper keys than any list of programs holds stay

// Deletes the key and everything below it: RegDeleteKey alone refuses a key
// that has subkeys. Returns 1 when the key is gone.
static int deleteKeyTree(HKEY parent, const wchar_t* name, int depth)
{
    HKEY key;
    if (RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS | DELETE, &key) == ERROR_SUCCESS) {
        wchar_t subkey[256];   // the longest key name the registry takes, and its NUL
        DWORD length = 256;
        while (depth < KEY_TREE_DEPTH && RegEnumKeyExW(key, 0, subkey, &length, NULL, NULL, NULL, NULL) ==
                                             ERROR_SUCCESS &&
               deleteKeyTree(key, subkey, depth + 1))
            length = 256;
        RegCloseKey(key);
    }
    LONG status = RegDeleteKeyW(parent, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

int removeUninstallEntry(void)
{
    char key[UNINSTALL_KEY_SIZE];
    wchar_t wideKey[UNINSTALL_KEY_SIZE];
    // Without a product name the key would be the whole list of programs.
    if (!setupText.productName[0] || !formUninstallKey(key) || utf8ToWide(key, wideKey, UNINSTALL_KEY_SIZE) < 0)
        return 0;
    return deleteKeyTree(HKEY_LOCAL_MACHINE, wideKey, 0);
}

static_assert(sizeof VERSION_COMPANY_PLACEHOLDER == VERSION_TEXT_UNITS, "the publisher field is VERSION_TEXT_UNITS wide");

// ---- the version resource ----
//
// A node of VS_VERSIONINFO: 16-bit length (bytes, the node with its
// children), value length, type, the key in UTF-16 with its NUL, then the
// value at the next multiple of 4 from the resource's start. Nodes start at
// multiples of 4. The builder reads the fields back by their keys the same way.

static unsigned versionWord(const uint8_t* at)
{
    return at[0] | (unsigned)at[1] << 8;
}

int versionText(const void* resource, uint32_t size, const char* key, char* text, int capacity)
{
    text[0] = 0;
    const uint8_t* data = (const uint8_t*)resource;
    uint32_t keyUnits = (uint32_t)lstrlenA(key) + 1;
    for (uint32_t node = 0; node + 6 + 2 * keyUnits <= size; node += 4) {
        uint32_t unit = 0;
        while (unit < keyUnits && versionWord(data + node + 6 + 2 * unit) == (unsigned char)key[unit])
            unit++;   // key's NUL included
        if (unit < keyUnits)
            continue;
        // The text ends at its NUL (a field the builder wrote is padded with
        // NULs), or at the node's end; a node that claims more than the
        // resource holds is damaged.
        uint32_t length = versionWord(data + node), end = node + length;
        if (length > size - node)
            return 0;
        wchar_t wide[VERSION_TEXT_UNITS];
        int units = 0;
        for (uint32_t at = (node + 6 + 2 * keyUnits + 3) & ~3u; at + 2 <= end && versionWord(data + at); at += 2) {
            if (units == VERSION_TEXT_UNITS - 1)
                return 0;
            wide[units++] = (wchar_t)versionWord(data + at);
        }
        wide[units] = 0;
        return units > 0 && wideToUtf8(wide, text, capacity) > 0;
    }
    return 0;
}

// The publisher the builder wrote into the program's own version resource
// (read as a resource: version.dll is not loaded for it). "" when there is
// none. (A stub no builder has filled in carries no package, so it never
// gets this far.)
static void readPublisher(char text[PUBLISHER_SIZE])
{
    text[0] = 0;
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
    const void* data = loaded ? LockResource(loaded) : NULL;
    if (data)
        versionText(data, SizeofResource(NULL, found), VERSION_COMPANY_KEY, text, PUBLISHER_SIZE);
}

int writeUninstallEntry(uint32_t installedKilobytes)
{
    char key[UNINSTALL_KEY_SIZE];
    // Written fresh: values an earlier entry had and this one does not
    // (SystemComponent would hide the product from the list) go first.
    if (!removeUninstallEntry() || !formUninstallKey(key))
        return 0;
    setMachineString(key, "DisplayName", setupText.productName);
    // Quoted: with a space in the folder an unquoted path could start C:\Program.exe.
    char text[sizeof installDir + SETUP_TEXT_SIZE(fileNames) + 8];
    int result = 0;
    if (formatText(text, sizeof text, "\"%s\\%s\"", installDir, setupText.fileNames) > 0)
        result = setMachineString(key, "UninstallString", text);
    if (formatText(text, sizeof text, "%s\\%s,1", installDir, setupText.fileNames) > 0)
        setMachineString(key, "DisplayIcon", text);
    setMachineString(key, "DisplayVersion", setupText.productVersion);
    setMachineString(key, "InstallLocation", installDir);
    setMachineDword(key, "EstimatedSize", installedKilobytes);
    setMachineDword(key, "NoModify", 1);
    setMachineDword(key, "NoRepair", 1);
    // A setup without a publisher names none.
    char publisher[PUBLISHER_SIZE];
    readPublisher(publisher);
    if (publisher[0])
        setMachineString(key, "Publisher", publisher);
    return result;
}
