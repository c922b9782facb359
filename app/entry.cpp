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
    cutAtLastBackslash(installDir);
}

void cutAtLastBackslash(char* path)
{
    // Character by character: in a double-byte code page the second byte of
    // a character may have the code of a backslash and is not one.
    char* last = NULL;
    for (char* at = path; *at; at = CharNextA(at))
        if (*at == '\\')
            last = at;
    if (last)
        *last = 0;
}

// Every text field of the configuration ends inside its field, even in a
// damaged configuration, so both modes can use the fields as strings.
static void terminateConfigStrings(void)
{
    SetupConfig& c = setupConfig;
    char* fields[] = {c.fileNames, c.productName, c.productVersion, c.titleText, c.subtitleText,
                      c.footerText, c.installFolderName, c.startMenuSubfolder, c.runningWindowClass,
                      c.samplesDescription, c.startupArguments, c.uninstallShortcutFormat,
                      c.installingLabelFormat};
    int sizes[] = {sizeof c.fileNames, sizeof c.productName, sizeof c.productVersion, sizeof c.titleText,
                   sizeof c.subtitleText, sizeof c.footerText, sizeof c.installFolderName,
                   sizeof c.startMenuSubfolder, sizeof c.runningWindowClass, sizeof c.samplesDescription,
                   sizeof c.startupArguments, sizeof c.uninstallShortcutFormat, sizeof c.installingLabelFormat};
    for (unsigned i = 0; i < sizeof sizes / sizeof sizes[0]; i++)
        fields[i][sizes[i] - 1] = 0;
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
    terminateConfigStrings();
    char path[256];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    if (n >= sizeof path)
        n = 0;
    path[n] = 0;
    if (findNoCase(path, "uninst"))
        return runUninstaller(instance, previous, commandLine, showState);
    return runInstaller(instance, previous, commandLine, showState);
}
