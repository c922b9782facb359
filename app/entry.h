// entry.h - the setup program's entry: the configuration block, the install
// folder, and the two modes its own path selects between.
#ifndef ENTRY_H
#define ENTRY_H

#include <windows.h>

#include "setupconfig.h"

// The configuration block in the program's writable data. A built stub holds
// the two marker words here until a configuration is embedded into it.
extern ConfigBlock setupConfigBlock;
#define setupConfig (setupConfigBlock.payload)

// The install folder, without a trailing backslash.
extern char installDir[256];

// installDir = the folder of the running executable.
void setInstallDirFromModule(void);
// Cuts path at its last backslash (double-byte characters are kept whole).
void cutAtLastBackslash(char* path);

// The two modes; each returns the process exit code.
int runInstaller(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState);
int runUninstaller(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState);

#endif
