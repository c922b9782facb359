// configcheck.cpp - the configuration check.
#include "app/configcheck.h"

#include <string.h>

#include "app/filename.h"
#include "app/nocase.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"

// Empty, or one plain name.
static int isFolderName(const char* name)
{
    return !name[0] || isPlainFileName(name);
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
        if (!nul || !isPlainFileName(name))
            return CONFIG_FILE_NAME;
        if (i == 0 && !findNoCase(name, "uninst"))
            return CONFIG_UNINSTALLER_NAME;
        name = nul + 1;
    }
    if (!config->productName[0])
        return CONFIG_PRODUCT_NAME;
    if (!isFolderName(config->installFolderName) || !isFolderName(config->startMenuSubfolder))
        return CONFIG_FOLDER_NAME;
    return CONFIG_OK;
}
