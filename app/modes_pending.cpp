// modes_pending.cpp - the uninstaller mode until its own module joins the
// program: it ends at once, without touching anything.
#include "entry.h"

int runUninstaller(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
