// batchaccess.cpp - the protected access list of the batch file.
#include "install/batchaccess.h"

#include "coding/widetext.h"

// Users may read the batch file; only administrators and the system may
// change it, since it runs with an administrator's rights.
static const wchar_t batchAccess[] = L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;GR;;;BU)";

PSECURITY_DESCRIPTOR makeBatchAccess(void)
{
    // Resolved at run time: systems without access lists have no such call.
    typedef BOOL(WINAPI * ConvertFunction)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
    ConvertFunction convert = (ConvertFunction)(void (*)(void))GetProcAddress(
        GetModuleHandleW(L"ADVAPI32.DLL"), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!convert || !convert(batchAccess, 1 /* SDDL_REVISION_1 */, &descriptor, NULL))
        return NULL;
    return descriptor;
}

HANDLE createPrivateFile(const char* path)
{
    wchar_t wide[MAX_PATH];
    if (utf8ToWide(path, wide, MAX_PATH) < 0)
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, makeBatchAccess(), FALSE};
    if (!attributes.lpSecurityDescriptor)
        return INVALID_HANDLE_VALUE;
    // Only a new file: one that was there could carry another access list or
    // other names linked to it.
    HANDLE file = CreateFileW(wide, GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    LocalFree(attributes.lpSecurityDescriptor);
    return file;
}
