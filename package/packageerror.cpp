// packageerror.cpp - the package library's last-error code.
// The texts live apart (packageerrortext.cpp): the setup program keeps the codes
// but never shows a text, and an unused file is not linked at all.
#include "package/packageerror.h"

static PackageError lastError;

PackageError packageLastError(void)
{
    return lastError;
}

void setPackageError(PackageError error)
{
    lastError = error;
}
