// system.cpp - reading back what a setup left: files and folders, shortcuts
// through the shell link object, registry values, and the composed uninstaller
// through the package library.
#include "driver.h"

#include "package/peimage.h"
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include "package/package.h"
#include "package/transfer.h"

const char* const uninstallKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall";

bool fileExists(const std::string& path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool readFile(const std::string& path, std::string* bytes)
{
    FILE* file = _wfopen(wide(path).c_str(), L"rb");
    if (!file)
        return false;
    bytes->clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, got);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = _wfopen(wide(path).c_str(), L"wb");
    if (!file)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool copyFile(const std::string& from, const std::string& to)
{
    if (CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE))
        return true;
    return fail("cannot copy %s to %s: error %lu", from.c_str(), to.c_str(), (unsigned long)GetLastError());
}

bool makeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryW(wide(path.substr(0, at)).c_str(), NULL);
    CreateDirectoryW(wide(path).c_str(), NULL);
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void walk(const std::string& root, const std::string& relative, bool filesOnly, std::vector<std::string>* out,
                 long long* bytes)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(root + relative + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
            continue;
        std::string path = relative + "\\" + utf8(found.cFileName);
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!folder || !filesOnly)
            out->push_back("." + path);
        if (folder)
            walk(root, path, filesOnly, out, bytes);
        else if (bytes)
            *bytes += (long long)found.nFileSizeHigh << 32 | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::vector<std::string> listTree(const std::string& root, bool filesOnly)
{
    std::vector<std::string> out;
    walk(root, "", filesOnly, &out, NULL);
    std::sort(out.begin(), out.end());
    return out;
}

long long treeSize(const std::string& root)
{
    std::vector<std::string> ignored;
    long long bytes = 0;
    walk(root, "", true, &ignored, &bytes);
    return bytes;
}

bool waitGone(const std::string& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (fileExists(path)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

bool readShortcut(const std::string& lnk, Shortcut* link)
{
    if (!fileExists(lnk))
        return fail("shortcut %s is missing", lnk.c_str());
    IShellLinkW* shell = NULL;
    IPersistFile* file = NULL;
    bool ok = false;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&shell);
    if (FAILED(status))
        fail("cannot create a shell link object: 0x%08lx", (unsigned long)status);
    else if (FAILED(status = shell->QueryInterface(IID_IPersistFile, (void**)&file)))
        fail("no IPersistFile: 0x%08lx", (unsigned long)status);
    else if (FAILED(status = file->Load(wide(lnk).c_str(), STGM_READ)))
        fail("cannot load %s: 0x%08lx", lnk.c_str(), (unsigned long)status);
    else {
        wchar_t path[MAX_PATH] = L"", arguments[1024] = L"", description[1024] = L"", icon[MAX_PATH] = L"";
        int iconIndex = 0;
        // The target as the shell resolves it: from the link's item list,
        // which names it in UTF-16. (Wine keeps the plain path of a link in
        // the system's code page only, so a name outside it reads as "?".)
        PIDLIST_ABSOLUTE items = NULL;
        if (FAILED(shell->GetIDList(&items)) || !items || !SHGetPathFromIDListW(items, path))
            shell->GetPath(path, MAX_PATH, NULL, SLGP_RAWPATH);
        CoTaskMemFree(items);
        shell->GetArguments(arguments, 1024);
        shell->GetDescription(description, 1024);
        shell->GetIconLocation(icon, MAX_PATH, &iconIndex);
        *link = {utf8(path), utf8(arguments), utf8(description), utf8(icon) + "," + std::to_string(iconIndex)};
        note("shortcut %s: path=%s arguments=%s description=%s icon=%s", lnk.c_str(), link->path.c_str(),
             link->arguments.c_str(), link->description.c_str(), link->icon.c_str());
        ok = true;
    }
    if (file)
        file->Release();
    if (shell)
        shell->Release();
    return ok;
}

// ---- registry ----

static bool openKey(const char* fullName, HKEY* key, REGSAM access = KEY_READ, bool create = false)
{
    static const struct {
        const char* name;
        HKEY root;
    } roots[] = {{"HKLM\\", HKEY_LOCAL_MACHINE}, {"HKCU\\", HKEY_CURRENT_USER}};
    for (const auto& root : roots) {
        size_t length = strlen(root.name);
        if (_strnicmp(fullName, root.name, length) == 0) {
            std::wstring name = wide(fullName + length);
            return (create ? RegCreateKeyExW(root.root, name.c_str(), 0, NULL, 0, access, NULL, key, NULL)
                           : RegOpenKeyExW(root.root, name.c_str(), 0, access, key)) == ERROR_SUCCESS;
        }
    }
    return false;
}

// A string value, read through the wide functions, must end with its NUL;
// one without it shows as "(no NUL)".
static std::string valueText(DWORD type, const std::vector<BYTE>& data, DWORD size)
{
    char number[48];
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::wstring text((const wchar_t*)data.data(), size / sizeof(wchar_t));
        bool terminated = !text.empty() && text.back() == 0;
        if (terminated)
            text.pop_back();
        return std::string(type == REG_SZ ? "REG_SZ " : "REG_EXPAND_SZ ") + utf8(text.data(), (int)text.size()) +
               (terminated ? "" : " (no NUL)");
    }
    case REG_DWORD:
        snprintf(number, sizeof number, "REG_DWORD %lu", (unsigned long)(size >= 4 ? *(const DWORD*)data.data() : 0));
        return number;
    default:
        snprintf(number, sizeof number, "TYPE%lu (%lu bytes)", (unsigned long)type, (unsigned long)size);
        return number;
    }
}

