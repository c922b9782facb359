// configcheck.cpp - the configuration check.
#include "app/configcheck.h"

#include <string.h>

#include "app/configfields.h"
#include "app/filename.h"
#include "app/nocase.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"

// Empty, or one plain name.
static int isFolderName(const char* name, uint32_t codePage)
{
    return !name[0] || isPlainFileName(name, codePage);
}

int isSystemWindowClass(const char* name)
{
    // The system's controls, the common controls' classes, and the setup's own two.
    static const char* const classes[] = {
        "Button", "Static", "Edit", "ComboBox", "ListBox", "ScrollBar", "MDIClient", "ComboLBox",
        "DDEMLEvent", "Message", "IME", "Progman", "Shell_TrayWnd", "WorkerW",
        "msctls_progress32", "msctls_trackbar32", "msctls_updown32", "msctls_statusbar32",
        "msctls_hotkey32", "SysListView32", "SysTreeView32", "SysHeader32", "SysTabControl32",
        "SysAnimate32", "SysMonthCal32", "SysDateTimePick32", "SysIPAddress32", "SysPager", "SysLink",
        "ToolbarWindow32", "tooltips_class32", "ReBarWindow32", "ComboBoxEx32", "NativeFontCtl",
        "TambSetupClass", "UnInstallProg",
    };
    if (name[0] == '#')
        return 1;
    size_t length = strlen(name);
    for (const char* known : classes)
        if (sameNoCase(name, length, known))
            return 1;
    return 0;
}

int shortcutClashesWithUninstaller(const char* fileName, int index, const char* uninstallFormat)
{
    const char* format = shortcutNameFormat(fileName, index, uninstallFormat);
    return index > 0 && format && sameNoCase(format, strlen(format), uninstallFormat);
}

int isProductKeyName(const char* name, uint32_t codePage)
{
    if (!name[0])
        return 0;
    for (size_t i = 0; name[i]; i++) {
        unsigned char c = (unsigned char)name[i];
        if (isLeadByte(c, codePage) && name[i + 1])
            i++;   // 0x5C as a second byte is no backslash
        else if (c == '\\' || c == '/')
            return 0;
    }
    return 1;
}

int setupConfigProblem(const SetupConfig* config, int* index)
{
    if (config->fileCount < 2 || config->fileCount > MAX_SETUP_FILES)
        return CONFIG_FILE_COUNT;
    const char* name = config->fileNames;
    const char* end = name + sizeof config->fileNames;
    for (int i = 0; i < config->fileCount; i++) {
        if (index)
            *index = i;
        const char* nul = (const char*)memchr(name, 0, (size_t)(end - name));
        if (!nul || !isPlainFileName(name, config->codePage))
            return CONFIG_FILE_NAME;
        if (i == 0 && !findNoCase(name, "uninst"))
            return CONFIG_UNINSTALLER_NAME;
        if (shortcutClashesWithUninstaller(name, i, config->uninstallShortcutFormat))
            return CONFIG_SHORTCUT_NAME;
        name = nul + 1;
    }
    for (int f = 0; f < CONFIG_FIELD_COUNT; f++) {
        const ConfigField& field = setupConfigFields[f];
        if (index)
            *index = f;
        if (field.kind == FIELD_TEXT && hasControlCharacter((const char*)config + field.offset, config->codePage))
            return CONFIG_TEXT;
    }
    if (!isProductKeyName(config->productName, config->codePage))
        return CONFIG_PRODUCT_NAME;
    if (!isFolderName(config->installFolderName, config->codePage) ||
        !isFolderName(config->startMenuSubfolder, config->codePage))
        return CONFIG_FOLDER_NAME;
    if (isSystemWindowClass(config->runningWindowClass))
        return CONFIG_WINDOW_CLASS;
    return CONFIG_OK;
}
