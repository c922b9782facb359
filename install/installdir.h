// installdir.h - where the product goes: the Program Files folder of this
// system and the configuration's install folder name in it.
#ifndef INSTALL_INSTALLDIR_H
#define INSTALL_INSTALLDIR_H

// Fills installDir from the Program Files folder and installFolderName, and
// creates the Program Files folder when it is missing. Returns 1, or 0 when
// the folder or an installed path would not fit 255 characters.
int resolveInstallDir(void);

#endif
