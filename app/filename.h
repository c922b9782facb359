// filename.h - the rule for a name that may be written or deleted as a plain
// file inside its folder, which the setup program and the builder both apply.
// Platform-neutral; no state.
#ifndef APP_FILENAME_H
#define APP_FILENAME_H

#include <stddef.h>

// A name is written or deleted only as a file right inside its folder: never
// empty, no "/" or "\", no drive letter or ':', no "..", no trailing dot or
// space, no control or reserved character (<>"|?*), not a device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), and at most
// maxLength bytes (0: no limit). Byte by byte, so a double-byte character
// whose second byte is a separator's code is refused too.
enum FileNameProblem {
    NAME_PLAIN = 0,
    NAME_EMPTY,
    NAME_TOO_LONG,
    NAME_DOT_DOT,
    NAME_SEPARATOR,
    NAME_DRIVE,
    NAME_RESERVED_CHARACTER,       // also control characters
    NAME_TRAILING_DOT_OR_SPACE,
    NAME_DEVICE
};

// NAME_PLAIN, or the first problem found; *at (when not null) gets the
// offending character's position for NAME_RESERVED_CHARACTER.
int fileNameProblem(const char* name, size_t maxLength, size_t* at);
// 1 when fileNameProblem finds nothing.
int isPlainFileName(const char* name);
// A short English phrase for a problem ("a file name may not contain a path separator").
const char* fileNameProblemText(int problem);

#endif
