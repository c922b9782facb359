// installdir.cpp - the install folder from the registry's Program Files folder.
#include "install/installdir.h"

#include <windows.h>

#include "app/setupstate.h"
#include "app/textformat.h"
#include "app/setuptext.h"
#include "app/wintext.h"
#include "coding/widetext.h"

int resolveInstallDir(void)
{
    installDir[0] = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS) {
        wchar_t value[MAX_PATH + 1], expanded[MAX_PATH];
        DWORD type = 0, size = MAX_PATH * sizeof value[0];
        if (RegQueryValueExW(key, L"ProgramFilesDir", NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS) {
            value[size / sizeof value[0]] = 0;   // stored without NUL, perhaps
            const wchar_t* path = type == REG_SZ ? value : NULL;
            if (type == REG_EXPAND_SZ) {
                DWORD length = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
                if (length > 0 && length <= MAX_PATH)
                    path = expanded;
            }
            if (path)
                wideToUtf8(path, installDir, sizeof installDir);   // "" when it does not fit
        }
        RegCloseKey(key);
    }
    if (!installDir[0])
        formatText(installDir, sizeof installDir, "%s", "C:\\Program Files");
    int length = lstrlenA(installDir);
    if (length > 0 && installDir[length - 1] == '\\')
        installDir[length - 1] = 0;   // "C:\" would give "C:\\name"
    createFolder(installDir);
    if (setupText.installFolderName[0] &&
        (appendText(installDir, sizeof installDir, "\\") < 0 ||
         appendText(installDir, sizeof installDir, setupText.installFolderName) < 0))
        return 0;
    // Every path the worker and the rollback will form must fit now.
    char path[sizeof installDir];
    if (formatText(path, sizeof path, "%s\\Samples", installDir) < 0)
        return 0;
    int count = configFileCount();
    for (int index = 0; index < count; index++)
        if (!formInstalledPath(path, sizeof path, index))
            return 0;
    return 1;
}
