// codingerror.cpp - the coding layer's last-error code.
// The texts live apart (codingerrortext.cpp): the setup program keeps the codes
// but never shows a text, and an unused file is not linked at all.
#include "coding/codingerror.h"

static CodingError lastError;

CodingError codingLastError(void)
{
    return lastError;
}

void setCodingError(CodingError error)
{
    lastError = error;
}
