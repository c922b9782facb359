// filename.cpp - the plain-file-name rule.
#include "app/filename.h"

#include <string.h>

#include "app/nocase.h"

// The part before the first dot, spaces around it left out, names a device:
// "nul.txt" and "COM1 .log" open the device, not a file.
static int isDeviceName(const char* name)
{
    size_t start = 0, end = 0;
    while (name[end] && name[end] != '.')
        end++;
    while (start < end && name[start] == ' ')
        start++;
    while (end > start && name[end - 1] == ' ')
        end--;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* device : devices)
        if (sameNoCase(name + start, end - start, device))
            return 1;
    if (end - start == 4 && name[start + 3] >= '1' && name[start + 3] <= '9')
        return sameNoCase(name + start, 3, "COM") || sameNoCase(name + start, 3, "LPT");
    return 0;
}

int fileNameProblem(const char* name, size_t maxLength, size_t* at)
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
        if (c == '/' || c == '\\')
            return NAME_SEPARATOR;
        if (c == ':')
            return NAME_DRIVE;
        if (c < 32 || strchr("<>\"|?*", c)) {
            if (at)
                *at = i;
            return NAME_RESERVED_CHARACTER;
        }
    }
    // The system drops trailing dots and spaces: "a." is "a", and "." the folder.
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return NAME_TRAILING_DOT_OR_SPACE;
    if (isDeviceName(name))
        return NAME_DEVICE;
    return NAME_PLAIN;
}

int isPlainFileName(const char* name)
{
    return fileNameProblem(name, 0, NULL) == NAME_PLAIN;
}
