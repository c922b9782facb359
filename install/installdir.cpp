// installdir.cpp - the install folder from the registry's Program Files folder.
#include "install/installdir.h"

#include <windows.h>

#include "app/setuplayout.h"
#include "app/setupstate.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "coding/widetext.h"
#include "install/shell.h"

int resolveInstallDir(void)
{
    if (!readFolderValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                         installDir, sizeof installDir))
        formatText(installDir, sizeof installDir, "%s", "C:\\Program Files");
    int length = lstrlenA(installDir);
    if (length > 0 && installDir[length - 1] == '\\')
        installDir[length - 1] = 0;   // "C:\" would give "C:\\name"
    createFolder(installDir);
    if (setupText.installFolderName[0] &&
        (appendText(installDir, sizeof installDir, "\\") < 0 ||
         appendText(installDir, sizeof installDir, setupText.installFolderName) < 0))
        return 0;
    // Every path the worker and the rollback will form must fit now, within
    // the classic limit: the product is started, and its shortcuts made, there.
    char path[sizeof installDir];
    wchar_t wide[MAX_PATH];
    int count = configFileCount();
    for (int index = 0; index < count; index++)
        if (!formInstalledPath(path, sizeof path, index) || utf8ToWide(path, wide, MAX_PATH) < 0)
            return 0;
    return 1;
}
