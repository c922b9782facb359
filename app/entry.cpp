// entry.cpp - WinMain: decipher the configuration, pick the mode by the path.
#include <windows.h>

#include "app/nocase.h"
#include "app/setupstate.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "install/uninstaller.h"
#include "install/worker.h"
#include "ui/installer.h"

// A setup program usually starts from a downloads folder, where a planted DLL
// must not be loaded: libraries come from the system folder only. Systems
// without SetDefaultDllDirectories at least leave the current folder out.
// Both are looked up, so the program still starts where neither exists.
static void restrictDllSearch(void)
{
    typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
    typedef BOOL(WINAPI * SetDirectory)(LPCWSTR);
    HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL");
    SetDefaultDirectories setDefault =
        (SetDefaultDirectories)(void (*)(void))GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    SetDirectory setDirectory = (SetDirectory)(void (*)(void))GetProcAddress(kernel, "SetDllDirectoryW");
    if (setDirectory)
        setDirectory(L"");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int)
{
#ifdef TAMB_WORKER_IN_PLACE
    // Test build: behave as if the system could not create the worker's thread.
    keepInstallWorkerInPlace();
#endif
    restrictDllSearch();
    loadSetupConfig();
    char path[UTF8_BYTES_FOR_WIDE(MAX_PATH)];
    getModulePath(path, sizeof path);   // "" when it is unknown: the installer
    if (findNoCase(path, "uninst"))
        return runUninstaller(instance, previous);
    return runInstaller(instance, previous);
}

// The process starts here, without the C runtime's start-up code: the
// program uses none of what it sets up (no static constructors, no stdio,
// no thread-local data, no floating point). The few C library calls left
// (memcpy and the like) need no set-up.
extern "C" void WINAPI setupStart(void)
{
    ExitProcess((UINT)WinMain(GetModuleHandleW(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT));
}
