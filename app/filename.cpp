// filename.cpp - the plain-file-name rule.
#include "app/filename.h"

#include <string.h>

#include "app/nocase.h"

// A superscript 1, 2 or 3 at name, in codePage: Windows reserves "COM¹" as it
// does "COM1". Its length in bytes, or 0. Code page 0 (the system's, unknown
// here) and the single-byte ones take 0xB2, 0xB3 and 0xB9, where 1252 and
// most others keep them; 949 has them as 0xA9 0xF6-0xF8.
static size_t superscriptDigitLength(const char* name, size_t length, uint32_t codePage)
{
    unsigned char c = (unsigned char)name[0];
    if (codePage == 949)
        return length == 2 && c == 0xA9 && (unsigned char)name[1] >= 0xF6 && (unsigned char)name[1] <= 0xF8 ? 2 : 0;
    if (isLeadByte(0x81, codePage))   // the other double-byte code pages have none
        return 0;
    return length == 1 && (c == 0xB2 || c == 0xB3 || c == 0xB9) ? 1 : 0;
}

// The part before the first dot, spaces around it left out, names a device:
// "nul.txt" and "COM1 .log" open the device, not a file.
static int isDeviceName(const char* name, uint32_t codePage)
{
    size_t start = 0, end = 0;
    while (name[end] && name[end] != '.')
        end++;
    while (start < end && name[start] == ' ')
        start++;
    while (end > start && name[end - 1] == ' ')
        end--;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (sameNoCase(name + start, end - start, device))
            return 1;
    if (end - start < 4 || !(sameNoCase(name + start, 3, "COM") || sameNoCase(name + start, 3, "LPT")))
        return 0;
    size_t rest = end - start - 3;
    const char* digit = name + start + 3;
    return (rest == 1 && *digit >= '0' && *digit <= '9') || superscriptDigitLength(digit, rest, codePage) != 0;
}

static int isAsciiLetterOrDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// At most 8 bytes, then optionally a dot and at most 3 bytes, with the part
// before the dot ending in '~' and one or more letters or digits.
static int hasShortAliasShape(const char* name, size_t length)
{
    const char* dot = (const char*)memchr(name, '.', length);
    size_t stem = dot ? (size_t)(dot - name) : length;
    if (stem == 0 || stem > 8 || (dot && (length - stem - 1 > 3 || memchr(dot + 1, '.', length - stem - 1))))
        return 0;
    size_t tail = stem;
    while (tail > 0 && isAsciiLetterOrDigit(name[tail - 1]))
        tail--;
    return tail < stem && tail > 0 && name[tail - 1] == '~';
}

int isLeadByte(unsigned char c, uint32_t codePage)
{
    // The systems' lead-byte ranges of the double-byte code pages.
    if (codePage == 932)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (codePage == 936 || codePage == 949 || codePage == 950)
        return c >= 0x81 && c <= 0xFE;
    return 0;
}

static int isControl(unsigned char c)
{
    return c < 32 || c == 0x7F;
}

int hasControlCharacter(const char* text, uint32_t codePage)
{
    for (size_t i = 0; text[i]; i++) {
        unsigned char c = (unsigned char)text[i];
        if (isLeadByte(c, codePage) && text[i + 1])
            i++;   // the second byte is part of the character
        else if (isControl(c))
            return 1;
    }
    return 0;
}

int fileNameProblem(const char* name, size_t maxLength, size_t* at, uint32_t codePage)
{
    size_t length = strlen(name);
    if (length == 0)
        return NAME_EMPTY;
    if (maxLength && length > maxLength)
        return NAME_TOO_LONG;
    if (strstr(name, ".."))
        return NAME_DOT_DOT;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (isLeadByte(c, codePage) && name[i + 1]) {
            i++;   // the second byte is part of the character
            continue;
        }
        if (c == '/' || c == '\\')
            return NAME_SEPARATOR;
        if (c == ':')
            return NAME_DRIVE;
        if (isControl(c) || strchr("<>\"|?*", c)) {
            if (at)
                *at = i;
            return NAME_RESERVED_CHARACTER;
        }
    }
    // The system drops trailing dots and spaces: "a." is "a", and "." the folder.
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return NAME_TRAILING_DOT_OR_SPACE;
    if (isDeviceName(name, codePage))
        return NAME_DEVICE;
    if (hasShortAliasShape(name, length))
        return NAME_SHORT_ALIAS;
    return NAME_PLAIN;
}

int isPlainFileName(const char* name, uint32_t codePage)
{
    return fileNameProblem(name, 0, NULL, codePage) == NAME_PLAIN;
}
