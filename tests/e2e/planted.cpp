// planted.cpp - a stand-in for a DLL that someone planted in a downloads
// folder under the name of a system DLL. Loading it leaves a marker file,
// so the end-to-end test can tell whether a program loaded it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE marker = CreateFileA("C:\\planted-dll-was-loaded.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return TRUE;
}
