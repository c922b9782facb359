// installdir.h - where the product goes: the Program Files folder of this
// system and the configuration's install folder name in it.
#ifndef INSTALL_INSTALLDIR_H
#define INSTALL_INSTALLDIR_H

// Fills installDir from the Program Files folder and installFolderName, and
// creates the Program Files folder when it is missing. Returns 1, or 0 when
// an installed path would be longer than the system's classic limit
// (MAX_PATH - 1 UTF-16 units).
int resolveInstallDir(void);

#endif
