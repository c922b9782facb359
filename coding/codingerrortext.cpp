// codingerrortext.cpp - a text for each coding error code, for the tools' messages.
#include "coding/codingerror.h"

// One text per code, in the order of the enum.
static const char* const errorTexts[] = {
    "no error",
    "no such file",
    "cannot be opened for reading",
    "cannot be created",
    "writing failed (disk full?)",
    "bad block magic: not a compressed stream",
    "bad block length",
    "bad block checksum",
    "truncated: the data ends before its announced size",
    "announces 2 GB or more, which is not supported",
    "does not fit the memory given",
    "the source ended before its size",
    "negative size",
    "compression is not available in this program",
    "aborted",
};
static_assert(sizeof errorTexts / sizeof errorTexts[0] == CODING_ERROR_COUNT, "one text per code");

const char* codingErrorText(CodingError error)
{
    if ((unsigned)error >= (unsigned)CODING_ERROR_COUNT)
        return "unknown error";
    return errorTexts[error];
}
