// selfdelete.cpp - the self-deleting batch file: its text, its code page, its start.
#include "install/selfdelete.h"

#include <windows.h>

#include "app/setupstate.h"
#include "install/batchaccess.h"

enum {
    // Three paths of up to 259 characters, every one of them a doubled "%"
    // at worst, the batch's own name and its words: 3 * 2 * 259 + 10 + 60 < 1700.
    BATCH_TEXT_SIZE = 1700
};

static const char batchPath[] = "\\DelUS.bat";
static char batchText[BATCH_TEXT_SIZE];
static WCHAR batchWideText[BATCH_TEXT_SIZE];   // on its way to the OEM code page

// Appends text at at, up to end (exclusive), "%" doubled if asked; 0 when
// it does not fit or at is 0 already.
static char* putText(char* at, char* end, const char* text, int doublePercent)
{
    for (; at && *text; text++) {
        int twice = doublePercent && *text == '%';
        if (end - at < 1 + twice)
            return 0;
        if (twice)
            *at++ = '%';
        *at++ = *text;
    }
    return at;
}

int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder)
{
    // Repeat deleting the uninstaller until its process has let go of it,
    // remove the folder if it is empty by then, and delete the batch itself.
    static const char* const parts[] = {":Repeat\r\ndel \"", "\"\r\nif exist \"", "\" goto Repeat\r\nrmdir \"",
                                        "\"\r\ndel \"", "\"\r\n"};
    const char* paths[] = {path, path, folder, batchPath};
    if (capacity <= 0)
        return -1;
    char* at = text;
    char* end = text + capacity - 1;   // the terminator's place
    for (int i = 0; i < 5; i++) {
        at = putText(at, end, parts[i], 0);
        if (i < 4)
            at = putText(at, end, paths[i], 1);
    }
    if (!at) {
        text[0] = 0;
        return -1;
    }
    *at = 0;
    return (int)(at - text);
}

// The batch text in the console's (OEM) code page, which the command
// interpreter reads it in. 0 when a character has no exact OEM form: a
// near one might name another file.
static int toOemText(char* text, int capacity)
{
    if (GetOEMCP() == GetACP())
        return 1;   // one code page for both (double-byte and UTF-8 systems)
    BOOL inexact = FALSE;
    return MultiByteToWideChar(CP_ACP, 0, text, -1, batchWideText, BATCH_TEXT_SIZE) > 0 &&
           WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, batchWideText, -1, text, capacity, NULL, &inexact) > 0 &&
           !inexact;
}

void launchSelfDelete(void)
{
    char path[MAX_PATH];
    char* text = batchText;
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    setInstallDirFromModule();
    if (length == 0 || length >= MAX_PATH || !installDir[0] ||
        formSelfDeleteBatch(text, BATCH_TEXT_SIZE, path, installDir) < 0 || !toOemText(text, BATCH_TEXT_SIZE))
        return;
    HANDLE file = createPrivateFile(batchPath);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD size = (DWORD)lstrlenA(text), written = 0;
    BOOL complete = WriteFile(file, text, size, &written, NULL) && written == size;
    CloseHandle(file);
    if (!complete) {
        DeleteFileA(batchPath);   // half a batch file must not run
        return;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    char command[sizeof batchPath];
    lstrcpyA(command, batchPath);   // CreateProcess may write into its command line
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, NULL, "\\",
                        &startup, &process))
        return;
    // The batch only gets the processor when this program leaves it, and
    // its loop waits for this program's file to be free anyway.
    SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    CloseHandle(process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
}
