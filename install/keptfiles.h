// keptfiles.h - a reinstall replaces the files of the installation before it.
// Each one is first renamed aside in its own folder, so that a run that fails
// or is cancelled can put the old file back, and a run that succeeds removes
// the kept copies. Installed file i has one slot.
#ifndef INSTALL_KEPTFILES_H
#define INSTALL_KEPTFILES_H

// Makes room at path for installed file index: when a file is there, it is
// renamed to a new unique name in the same folder. Returns 1 when nothing is
// at path now, 0 when a folder is there or the file there could not be moved
// (either stays as it is).
int keepAside(int index, const char* path);

// Undoes file index: deletes the file at path (read-only too) and puts the
// kept copy back, if there is one.
void restoreKept(int index, const char* path);

// After a successful run: deletes the kept copies of files 0 to count - 1;
// a copy still in use goes when the system next starts.
void discardKept(int count);

#endif
