// widetestutil.h - helpers of the tests of text at the Win32 calls: UTF-8
// of a wide string, and a folder of this process's own for wide names.
#ifndef WIDETESTUTIL_H
#define WIDETESTUTIL_H

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "coding/widetext.h"

inline std::string utf8Of(const std::wstring& wide)
{
    std::string text(UTF8_BYTES_FOR_WIDE(wide.size()), '\0');
    int length = wideToUtf8(wide.c_str(), &text[0], (int)text.size());
    EXPECT_GE(length, 0);
    text.resize(length < 0 ? 0 : length);
    return text;
}

// TEMP\<prefix><process id>, made if missing.
inline std::wstring scratchFolder(const wchar_t* prefix)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + prefix + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), NULL);
    return folder;
}

#endif
