// packageerrortext.cpp - a text for each package error code, for the tools' messages.
#include "package/packageerror.h"

// One text per code, in the order of the enum.
static const char* const errorTexts[] = {
    "no error",
    "no such file",
    "cannot be opened",
    "cannot be read",
    "no package directory found",
    "no package is open",
    "no such entry",
    "the entry is damaged or cut short",
    "the entry does not fit the memory given",
    "cannot create the output file",
    "the output file exists and was kept",
    "writing failed (disk full?)",
    "the package directory is full (31 entries)",
    "the package would reach 2 GB",
    "the configuration could not be embedded",
    "compression is not available in this program",
    "aborted",
    "stopped after an earlier failure",
    "bad argument",
    "bytes follow the package that are not a certificate table",
};
static_assert(sizeof errorTexts / sizeof errorTexts[0] == PACKAGE_ERROR_COUNT, "one text per code");

const char* packageErrorText(PackageError error)
{
    if ((unsigned)error >= (unsigned)PACKAGE_ERROR_COUNT)
        return "unknown error";
    return errorTexts[error];
}
