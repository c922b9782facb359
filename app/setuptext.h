// setuptext.h - the configuration's texts as the running program uses them:
// UTF-8, converted once at start from the code page the builder stored them
// in, so every name comes out the same on every system language.
#ifndef APP_SETUPTEXT_H
#define APP_SETUPTEXT_H

#include "app/setupconfig.h"
#include "coding/widetext.h"

// Room for a field of SetupConfig in UTF-8: its n - 1 bytes at their worst
// growth (three UTF-8 bytes for each stored byte) and the terminator.
#define SETUP_TEXT_SIZE(field) UTF8_BYTES_FOR_CODE_PAGE(sizeof(SetupConfig::field) - 1)

// The fields the program reads, under the same names as in SetupConfig.
struct SetupText {
    char fileNames[SETUP_TEXT_SIZE(fileNames)];   // the same names in the same order, each with its NUL
    char productName[SETUP_TEXT_SIZE(productName)];
    char productVersion[SETUP_TEXT_SIZE(productVersion)];
    char installFolderName[SETUP_TEXT_SIZE(installFolderName)];
    char startMenuSubfolder[SETUP_TEXT_SIZE(startMenuSubfolder)];
    char runningWindowClass[SETUP_TEXT_SIZE(runningWindowClass)];
    char samplesDescription[SETUP_TEXT_SIZE(samplesDescription)];
    char startupArguments[SETUP_TEXT_SIZE(startupArguments)];
    char uninstallShortcutFormat[SETUP_TEXT_SIZE(uninstallShortcutFormat)];
    char installingLabelFormat[SETUP_TEXT_SIZE(installingLabelFormat)];
};

// Filled by loadSetupText; everyone else only reads it.
extern SetupText setupText;

// Converts the text fields of config (ended inside their widths, see
// terminateConfigText) from config->codePage (0: the system's ANSI code
// page) into setupText. A text the system cannot convert is left "".
void loadSetupText(const SetupConfig* config);

#endif
