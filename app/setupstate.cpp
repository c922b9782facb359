// setupstate.cpp - the configuration block, the install folder, the file list.
#include "app/setupstate.h"

#include <windows.h>

#include "app/configfields.h"
#include "app/setuplayout.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "coding/fileio.h"

// Marker words, then room for the payload: a builder finds the markers in the
// executable's bytes and writes the header and the enciphered payload over them.
ConfigBlock setupConfigBlock = {CONFIG_MARKER_1, (int32_t)CONFIG_MARKER_2, {}};

char installDir[FILE_PATH_SIZE];

void loadSetupConfig(void)
{
    decipherSetupConfig((uint8_t*)&setupConfigBlock);
    terminateConfigText(&setupConfig);
    loadSetupText(&setupConfig);
}

void setInstallDirFromModule(void)
{
    if (getModulePath(installDir, sizeof installDir))   // a cut path names no folder: ""
        cutAtLastBackslash(installDir);
}

void cutAtLastBackslash(char* path)
{
    // Byte by byte: paths are UTF-8, which never puts a backslash's code
    // inside a character (a double-byte code page would).
    char* last = NULL;
    for (char* at = path; *at; at++)
        if (*at == '\\')
            last = at;
    if (last)
        *last = 0;
}

const char* fileNameAt(int index)
{
    const char* name = setupText.fileNames;
    const char* end = name + sizeof setupText.fileNames;
    for (int i = 0; i < index && name < end; i++) {
        while (name < end && *name)
            name++;
        name++;
    }
    const char* last = name;
    while (last < end && *last)
        last++;
    return last < end ? name : "";   // a name without its NUL inside the list is no name
}

int configFileCount(void)
{
    // A damaged count never makes the list longer than the names it holds.
    int count = 0;
    while (count < setupConfig.fileCount && fileNameAt(count)[0])
        count++;
    return count;
}

int formFolderPath(char* buffer, int capacity, int index)
{
    const char* format = index >= SAMPLES_FIRST_INDEX ? "%s\\" SAMPLES_FOLDER_NAME : "%s";
    return formatText(buffer, capacity, format, installDir) >= 0;
}

int formInstalledPath(char* buffer, int capacity, int index)
{
    const char* name = fileNameAt(index);
    return name[0] && formFolderPath(buffer, capacity, index) && appendText(buffer, capacity, "\\") > 0 &&
           appendText(buffer, capacity, name) > 0;
}
