// removal.h - what the uninstaller removes: the files the install wrote into
// the folder of the running program, the shortcuts and the uninstall entry;
// and what the rollback of an install that did not finish undoes.
#ifndef INSTALL_REMOVAL_H
#define INSTALL_REMOVAL_H

// Deletes, in the folder of the running program only, the configured files
// that are plain file names (read-only ones too; a ".hlp" with its ".gid" and
// ".fts"), "Samples" and the folder when empty, then the shortcuts the install
// made and the uninstall key when they belong to this installation (the key
// names this folder as InstallLocation, or a folder without the product). Failures are skipped, but every installed file
// other than the running program that is still there afterwards is named in
// leftovers, one path a line (as many as fit capacity). Returns their number.
int removeInstallation(char* leftovers, int capacity);

// Why the running uninstaller must remove nothing here, or 0: it is a setup
// (its package carries the product's files) that was given an "uninst"
// name, or its folder holds no installation (no main program), as a copy
// on the Desktop or in a download folder. Sets installDir.
enum { REFUSED_SETUP = 1, REFUSED_NO_INSTALLATION = 2 };
int uninstallRefusal(void);

// Undoes the first count installed files, the last first: deletes each one
// and puts back the file it replaced (keptfiles.h), then removes "Samples"
// and the install folder when they are empty. showFile (or null) is given
// each path first.
void rollBackInstall(int count, void (*showFile)(const char* path));

#endif
