// selfdelete.cpp - the self-deleting batch file: its text, its code page, its start.
#include "install/selfdelete.h"

#include <windows.h>

#include "app/setupstate.h"
#include "app/textformat.h"
#include "install/batchaccess.h"

enum {
    // Three paths of up to 259 characters and the batch's own, every one of
    // them a doubled "%" at worst, the round counter and the words:
    // 4 * 2 * 259 + 64 + 160 < 2400.
    BATCH_TEXT_SIZE = 2400,
    BATCH_NAME_TRIES = 16
};

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

int formSelfDeleteBatch(char* text, int capacity, const char* path, const char* folder, const char* batchPath,
                        int rounds)
{
    // Delete the uninstaller until its process has let go of it, pausing a
    // second each round (ping is there on every system, and both command
    // interpreters run it); count the rounds in a growing string, which both
    // interpreters can compare; remove the folder if it is empty by then, and
    // delete the batch itself.
    static const char* const parts[] = {"set n=\r\n:Repeat\r\ndel \"", "\"\r\nif not exist \"",
                                        "\" goto Done\r\nset n=%n%x\r\nif \"%n%\"==\"",
                                        "\" goto Done\r\nping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\nrmdir \"",
                                        "\"\r\ndel \"", "\"\r\n"};
    char counter[SELF_DELETE_ROUNDS + 1];
    if (rounds < 1 || rounds > SELF_DELETE_ROUNDS)
        rounds = SELF_DELETE_ROUNDS;
    for (int i = 0; i < rounds; i++)
        counter[i] = 'x';
    counter[rounds] = 0;
    const char* values[] = {path, path, counter, folder, batchPath};
    if (capacity <= 0)
        return -1;
    char* at = text;
    char* end = text + capacity - 1;   // the terminator's place
    for (int i = 0; i < 6; i++) {
        at = putText(at, end, parts[i], 0);
        if (i < 5)
            at = putText(at, end, values[i], 1);
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

HANDLE createBatchFile(const char* folder, int seed, char path[BATCH_PATH_SIZE])
{
    // A name someone else holds, file or folder, is theirs: never deleted or
    // reused, since what is there could be changed by them after the check.
    for (int i = 0; i < BATCH_NAME_TRIES; i++) {
        if (formatText(path, BATCH_PATH_SIZE, "%s\\DelUS%d.bat", folder, seed + i) < 0)
            break;
        HANDLE file = createPrivateFile(path);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    path[0] = 0;
    return INVALID_HANDLE_VALUE;
}

int launchSelfDelete(void)
{
    char path[MAX_PATH];
    char batchPath[BATCH_PATH_SIZE];
    char* text = batchText;
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    setInstallDirFromModule();
    if (length == 0 || length >= MAX_PATH || !installDir[0])
        return 0;
    // An access list only protects where the drive keeps one (not on FAT).
    DWORD flags = 0;
    if (!GetVolumeInformationA(NULL, NULL, 0, NULL, NULL, &flags, NULL, 0) || !(flags & FILE_PERSISTENT_ACLS))
        return 0;
    // The name is hard to guess, and nothing of someone else's is used anyway.
    HANDLE file = createBatchFile("", (int)((GetTickCount() ^ (GetCurrentProcessId() << 12)) & 0xFFFFFF), batchPath);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = 0, written = 0;
    if (formSelfDeleteBatch(text, BATCH_TEXT_SIZE, path, installDir, batchPath, SELF_DELETE_ROUNDS) > 0 &&
        toOemText(text, BATCH_TEXT_SIZE)) {
        size = (DWORD)lstrlenA(text);
        WriteFile(file, text, size, &written, NULL);
    }
    CloseHandle(file);
    if (!size || written != size) {
        DeleteFileA(batchPath);   // half a batch file must not run
        return 0;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    // CreateProcess may write into its command line: batchPath is ours.
    if (!CreateProcessA(NULL, batchPath, NULL, NULL, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, NULL, "\\",
                        &startup, &process)) {
        DeleteFileA(batchPath);
        return 0;
    }
    // The batch only gets the processor when this program leaves it, and
    // its loop waits for this program's file to be free anyway.
    SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    CloseHandle(process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return 1;
}
