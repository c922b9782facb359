// shell.h - registers an installed product with the shell and removes it again:
// ".lnk" shortcuts in the Start Menu group or the Startup folder, made through
// the shell's link object, and the product's entry in the list of programs
// that can be uninstalled (HKEY_LOCAL_MACHINE).
#ifndef INSTALL_SHELL_H
#define INSTALL_SHELL_H

#include <windows.h>
#include <stdint.h>

#include "coding/widetext.h"

// Set just before the uninstaller's shortcut: that link takes icon 1 of its
// target. createShortcut clears it after every shortcut.
extern int useUninstallIcon;

// A shortcut named nameFormat applied to nameArgument (the UTF-8 of at most
// 31 bytes in the setup's code page, also its description) to target, with arguments (null or empty: none), in
// the Startup folder (startup != 0) or the Start Menu group named by
// installFolderName (and startMenuSubfolder). Creates the group folders.
// Returns 1 when the link was saved, else 0.
int createShortcut(const char* target, const char* nameArgument, const char* nameFormat,
                   const char* arguments, int startup);

// Makes one link file through IShellLinkW and IPersistFile (UTF-8 texts), in a COM
// initialisation of its own. Returns the status of the last step (negative: failed).
HRESULT writeShellLink(const char* target, const char* linkPath, const char* description,
                       const char* arguments);

// Deletes the shortcut that createShortcut with the same name makes, in the
// all-users and the user's folders, then the Start Menu subfolder and group
// where they are empty now. A shortcut that stays is added to leftovers, a
// line each (as far as capacity allows). Returns the number that stayed.
int removeShortcut(const char* nameArgument, const char* nameFormat, int startup, char* leftovers, int capacity);

// "SOFTWARE\Microsoft\Windows\CurrentVersion\UnInstall\<productName>" into key:
// its 52 bytes and a product name of 31 bytes in its code page, in UTF-8.
// Returns 1, or 0 when the product name makes it too long.
enum { UNINSTALL_KEY_SIZE = 52 + 3 * 31 + 1 };
int formUninstallKey(char key[UNINSTALL_KEY_SIZE]);

// Deletes the uninstall entry with everything below it. Returns 1 when it is
// gone (or was not there), 0 when it stays or there is no product name.
int removeUninstallEntry(void);

// The uninstall entry, written fresh over an earlier one: DisplayName, UninstallString (quoted), DisplayVersion,
// DisplayIcon (the uninstaller, icon 1), InstallLocation, EstimatedSize
// (installedKilobytes), NoModify, NoRepair, and Publisher from the program's
// own version resource (none when the builder wrote no publisher there).
// Returns 1 when UninstallString was stored, else 0.
int writeUninstallEntry(uint32_t installedKilobytes);

// One value under HKEY_LOCAL_MACHINE\subkey, the key created when missing.
// Return 1 when the value was stored, else 0.
int setMachineString(const char* subkey, const char* valueName, const char* text);
int setMachineDword(const char* subkey, const char* valueName, DWORD value);

// A text of a version resource (VS_VERSIONINFO, size bytes): the value of
// the first node whose key is key (ASCII), up to its NUL, into text (UTF-8,
// capacity bytes). Nothing is read past size or past the node's end.
// Returns 1, or 0 with text "" when there is no such value, it is empty,
// its node is longer than what is left of the resource, or the text is
// longer than VERSION_TEXT_UNITS - 1 UTF-16 units or capacity.
enum {
    VERSION_TEXT_UNITS = 64,                        // the publisher field's width (versionfields.h)
    PUBLISHER_SIZE = UTF8_BYTES_FOR_WIDE(VERSION_TEXT_UNITS - 1)
};
int versionText(const void* resource, uint32_t size, const char* key, char* text, int capacity);

// A folder stored as a registry value of type REG_SZ or REG_EXPAND_SZ (whose
// environment variables are expanded) into path (UTF-8, capacity bytes); a
// value stored without its NUL is ended. Returns 1, or 0 with path "" when
// the value is missing, empty, of another type, too long, or no whole path
// ("X:\..." or "\\server\...") once expanded.
int readFolderValue(HKEY root, const char* subkey, const char* valueName, char* path, DWORD capacity);

#endif
