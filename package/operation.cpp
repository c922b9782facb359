// operation.cpp - the frame every package operation runs in: the latch, the
// hooks and the disarming of the configuration patch, kept in one place so
// that no operation can keep them differently; and the output-file creation
// the operations share.
#include "package/operation.h"

#include "coding/codingerror.h"
#include "package/package_internal.h"

// All state is constant-initialised: hooks unset, latch clear, so a hook set
// before the first operation is not lost.
static int stopOnError;
static int latch;

ConfirmOverwriteHook confirmOverwriteHook;
BeforeTransferHook beforeTransferHook;
AfterTransferHook afterTransferHook;

void setStopOnError(int on)
{
    latch = 0;
    stopOnError = on != 0;
}

int failureLatch(void)
{
    return latch;
}

PackageError beginOperation(PackageError check)
{
    return latch ? PACKAGE_STOPPED : check;
}

// Only a failure sets the latch and only setStopOnError clears it, so an
// operation that runs while it is set (closing, say) cannot clear it.
int endOperation(PackageError problem)
{
    if (problem != PACKAGE_OK) {
        setPackageError(problem);
        if (stopOnError)
            latch = 1;
    }
    confirmOverwriteHook = 0;
    beforeTransferHook = 0;
    afterTransferHook = 0;
    disarmConfigPatch();
    return problem == PACKAGE_OK;
}

PackageError stepResult(int ok)
{
    return ok ? PACKAGE_OK : packageLastError();
}

PackageError openFailure(void)
{
    return codingLastError() == CODING_NO_SUCH_FILE ? PACKAGE_NO_SUCH_FILE : PACKAGE_CANNOT_OPEN;
}

FileHandle createTargetFile(const char* path)
{
    if (!path) {
        setPackageError(PACKAGE_BAD_ARGUMENT);
        return INVALID_FILE;
    }
    FileHandle file;
    int exists = 0;
    if (!confirmOverwriteHook) {
        file = fileCreate(path, 0, 0);
    } else {
        file = fileCreate(path, 1, &exists);
        if (file == INVALID_FILE && exists) {
            if (!confirmOverwriteHook(path)) {
                setPackageError(PACKAGE_OVERWRITE_REFUSED);
                return INVALID_FILE;
            }
            file = fileCreate(path, 0, 0);
        }
    }
    if (file == INVALID_FILE)
        setPackageError(PACKAGE_CANNOT_CREATE_TARGET);
    return file;
}
