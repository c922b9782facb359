// tool.cpp - the switches, messages and names the commands share.
#include "tool.h"

#include <stdarg.h>
#include <stdio.h>
#include <time.h>

#include "app/setuplayout.h"
#include "coding/codingerror.h"
#include "coding/fileio.h"
#include "package/packageerror.h"
#include "script.h"

static bool quiet;

void setQuiet(bool on)
{
    quiet = on;
}

bool isQuiet()
{
    return quiet;
}

void error(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "%s\n", shown(std::string("error: ") + text, 0).c_str());
}

std::string packageReason()
{
    PackageError e = packageLastError();
    std::string text = packageErrorText(e);
    if (e == PACKAGE_DAMAGED_ENTRY && codingLastError() != CODING_OK)
        return text + " (" + codingErrorText(codingLastError()) + ")";
    if (e == PACKAGE_NO_SUCH_FILE || e == PACKAGE_CANNOT_OPEN || e == PACKAGE_CANNOT_READ ||
        e == PACKAGE_CANNOT_CREATE_TARGET || e == PACKAGE_CANNOT_WRITE) {
        int32_t code = fileLastSystemError();
        if (code != 0) {
            char system[256];
            fileSystemErrorText(code, system, sizeof system);
            return text + ": " + system;
        }
    }
    return text;
}

std::string entryFileName(int index)
{
    char name[32];
    snprintf(name, sizeof name, FILE_ENTRY_FORMAT, index);
    return name;
}

int refuseOverwrite(const char*)
{
    return 0;
}

double secondsNow()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}
