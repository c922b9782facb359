// codingerror.h - why the last operation of the coding layer failed: the
// drivers and the file layer keep a reason beside their 0/1 results, so a
// tool can tell a missing file from damaged data without looking again.
#ifndef CODING_CODINGERROR_H
#define CODING_CODINGERROR_H

enum CodingError {
    CODING_OK = 0,
    CODING_NO_SUCH_FILE,     // a file to open does not exist (nor its folder)
    CODING_CANNOT_OPEN,      // a file could not be opened for reading (other reasons)
    CODING_CANNOT_CREATE,    // a file could not be created
    CODING_CANNOT_WRITE,     // a write fell short (disk full, or the sink failed)
    CODING_BAD_MAGIC,        // a block does not start with the magic: not a compressed stream
    CODING_BAD_LENGTH,       // a block's length field is out of range
    CODING_CHECKSUM,         // a block's payload does not match its checksum
    CODING_TRUNCATED,        // the blocks or the coded data end before the announced size
    CODING_TOO_LARGE,        // the stream announces 2 GB or more
    CODING_OUTPUT_FULL,      // the decoded data does not fit the memory given
    CODING_SOURCE_SHORT,     // compress: the source ended before the size given
    CODING_BAD_SIZE,         // compress: a negative size
    CODING_NO_ENCODER,       // compress: the program has no encoder enabled
    CODING_ABORTED,          // a hook called abortStream
    CODING_ERROR_COUNT
};

// The reason of the last failure. Each driver run starts with CODING_OK and
// keeps the first reason it meets; the file layer sets one when it fails.
CodingError codingLastError(void);
// A short lower-case phrase ("bad block checksum"); never null.
const char* codingErrorText(CodingError error);
// For the coding layer's own modules.
void setCodingError(CodingError error);

#endif
