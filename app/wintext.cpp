// wintext.cpp - UTF-8 texts and paths at the Win32 calls.
#include "app/wintext.h"

#include "coding/widetext.h"

int setDialogText(HWND dialog, int control, const char* text)
{
    wchar_t wide[WINDOW_TEXT_UNITS];
    utf8ToWide(text, wide, WINDOW_TEXT_UNITS);
    return SetDlgItemTextW(dialog, control, wide);
}

int showMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    wchar_t wide[WINDOW_TEXT_UNITS], wideCaption[MAX_PATH];
    utf8ToWide(text, wide, WINDOW_TEXT_UNITS);
    utf8ToWide(caption, wideCaption, MAX_PATH);
    return MessageBoxW(owner, wide, wideCaption, type);
}

int createFolder(const char* path)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    return wide && CreateDirectoryW(wide, NULL);
}

int removeFolder(const char* path)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    return wide && RemoveDirectoryW(wide);
}

DWORD pathAttributes(const char* path)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    return wide ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
}

int setPathAttributes(const char* path, DWORD attributes)
{
    wchar_t buffer[SYSTEM_PATH_UNITS];
    const wchar_t* wide = toSystemPath(path, buffer);
    return wide && SetFileAttributesW(wide, attributes);
}

HMODULE loadSystemLibrary(const char* name)
{
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 1)
        return NULL;
    path[length] = L'\\';
    if (utf8ToWide(name, path + length + 1, MAX_PATH - (int)length - 1) < 0)
        return NULL;
    return LoadLibraryW(path);
}
