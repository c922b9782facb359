// configcheck.h - the check of a configuration before the installer writes
// anything, which the builder makes too. Platform-neutral; no state.
#ifndef APP_CONFIGCHECK_H
#define APP_CONFIGCHECK_H

// What the installer checks before it writes anything: 2 to MAX_SETUP_FILES
// names, every one a plain file name and whole inside the list, the first
// (the uninstaller) with "uninst" in it so it runs as one, a product name
// (the uninstall entry's key), and installFolderName and startMenuSubfolder
// each empty or one plain folder name. One level only for the subfolder: the
// uninstaller removes exactly the folders the install made, and a deeper path
// would leave the ones between behind.
enum ConfigProblem {
    CONFIG_OK = 0,
    CONFIG_FILE_COUNT,
    CONFIG_FILE_NAME,
    CONFIG_UNINSTALLER_NAME,
    CONFIG_PRODUCT_NAME,
    CONFIG_FOLDER_NAME
};
struct SetupConfig;
// CONFIG_OK, or the first problem found; *index (when not null) gets the
// file's index for CONFIG_FILE_NAME. Text fields must end inside their
// widths (terminateConfigText).
int setupConfigProblem(const SetupConfig* config, int* index);

#endif
