// nocase.h - comparisons that ignore the case of ASCII letters only, as
// entry names, extensions, device names and script keys are compared.
#ifndef APP_NOCASE_H
#define APP_NOCASE_H

#include <stddef.h>

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// 1 when the length bytes of text are word, all of it.
int sameNoCase(const char* text, size_t length, const char* word);
// 1-based position of the first case-insensitive (ASCII) occurrence of
// pattern in text, or 0. An empty pattern is found at 1.
int findNoCase(const char* text, const char* pattern);
// 1 when text ends with suffix, ASCII letters compared without case.
int endsWithNoCase(const char* text, const char* suffix);

#endif
