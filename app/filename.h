// filename.h - the rule for a name that may be written or deleted as a plain
// file inside its folder, which the setup program and the builder both apply.
// Platform-neutral; no state.
#ifndef APP_FILENAME_H
#define APP_FILENAME_H

#include <stddef.h>
#include <stdint.h>

// A name is written or deleted only as a file right inside its folder: never
// empty, no "/" or "\", no drive letter or ':', no "..", no trailing dot or
// space, no control character (a line break would let a printed list be
// read as more lines) or reserved character (<>"|?*), not a device name (CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and COM or LPT with a
// superscript 1, 2 or 3, with or without an extension), not shaped like a
// short (8.3) alias, and at most maxLength bytes (0: no limit). Character by
// character in the name's code page: the second byte of a double-byte
// character (0x5C in "\x83\x5C" of code page 932) is no separator. Code page 0
// or a single-byte one: bytes.
//
// Short alias shape: at most 8 characters, optionally a dot and at most 3
// more, where the part before the dot ends in '~' and letters or digits
// ("DOCUME~1.TXT", "DOCU~ABT.TXT"). On a volume with short names such a name
// can be the second name of another file of the folder, so writing or
// deleting it would hit that file; every such name is refused, whatever else
// the folder holds.
enum FileNameProblem {
    NAME_PLAIN = 0,
    NAME_EMPTY,
    NAME_TOO_LONG,
    NAME_DOT_DOT,
    NAME_SEPARATOR,
    NAME_DRIVE,
    NAME_RESERVED_CHARACTER,       // also control characters
    NAME_TRAILING_DOT_OR_SPACE,
    NAME_DEVICE,
    NAME_SHORT_ALIAS
};

// NAME_PLAIN, or the first problem found; *at (when not null) gets the
// offending character's position for NAME_RESERVED_CHARACTER.
int fileNameProblem(const char* name, size_t maxLength, size_t* at, uint32_t codePage = 0);
// 1 when fileNameProblem finds nothing.
int isPlainFileName(const char* name, uint32_t codePage = 0);
// 1 when text holds a control character (bytes 0x00-0x1F and 0x7F standing
// as characters of their own in codePage): the rule for every text of a
// configuration, and part of the rule for names.
int hasControlCharacter(const char* text, uint32_t codePage = 0);
// 1 when byte c starts a two-byte character in codePage (932, 936, 949, 950).
int isLeadByte(unsigned char c, uint32_t codePage);
// A short English phrase for a problem ("a file name may not contain a path separator").
const char* fileNameProblemText(int problem);

#endif
