// widetext_win32.cpp - UTF-8, UTF-16 and code pages, by the system's converters.
#include "coding/widetext.h"

#include <windows.h>

int utf8ToWide(const char* text, wchar_t* wide, int capacity)
{
    if (capacity <= 0)
        return -1;   // 0 would ask the system for the size instead
    // Strict: a path with a byte that is not UTF-8 would name another file.
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, capacity);
    if (units <= 0) {
        wide[0] = 0;
        return -1;
    }
    return units - 1;
}

const wchar_t* toSystemPath(const char* path, wchar_t buffer[SYSTEM_PATH_UNITS])
{
    wchar_t* wide = buffer + 4;   // room for the prefix
    int length = utf8ToWide(path, wide, LONG_PATH_UNITS + 1);
    if (length < 0) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    // Folders stop 12 units short of MAX_PATH (room for an 8.3 name).
    if (length < MAX_PATH - 12)
        return wide;
    if (wide[1] == ':' && wide[2] == '\\') {
        // The form takes the path as it is: "/", which the builder joins
        // names with, must be the separator it means.
        for (wchar_t* at = wide; *at; at++)
            if (*at == '/')
                *at = '\\';
        wide -= 4;
        memcpy(wide, L"\\\\?\\", 4 * sizeof *wide);
    }
    return wide;
}

int wideToUtf8(const wchar_t* wide, char* text, int capacity)
{
    if (capacity <= 0)
        return -1;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, capacity, NULL, NULL);
    if (bytes <= 0) {
        text[0] = 0;
        return -1;
    }
    return bytes - 1;
}

int codePageToUtf8(uint32_t codePage, const char* stored, char* text, int capacity)
{
    wchar_t wide[WIDE_UNITS_FOR_UTF8(STORED_TEXT_LIMIT)];
    UINT from = codePage && IsValidCodePage(codePage) ? codePage : CP_ACP;
    if (MultiByteToWideChar(from, 0, stored, -1, wide, WIDE_UNITS_FOR_UTF8(STORED_TEXT_LIMIT)) <= 0) {
        if (capacity > 0)
            text[0] = 0;
        return -1;
    }
    return wideToUtf8(wide, text, capacity);
}
