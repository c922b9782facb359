// configcheck.h - the check of a configuration before the installer writes
// anything, which the builder makes too. Platform-neutral; no state.
#ifndef APP_CONFIGCHECK_H
#define APP_CONFIGCHECK_H

#include <stdint.h>

// What the installer checks before it writes anything: 2 to MAX_SETUP_FILES
// names, every one a plain file name and whole inside the list, the first
// (the uninstaller) with "uninst" in it so it runs as one, no text with a
// control character, a product name (the uninstall entry's key, so one key
// name: no "\" or "/"), installFolderName and startMenuSubfolder each empty
// or one plain folder name, an uninstaller's shortcut of its own name, and a
// running-window class that is the product's own. One level only for the
// subfolder: the uninstaller removes exactly the folders the install made,
// and a deeper path would leave the ones between behind.
enum ConfigProblem {
    CONFIG_OK = 0,
    CONFIG_FILE_COUNT,
    CONFIG_FILE_NAME,
    CONFIG_UNINSTALLER_NAME,
    CONFIG_PRODUCT_NAME,
    CONFIG_FOLDER_NAME,
    CONFIG_TEXT,                   // a text field holds a control character
    CONFIG_SHORTCUT_NAME,          // the uninstaller's shortcut would be another file's
    CONFIG_WINDOW_CLASS            // runningWindowClass names a class of the system
};
struct SetupConfig;
// CONFIG_OK, or the first problem found; *index (when not null) gets the
// file's index for CONFIG_FILE_NAME and CONFIG_SHORTCUT_NAME, the field's
// index in setupConfigFields for CONFIG_TEXT. Text fields must end inside
// their widths (terminateConfigText).
int setupConfigProblem(const SetupConfig* config, int* index);

// A short English phrase for a problem, for the tools.
const char* configProblemText(int problem);

// 1 when a window of this class is no running copy of a product: a name
// starting with '#' (an atom: "#32770" is every dialog box) or a class that
// the system or the common controls register ("Button", "Edit",
// "msctls_progress32", ...), or the setup's own ("TambSetupClass",
// "UnInstallProg"); ASCII case ignored. Closing such windows would close
// the setup's own dialog and other programs' windows.
int isSystemWindowClass(const char* name);

// 1 when the Start Menu shortcut that file index (1 or more) named fileName
// gets has the uninstaller's shortcut name (uninstallFormat): one would
// overwrite the other, and removing one removes both.
int shortcutClashesWithUninstaller(const char* fileName, int index, const char* uninstallFormat);

// 1 when the product name can key the uninstall entry: not empty, no "\" or
// "/" (in codePage, by characters).
int isProductKeyName(const char* name, uint32_t codePage);

#endif
