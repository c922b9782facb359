// installdir.cpp - the install folder from the registry's Program Files folder.
#include "install/installdir.h"

#include <windows.h>

#include "app/setupstate.h"
#include "app/textformat.h"

int resolveInstallDir(void)
{
    installDir[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS) {
        char value[sizeof installDir + 1];
        DWORD type = 0, size = sizeof installDir;
        if (RegQueryValueExA(key, "ProgramFilesDir", NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS) {
            value[size <= sizeof installDir ? size : sizeof installDir] = 0;   // stored without NUL, perhaps
            if (type == REG_EXPAND_SZ) {
                DWORD length = ExpandEnvironmentStringsA(value, installDir, sizeof installDir);
                if (length == 0 || length > sizeof installDir)
                    installDir[0] = 0;
            } else if (type == REG_SZ) {
                formatText(installDir, sizeof installDir, "%s", value);
            }
        }
        RegCloseKey(key);
    }
    if (!installDir[0])
        formatText(installDir, sizeof installDir, "%s", "C:\\Program Files");
    int length = lstrlenA(installDir);
    if (length > 0 && installDir[length - 1] == '\\')
        installDir[length - 1] = 0;   // "C:\" would give "C:\\name"
    CreateDirectoryA(installDir, NULL);
    if (setupConfig.installFolderName[0] &&
        (appendText(installDir, sizeof installDir, "\\") < 0 ||
         appendText(installDir, sizeof installDir, setupConfig.installFolderName) < 0))
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
