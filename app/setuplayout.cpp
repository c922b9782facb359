// setuplayout.cpp - the decorative bitmaps' entry names, the shortcut rule.
#include "app/setuplayout.h"

#include <stddef.h>

#include "app/nocase.h"

#define AS_NAME(name) #name,
const char* const decorativeBitmapNames[DECORATION_COUNT] = {DECORATIVE_BITMAP_LIST(AS_NAME)};
#undef AS_NAME

const char* shortcutNameFormat(const char* fileName, int index, const char* uninstallFormat)
{
    if (endsWithNoCase(fileName, PROGRAM_EXTENSION))
        return index == 0 ? uninstallFormat : "%s";
    if (endsWithNoCase(fileName, HELP_EXTENSION))
        return "%s Help";
    return NULL;
}
