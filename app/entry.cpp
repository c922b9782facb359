// entry.cpp - WinMain: decipher the configuration, pick the mode by the path.
#include "entry.h"

// Marker words, then room for the payload: a builder finds the markers in the
// executable's bytes and writes the header and the enciphered payload over them.
ConfigBlock setupConfigBlock = {CONFIG_MARKER_1, (int32_t)CONFIG_MARKER_2, {}};

char installDir[256];

void setInstallDirFromModule(void)
{
    DWORD n = GetModuleFileNameA(NULL, installDir, sizeof installDir);
    if (n == 0 || n >= sizeof installDir) {   // a cut path names no folder
        installDir[0] = 0;
        return;
    }
    char* lastSlash = strrchr(installDir, '\\');
    if (lastSlash)
        *lastSlash = 0;
}

// A setup program usually starts from a downloads folder, where a planted DLL
// must not be loaded: libraries come from the system folder only. Systems
// without SetDefaultDllDirectories at least leave the current folder out.
// Both are looked up, so the program still starts where neither exists.
static void restrictDllSearch(void)
{
    typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
    typedef BOOL(WINAPI * SetDirectory)(LPCSTR);
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    SetDefaultDirectories setDefault =
        (SetDefaultDirectories)(void (*)(void))GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    SetDirectory setDirectory = (SetDirectory)(void (*)(void))GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDirectory)
        setDirectory("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState)
{
    restrictDllSearch();
    decipherSetupConfig((uint8_t*)&setupConfigBlock);
    char path[256];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    if (n >= sizeof path)
        n = 0;
    path[n] = 0;
    if (findNoCase(path, "uninst"))
        return runUninstaller(instance, previous, commandLine, showState);
    return runInstaller(instance, previous, commandLine, showState);
}
