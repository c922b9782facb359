// widetext.h - the one place where text changes encoding (Win32 only).
// Inside the programs every text is UTF-8 in char buffers; it becomes UTF-16
// only at a Win32 call, and a stored 8-bit text becomes UTF-8 once, where it
// is read. Every conversion writes into a buffer of the caller's capacity and
// never past it: a text that does not fit is refused, not cut, since a cut
// path names another file.
#ifndef CODING_WIDETEXT_H
#define CODING_WIDETEXT_H

#include <stdint.h>

#include "coding/fileio.h"

// The worst growth of a conversion, so fixed buffers can be sized for it
// (each takes a text's length without its terminator and gives a buffer's
// size with it): UTF-8 never needs more UTF-16 units than bytes; one UTF-16
// unit (a surrogate pair: two) never needs more than 3 (4) UTF-8 bytes; and
// a byte of an 8-bit or double-byte code page never makes more than one
// UTF-16 unit, so at most 3 UTF-8 bytes.
#define WIDE_UNITS_FOR_UTF8(bytes) ((bytes) + 1)
#define UTF8_BYTES_FOR_WIDE(units) (3 * (units) + 1)
#define UTF8_BYTES_FOR_CODE_PAGE(bytes) (3 * (bytes) + 1)
enum { STORED_TEXT_LIMIT = 1023 };   // bytes of the longest text codePageToUtf8 takes

// UTF-8 (NUL-terminated) to UTF-16 in wide (capacity units, terminator
// included). Returns the length in units, or -1 when it does not fit or is
// not UTF-8: wide then holds "".
int utf8ToWide(const char* text, wchar_t* wide, int capacity);

// A UTF-8 path as the wide file functions take it, in buffer: one on a
// drive ("X:\...") too long for the system's classic limit gets the "\\?\"
// form, which lifts that limit, with "/" as "\" (it must hold no "." or
// ".." parts, as the system's own paths do not; a network path keeps the
// classic limit).
// Returns where the path starts in buffer, or null (last error set) when it
// is longer than LONG_PATH_UNITS or not UTF-8.
enum { SYSTEM_PATH_UNITS = 4 + LONG_PATH_UNITS + 1 };
const wchar_t* toSystemPath(const char* path, wchar_t buffer[SYSTEM_PATH_UNITS]);

// UTF-16 (NUL-terminated) to UTF-8 in text (capacity bytes). Returns the
// length in bytes, or -1 when it does not fit: text then holds "".
int wideToUtf8(const wchar_t* wide, char* text, int capacity);

// An 8-bit text of code page codePage (0: the system's ANSI code page) to
// UTF-8 in text (capacity bytes). A code page the system does not know is
// read as the ANSI one. Returns as wideToUtf8 (-1 also for a stored text
// longer than STORED_TEXT_LIMIT).
int codePageToUtf8(uint32_t codePage, const char* stored, char* text, int capacity);

#endif
