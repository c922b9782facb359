// setupstate.h - the running setup program's process-wide state, which both
// modes read: the configuration block compiled into its data, and the install
// folder; with the configuration's file list and the installed paths.
#ifndef APP_SETUPSTATE_H
#define APP_SETUPSTATE_H

#include "app/setupconfig.h"
#include "coding/fileio.h"

// The configuration block in the program's writable data. A built stub holds
// the two marker words here until a configuration is embedded into it.
extern ConfigBlock setupConfigBlock;
#define setupConfig (setupConfigBlock.payload)

// The install folder (UTF-8), without a trailing backslash. The uninstaller
// takes its own folder, which may lie as deep as any path the system gives.
extern char installDir[FILE_PATH_SIZE];

// Deciphers the configuration block in place, ends its text fields inside
// their widths and converts them to UTF-8 (setupText).
void loadSetupConfig(void);

// installDir = the folder of the running executable ("" when it does not fit).
void setInstallDirFromModule(void);
// Cuts the UTF-8 path at its last backslash.
void cutAtLastBackslash(char* path);

// The name (UTF-8) at index in the configuration's file list, "" past its end.
const char* fileNameAt(int index);
// fileCount, kept to the names the list really holds.
int configFileCount(void);
// The folder of installed file index: installDir, and "\Samples" from
// SAMPLES_FIRST_INDEX on. Returns 1, or 0 when it does not fit.
int formFolderPath(char* buffer, int capacity, int index);
// That folder, "\" and the name. Returns 1, or 0 when it does not fit
// (buffer then holds a cut path that must not be used).
int formInstalledPath(char* buffer, int capacity, int index);

#endif