bool regValue(const char* keyName, const char* value, std::string* data)
{
    HKEY key;
    if (!openKey(keyName, &key))
        return false;
    DWORD type = 0, size = 0;
    std::wstring name = wide(value);
    bool found = RegQueryValueExW(key, name.c_str(), NULL, &type, NULL, &size) == ERROR_SUCCESS;
    if (found) {
        std::vector<BYTE> bytes(size + 2, 0);
        found = RegQueryValueExW(key, name.c_str(), NULL, &type, bytes.data(), &size) == ERROR_SUCCESS;
        *data = valueText(type, bytes, size);
    }
    RegCloseKey(key);
    return found;
}

bool regKeyExists(const char* keyName)
{
    HKEY key;
    if (!openKey(keyName, &key))
        return false;
    RegCloseKey(key);
    return true;
}

static void dumpKey(const std::string& name, const std::string& shown, std::vector<std::string>* out)
{
    HKEY key;
    if (!openKey(name.c_str(), &key))
        return;
    std::vector<std::string> values, subkeys;
    for (DWORD index = 0;; index++) {
        wchar_t valueName[256];
        DWORD nameSize = 256, type = 0, size = 0;
        if (RegEnumValueW(key, index, valueName, &nameSize, NULL, &type, NULL, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 2, 0);
        nameSize = 256;
        RegEnumValueW(key, index, valueName, &nameSize, NULL, &type, data.data(), &size);
        values.push_back(shown + utf8(valueName) + "=" + valueText(type, data, size));
    }
    for (DWORD index = 0;; index++) {
        wchar_t subkey[256];
        DWORD nameSize = 256;
        if (RegEnumKeyExW(key, index, subkey, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(utf8(subkey));
    }
    RegCloseKey(key);
    std::sort(values.begin(), values.end());
    std::sort(subkeys.begin(), subkeys.end());
    out->insert(out->end(), values.begin(), values.end());
    for (const std::string& subkey : subkeys) {
        out->push_back(shown + subkey + "\\");
        dumpKey(name + "\\" + subkey, shown + subkey + "\\", out);
    }
}

std::vector<std::string> regDump(const char* key)
{
    std::vector<std::string> out;
    dumpKey(key, "", &out);
    return out;
}

bool regSetString(const char* keyName, const char* value, const std::string& data)
{
    HKEY key;
    if (!openKey(keyName, &key, KEY_SET_VALUE, true))
        return fail("cannot open %s for writing", keyName);
    std::wstring text = wide(data);
    LONG status = RegSetValueExW(key, wide(value).c_str(), 0, REG_SZ, (const BYTE*)text.c_str(),
                                 (DWORD)((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    std::string stored;
    if (status != ERROR_SUCCESS)
        return fail("cannot set %s\\%s: error %ld", keyName, value, (long)status);
    // Read back: what the next program started sees.
    if (!regValue(keyName, value, &stored) || stored != "REG_SZ " + data)
        return fail("%s\\%s reads back as %s", keyName, value, quoted(stored).c_str());
    return true;
}

bool regSetDword(const char* keyName, const char* value, DWORD data)
{
    HKEY key;
    if (!openKey(keyName, &key, KEY_SET_VALUE, true))
        return fail("cannot open %s for writing", keyName);
    LONG status = RegSetValueExW(key, wide(value).c_str(), 0, REG_DWORD, (const BYTE*)&data, sizeof data);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return fail("cannot set %s\\%s: error %ld", keyName, value, (long)status);
    std::string stored;
    if (!regValue(keyName, value, &stored) || stored != "REG_DWORD " + std::to_string(data))
        return fail("%s\\%s reads back as %s", keyName, value, quoted(stored).c_str());
    return true;
}

bool regDeleteValue(const char* keyName, const char* value)
{
    HKEY key;
    if (openKey(keyName, &key, KEY_SET_VALUE)) {
        RegDeleteValueW(key, wide(value).c_str());
        RegCloseKey(key);
    }
    std::string stored;
    if (regValue(keyName, value, &stored))
        return fail("%s\\%s is still there: %s", keyName, value, quoted(stored).c_str());
    return true;
}

// The value's type and bytes; false when the key or the value is missing.
static bool rawValue(const char* keyName, const char* value, DWORD* type, std::vector<BYTE>* data)
{
    HKEY key;
    if (!openKey(keyName, &key))
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, wide(value).c_str(), NULL, type, NULL, &size);
    data->assign(size, 0);
    if (status == ERROR_SUCCESS && size)
        status = RegQueryValueExW(key, wide(value).c_str(), NULL, type, data->data(), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void regSave(const char* keyName, const char* value, SavedValue* saved)
{
    saved->key = keyName;
    saved->value = value;
    saved->present = rawValue(keyName, value, &saved->type, &saved->data);
}

bool regRestore(const SavedValue& saved)
{
    if (!saved.present)
        return regDeleteValue(saved.key.c_str(), saved.value.c_str());
    HKEY key;
    if (!openKey(saved.key.c_str(), &key, KEY_SET_VALUE, true))
        return fail("cannot open %s for writing", saved.key.c_str());
    RegSetValueExW(key, wide(saved.value).c_str(), 0, saved.type, saved.data.data(), (DWORD)saved.data.size());
    RegCloseKey(key);
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!rawValue(saved.key.c_str(), saved.value.c_str(), &type, &data) || type != saved.type || data != saved.data)
        return fail("%s\\%s did not read back as it was", saved.key.c_str(), saved.value.c_str());
    return true;
}

// ---- the machine's folders and its state ----

bool readFolders(Folders* folders, bool anyProgramFiles)
{
    const char* user = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const char* machine = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const struct {
        const char* key;
        const char* value;
        std::string* folder;
    } values[] = {{user, "Programs", &folders->programs},
                  {user, "StartUp", &folders->startup},
                  {machine, "Common Programs", &folders->allPrograms},
                  {machine, "Common StartUp", &folders->allStartup},
                  {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", &folders->programFiles}};
    const std::string sz = "REG_SZ ";
    for (const auto& v : values) {
        std::string data;
        if (!regValue(v.key, v.value, &data))
            return fail("cannot read the folder %s of %s", v.value, v.key);
        if (data.compare(0, sz.size(), sz) != 0)
            return fail("the folder %s is not a plain string: %s", v.value, data.c_str());
        *v.folder = data.substr(sz.size());
    }
    note("folders: Program Files %s, Programs %s, Startup %s, all users' Programs %s and Startup %s",
         folders->programFiles.c_str(), folders->programs.c_str(), folders->startup.c_str(),
         folders->allPrograms.c_str(), folders->allStartup.c_str());
    for (const std::string* folder : {&folders->programs, &folders->startup, &folders->allPrograms, &folders->allStartup})
        if (!fileExists(*folder))
            return fail("the folder %s does not exist", folder->c_str());
    if (folders->programs == folders->allPrograms || folders->startup == folders->allStartup)
        return fail("the user's and all users' Start Menu folders are not told apart");
    if (setting.wide && !anyProgramFiles)
        return expectEqual("Program Files folder", "C:\\Program Files", folders->programFiles);
    return true;
}

std::vector<std::string> snapshot(const Folders& folders)
{
    std::vector<std::string> out;
    const struct {
        const char* title;
        const std::string* path;
    } trees[] = {{"[Program Files]", &folders.programFiles},
                 {"[Programs]", &folders.programs},
                 {"[Startup]", &folders.startup},
                 {"[All users' Programs]", &folders.allPrograms},
                 {"[All users' Startup]", &folders.allStartup}};
    for (const auto& tree : trees) {
        out.push_back(tree.title);
        for (const std::string& path : listTree(*tree.path))
            out.push_back(path);
    }
    out.push_back(std::string("[") + uninstallKey + "]");
    for (const std::string& line : regDump(uninstallKey))
        out.push_back(line);
    out.push_back("[C:\\]");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"C:\\*", &found);
    std::vector<std::string> root;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..") &&
                _wcsicmp(found.cFileName, L"Downloads"))
                root.push_back(utf8(found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(root.begin(), root.end());
    out.insert(out.end(), root.begin(), root.end());
    return out;
}

bool expectSnapshot(const char* what, const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    if (before == after)
        return pass("%s: Program Files, Start Menu and Startup (user's and all users'), the uninstall key and C:\\ "
                    "as before", what);
    std::string changes;
    for (const std::string& line : before)
        if (std::find(after.begin(), after.end(), line) == after.end())
            changes += "\n      - " + line;
    for (const std::string& line : after)
        if (std::find(before.begin(), before.end(), line) == before.end())
            changes += "\n      + " + line;
    return fail("%s: the machine differs from before:%s", what, changes.c_str());
}

// ---- the composed uninstaller ----

// Every entry named, decoded (its blocks checked on the way) into memory.
static bool readEntries(const std::string& path, std::vector<std::string>* names,
                        std::vector<std::string>* contents)
{
    FileHandle package = openPackage(path.c_str());
    if (package == INVALID_FILE)
        return fail("%s holds no package", path.c_str());
    bool ok = true;
    for (int index = 0; index < packageEntryCount() && ok; index++) {
        PackageEntry* record = packageRecord(index);
        char name[ENTRY_NAME_SIZE + 1] = {};
        memcpy(name, record->name, ENTRY_NAME_SIZE);
        names->push_back(name);
        if (record->mode == ENTRY_VALUE) {
            contents->push_back("");
            continue;
        }
        int32_t size = getExtractedSize(name);
        std::string data(size > 0 ? (size_t)size : 0, '\0');
        if (size < 0 || !extractToMemory(name, (uint8_t*)&data[0], size))
            ok = fail("entry %s of %s does not decode", name, path.c_str());
        contents->push_back(data);
    }
    closePackage(package);
    return ok;
}

bool expectUninstaller(const std::string& uninstaller, const std::string& setup)
{
    std::vector<std::string> names, contents, setupNames, setupContents;
    if (!readEntries(uninstaller, &names, &contents) || !readEntries(setup, &setupNames, &setupContents))
        return false;
    std::string expected = "MAIN", actual;
    for (const char* name : decorativeBitmapNames)
        expected += std::string(" ") + name;
    for (const std::string& name : names)
        actual += (actual.empty() ? "" : " ") + name;
    if (!expectEqual("entries of the uninstaller", expected, actual))
        return false;
    // The uninstaller's copy of the program is never signed: its signature
    // fields are cleared, whether or not the setup's were set.
    size_t setupMain = std::find(setupNames.begin(), setupNames.end(), "MAIN") - setupNames.begin();
    if (setupMain < setupNames.size())
        clearSignatureFields((uint8_t*)&setupContents[setupMain][0], (int32_t)setupContents[setupMain].size());
    bool ok = true;
    for (size_t i = 0; i < names.size(); i++) {
        size_t at = std::find(setupNames.begin(), setupNames.end(), names[i]) - setupNames.begin();
        if (at == setupNames.size() || setupContents[at] != contents[i])
            ok = fail("the uninstaller's %s differs from the setup's", names[i].c_str());
    }
    std::string file;
    size_t mainAt = std::find(setupNames.begin(), setupNames.end(), "MAIN") - setupNames.begin();
    if (!readFile(uninstaller, &file) || mainAt == setupNames.size() ||
        file.compare(0, setupContents[mainAt].size(), setupContents[mainAt]) != 0)
        ok = fail("the uninstaller does not begin with the setup program");
    return ok && pass("the uninstaller holds MAIN and the eight bitmaps of the setup, and begins with MAIN");
}
