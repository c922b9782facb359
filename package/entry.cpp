// entry.cpp - names and inline values of directory records.
#include "package/entry.h"

#include <string.h>

#include "app/nocase.h"
#include "app/setuplayout.h"

uint8_t* entryInlineValue(PackageEntry* entry)
{
    return entry->storedSize;   // the value overlays the record from offset 23 on
}

// The stored name ends at its first NUL or at the end of its 16-byte field; the
// comparison never leaves the field (a 16-character name has no terminator).
int entryNameEquals(const PackageEntry* entry, const char* name)
{
    if (!name)
        return 0;
    for (int i = 0; i < ENTRY_NAME_SIZE; i++) {
        if (lowerAscii(entry->name[i]) != lowerAscii(name[i]))
            return 0;
        if (name[i] == 0)
            return 1;
    }
    return name[ENTRY_NAME_SIZE] == 0;
}

void setEntryName(PackageEntry* entry, const char* name)
{
    memset(entry->name, 0, sizeof entry->name);
    for (int i = 0; name && i < ENTRY_NAME_SIZE && name[i]; i++)
        entry->name[i] = name[i];
}
