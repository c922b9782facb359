// nocase.cpp - comparisons blind to the case of ASCII letters.
#include "app/nocase.h"

#include <string.h>

int sameNoCase(const char* text, size_t length, const char* word)
{
    size_t i = 0;
    for (; i < length && word[i]; i++)
        if (lowerAscii(text[i]) != lowerAscii(word[i]))
            return 0;
    return i == length && !word[i];
}

int findNoCase(const char* text, const char* pattern)
{
    size_t textLength = strlen(text);
    size_t patternLength = strlen(pattern);
    for (size_t start = 0; start + patternLength <= textLength; start++)
        if (sameNoCase(text + start, patternLength, pattern))
            return (int)(start + 1);
    return 0;
}

int endsWithNoCase(const char* text, const char* suffix)
{
    size_t textLength = strlen(text), suffixLength = strlen(suffix);
    return textLength >= suffixLength && sameNoCase(text + textLength - suffixLength, suffixLength, suffix);
}
