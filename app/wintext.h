// wintext.h - the Win32 calls the setup program makes in more than one
// place with a text or a path, taking UTF-8: each meets the wide function
// here, so no caller holds a UTF-16 buffer. (Files: coding/fileio.h.)
#ifndef APP_WINTEXT_H
#define APP_WINTEXT_H

#include <windows.h>

// Dialog control text / message box, as SetDlgItemTextW and MessageBoxW
// (MessageBoxW's result). A text longer than WINDOW_TEXT_UNITS - 1 UTF-16
// units, or not UTF-8, is shown as "".
enum { WINDOW_TEXT_UNITS = 2048 };
int setDialogText(HWND dialog, int control, const char* text);
int showMessage(HWND owner, const char* text, const char* caption, UINT type);

// Folders and attributes, as CreateDirectoryW, RemoveDirectoryW,
// GetFileAttributesW and SetFileAttributesW, for paths of the file layer's
// length (coding/widetext.h, toSystemPath); a path that is not UTF-8 or
// longer fails (INVALID_FILE_ATTRIBUTES).
int createFolder(const char* path);
int removeFolder(const char* path);
DWORD pathAttributes(const char* path);
int setPathAttributes(const char* path, DWORD attributes);

// A library of the system folder by its file name (LoadLibraryW on the full
// path, never the search order: a setup starts from a downloads folder, where
// a planted DLL of that name may lie). Kept for the life of the process.
// Returns null when it is not there.
HMODULE loadSystemLibrary(const char* name);

#endif
