// entry.cpp - WinMain: decipher the configuration, pick the mode by the path.
#include <windows.h>

#include "app/nocase.h"
#include "app/setupstate.h"
#include "app/setuptext.h"
#include "app/textformat.h"
#include "app/wintext.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "install/uninstaller.h"
#include "install/worker.h"
#include "ui/installer.h"
#include "ui/setupwindow.h"

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

// One setup or uninstaller of a product at a time: two would write and
// delete the same files, shortcuts and registry entry under each other. The
// mark is a mutex named after the product, machine-wide where the system
// lets us (the program runs elevated), else for this session; it goes with
// the process. Returns 0 when another one holds it.
static int claimProduct(void)
{
    static const wchar_t* const scopes[] = {L"Global\\", L"Local\\"};
    enum { PREFIX_UNITS = 24 };   // "Global\TambSetup " and its NUL
    wchar_t name[PREFIX_UNITS + WIDE_UNITS_FOR_UTF8(sizeof setupText.productName)];
    for (const wchar_t* scope : scopes) {
        lstrcpynW(name, scope, PREFIX_UNITS);
        int length = lstrlenW(name);
        lstrcpynW(name + length, L"TambSetup ", PREFIX_UNITS - length);
        length = lstrlenW(name);
        if (utf8ToWide(setupText.productName, name + length, (int)(sizeof name / sizeof name[0]) - length) < 0)
            name[length] = 0;
        // A backslash would name another namespace.
        for (wchar_t* at = name + length; *at; at++)
            if (*at == L'\\')
                *at = L'_';
        HANDLE mark = CreateMutexW(NULL, FALSE, name);
        if (!mark)
            continue;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mark);
            return 0;
        }
        return 1;   // kept open until the process ends
    }
    return 1;   // no mark can be made: nothing to wait for
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int)
{
#ifdef TAMB_WORKER_IN_PLACE
    // Test build: behave as if the system could not create the worker's thread.
    keepInstallWorkerInPlace();
#endif
    restrictDllSearch();
    loadSetupConfig();
    char path[FILE_PATH_SIZE];
    getModulePath(path, sizeof path);   // "" when it is unknown: the installer
    int uninstaller = findNoCase(path, "uninst") != 0;
    if (!claimProduct()) {
        char text[sizeof setupText.productName + 96];
        formatText(text, sizeof text,
                   "Another setup or uninstall program of %s is running. Please let it finish first.",
                   setupText.productName);
        showMessage(NULL, text, uninstaller ? "Uninstall" : "Install", MB_OK | MB_ICONINFORMATION);
        return EXIT_BUSY;
    }
    if (uninstaller)
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
