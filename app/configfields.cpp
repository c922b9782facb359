// configfields.cpp - the field table.
#include "app/configfields.h"

#include <stddef.h>
#include <string.h>

#include "app/nocase.h"
#include "app/setupconfig.h"

#define FIELD(member, key, kind, fallback) \
    {key, (uint16_t)offsetof(SetupConfig, member), (uint16_t)sizeof(SetupConfig::member), kind, fallback}

const ConfigField setupConfigFields[CONFIG_FIELD_COUNT] = {
    FIELD(payloadPosition, NULL, FIELD_INTERNAL, NULL),
    FIELD(codePage, NULL, FIELD_INTERNAL, NULL),
    FIELD(reserved, NULL, FIELD_INTERNAL, NULL),
    FIELD(fileNames, NULL, FIELD_NAME_LIST, NULL),            // the script's [Files] section
    FIELD(productName, "ProductName", FIELD_TEXT, ""),
    FIELD(productVersion, "ProductVersion", FIELD_TEXT, ""),
    FIELD(titleText, NULL, FIELD_TEXT, NULL),
    FIELD(subtitleText, NULL, FIELD_TEXT, NULL),
    FIELD(footerText, NULL, FIELD_TEXT, NULL),
    FIELD(installFolderName, "InstallFolder", FIELD_TEXT, ""),
    FIELD(startMenuSubfolder, "StartMenuSubfolder", FIELD_TEXT, ""),
    FIELD(runningWindowClass, "RunningWindowClass", FIELD_TEXT, ""),
    FIELD(samplesDescription, "SamplesDescription", FIELD_TEXT, ""),
    FIELD(startupArguments, "StartupArguments", FIELD_TEXT, ""),
    FIELD(uninstallShortcutFormat, "UninstallShortcutFormat", FIELD_TEXT, "Uninstall %s"),
    FIELD(installingLabelFormat, "InstallingLabelFormat", FIELD_TEXT, "Installing %s"),
    FIELD(fileCount, NULL, FIELD_COUNT, NULL),
    FIELD(backColorTop, "BackgroundColor", FIELD_COLOUR, "#5680AA"),
    FIELD(backColorBottom, NULL, FIELD_COLOUR, NULL),         // the builder gives it the top colour
    FIELD(progressRange, NULL, FIELD_NUMBER, NULL),
};
#undef FIELD

const ConfigField* findConfigField(const char* key)
{
    size_t length = strlen(key);
    for (const ConfigField& field : setupConfigFields)
        if (field.key && sameNoCase(key, length, field.key))
            return &field;
    return NULL;
}

void terminateConfigText(SetupConfig* config)
{
    for (const ConfigField& field : setupConfigFields)
        if (field.kind == FIELD_TEXT || field.kind == FIELD_NAME_LIST)
            ((char*)config)[field.offset + field.width - 1] = 0;
}
