// setuptext.cpp - the configuration's texts in UTF-8.
#include "app/setuptext.h"

SetupText setupText;

struct TextField {
    uint16_t from;   // offset in SetupConfig
    uint16_t to;     // offset in SetupText
    uint16_t room;   // of the UTF-8 field
};
#define TEXT_FIELD(name) \
    {offsetof(SetupConfig, name), offsetof(SetupText, name), (uint16_t)sizeof(SetupText::name)}
static const TextField textFields[] = {
    TEXT_FIELD(productName),        TEXT_FIELD(productVersion),     TEXT_FIELD(installFolderName),
    TEXT_FIELD(startMenuSubfolder), TEXT_FIELD(runningWindowClass), TEXT_FIELD(samplesDescription),
    TEXT_FIELD(startupArguments),   TEXT_FIELD(uninstallShortcutFormat), TEXT_FIELD(installingLabelFormat),
};

void loadSetupText(const SetupConfig* config)
{
    const char* stored = (const char*)config;
    char* text = (char*)&setupText;
    for (const TextField& field : textFields)
        codePageToUtf8(config->codePage, stored + field.from, text + field.to, field.room);

    // Name by name: the list's NULs end the names, and a name is never
    // read across one. The list ends at its first empty name, as stored.
    const char* name = config->fileNames;
    const char* end = name + sizeof config->fileNames;
    char* to = setupText.fileNames;
    char* toEnd = to + sizeof setupText.fileNames;
    while (name < end && *name && to < toEnd) {
        int length = codePageToUtf8(config->codePage, name, to, (int)(toEnd - to));
        if (length <= 0)
            break;   // "" for a name that cannot be read: the list ends before it
        to += length + 1;
        while (name < end && *name)
            name++;
        name++;
    }
    for (; to < toEnd; to++)
        *to = 0;
}
