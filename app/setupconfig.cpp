// setupconfig.cpp - deciphering the configuration block, and the case-blind search.
#include "setupconfig.h"
#include "../coding/pc1.h"

#include <string.h>

static uint32_t readLe32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int decipherSetupConfig(uint8_t* block)
{
    if (readLe32(block) != CONFIG_MAGIC)
        return 0;
    int32_t length = (int32_t)readLe32(block + 4);
    if (length <= 0 || length >= CONFIG_LENGTH_LIMIT)
        return 0;
    // A longer length would run into whatever data follows the payload area.
    if (length > CONFIG_PAYLOAD_SIZE)
        length = CONFIG_PAYLOAD_SIZE;
    setKey(0);
    crypt(block + 8, length, 0);
    return 1;
}

static char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

int findNoCase(const char* text, const char* pattern)
{
    size_t textLength = strlen(text);
    size_t patternLength = strlen(pattern);
    if (patternLength > textLength)
        return 0;
    for (size_t start = 0; start + patternLength <= textLength; start++) {
        size_t i = 0;
        while (i < patternLength && lowerAscii(text[start + i]) == lowerAscii(pattern[i]))
            i++;
        if (i == patternLength)
            return (int)(start + 1);
    }
    return 0;
}
