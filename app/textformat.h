// textformat.h - composes texts and paths into fixed buffers without ever
// writing past them. Formats know three things: %s (a string), %d (an int)
// and %% (a percent sign); any other % is copied as it stands.
#ifndef APP_TEXTFORMAT_H
#define APP_TEXTFORMAT_H

// Fills buffer (capacity bytes, terminator included) from format, taking each
// %s and %d from the arguments in order. The text is always terminated.
// Returns its length, or -1 when it did not fit: buffer then holds what fit,
// up to the last whole UTF-8 character.
int formatText(char* buffer, int capacity, const char* format, ...);

// For formats that come from the configuration: every %s stands for name and
// %d is copied as it stands, so a damaged format never reads an argument that
// is not there. Returns as formatText.
int formatWithName(char* buffer, int capacity, const char* format, const char* name);

// Appends text at the end of the string in buffer. Returns the new length, or
// -1 when it did not fit (buffer then holds what fit).
int appendText(char* buffer, int capacity, const char* text);
// appendText of text, then of a line end: one line of a list (as far as it fits).
int appendLine(char* buffer, int capacity, const char* text);

#endif
