// selfdelete.cpp - the self-deleting batch file: its text, its paths, its start.
#include "install/selfdelete.h"

#include <windows.h>

#include "app/setupstate.h"
#include "app/textformat.h"
#include "coding/fileio.h"
#include "coding/widetext.h"
#include "install/batchaccess.h"

enum {
    // The program's path twice, its folder and the batch's own path, each
    // of up to BATCH_FORM_SIZE - 1 bytes with every byte a doubled "%" at
    // worst, the round counter and the words: 4 * 2 * 519 + 64 + 160 < 4400.
    BATCH_TEXT_SIZE = 4400,
    BATCH_NAME_TRIES = 16,
    BATCH_VALUES = 5               // the paths and the counter the text is made around
};

static char batchText[BATCH_TEXT_SIZE];
static HANDLE batchThread;         // the prepared batch's, suspended until startSelfDelete

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
    // Delayed expansion off whatever the user's command processor settings:
    // with it on, a "!" in a path would be taken as a variable's mark.
    // Delete the uninstaller until its process has let go of it, pausing a
    // second each round (ping is there on every system, and both command
    // interpreters run it); count the rounds in a growing string, which both
    // interpreters can compare; remove the folder if it is empty by then, and
    // delete the batch itself.
    static const char* const parts[BATCH_VALUES + 1] = {
        "setlocal DisableDelayedExpansion\r\nset n=\r\n:Repeat\r\ndel \"", "\"\r\nif not exist \"", "\" goto Done\r\nset n=%n%x\r\nif \"%n%\"==\"",
        "\" goto Done\r\nping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\nrmdir \"", "\"\r\ndel \"", "\"\r\n"};
    char counter[SELF_DELETE_ROUNDS + 1];
    if (rounds < 1 || rounds > SELF_DELETE_ROUNDS)
        rounds = SELF_DELETE_ROUNDS;
    for (int i = 0; i < rounds; i++)
        counter[i] = 'x';
    counter[rounds] = 0;
    const char* const values[BATCH_VALUES] = {path, path, counter, folder, batchPath};
    if (capacity <= 0)
        return -1;
    char* at = text;
    char* end = text + capacity - 1;   // the terminator's place
    for (int i = 0; i < BATCH_VALUES; i++) {
        at = putText(at, end, parts[i], 0);
        at = putText(at, end, values[i], 1);
    }
    at = putText(at, end, parts[BATCH_VALUES], 0);
    if (!at) {
        text[0] = 0;
        return -1;
    }
    *at = 0;
    return (int)(at - text);
}

// wide in the OEM code page, into form; 0 when a character has no exact form.
static int toOemForm(const wchar_t* wide, char* form, int capacity)
{
    UINT oem = GetOEMCP();
    BOOL inexact = FALSE;
    // For UTF-8 the system takes neither flag nor question: every character fits.
    int utf8 = oem == CP_UTF8;
    return WideCharToMultiByte(oem, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, form, capacity, NULL,
                               utf8 ? NULL : &inexact) > 0 &&
           !inexact;
}

int batchPathForm(const char* path, char* form, int capacity)
{
    wchar_t wide[MAX_PATH], shortForm[MAX_PATH];
    if (capacity <= 0)
        return 0;   // 0 would ask the system for the size instead
    if (utf8ToWide(path, wide, MAX_PATH) >= 0) {
        DWORD n = GetShortPathNameW(wide, shortForm, MAX_PATH);
        if ((n > 0 && n < MAX_PATH && toOemForm(shortForm, form, capacity)) || toOemForm(wide, form, capacity))
            return 1;
    }
    form[0] = 0;
    return 0;
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

// The root of the volume that holds path, "C:\\" or "\\\\server\\share\\", wide
// and in UTF-8 without its last backslash. Returns 1, or 0 when it has none.
static int volumeRootOf(const char* path, wchar_t root[MAX_PATH], char* rootUtf8, int capacity)
{
    wchar_t wide[MAX_PATH];
    if (utf8ToWide(path, wide, MAX_PATH) < 0 || !GetVolumePathNameW(wide, root, MAX_PATH) ||
        wideToUtf8(root, rootUtf8, capacity) <= 0)
        return 0;
    int length = lstrlenA(rootUtf8);
    if (length > 0 && rootUtf8[length - 1] == '\\')
        rootUtf8[length - 1] = 0;
    return 1;
}

// The system's own command interpreter on the batch: /D leaves out the
// user's AutoRun commands, /V:OFF their delayed expansion; /S /C takes the
// quoted path between the outer quotes as it is.
static int formBatchCommand(wchar_t* command, int capacity, const char* batchPath)
{
    wchar_t batch[MAX_PATH];
    UINT length = GetSystemDirectoryW(command, (UINT)capacity);
    if (length == 0 || (int)length >= capacity || utf8ToWide(batchPath, batch, MAX_PATH) < 0)
        return 0;
    static const wchar_t* const parts[] = {L"\\cmd.exe /D /V:OFF /S /C \"\"", NULL, L"\"\""};
    for (const wchar_t* part : parts) {
        if (!part)
            part = batch;
        int n = lstrlenW(part);
        if ((int)length + n >= capacity)
            return 0;
        lstrcpynW(command + length, part, capacity - (int)length);
        length += (UINT)n;
    }
    return 1;
}

// The program's path in a form the command interpreter and the volume
// functions take, under MAX_PATH units: as it is, or for a deeper one its
// short (8.3) form. Returns 1, or 0 when neither fits.
static int classicForm(const char* path, char form[UTF8_BYTES_FOR_WIDE(MAX_PATH)])
{
    wchar_t buffer[SYSTEM_PATH_UNITS], shortForm[MAX_PATH + 4];
    const wchar_t* wide = toSystemPath(path, buffer);
    if (wide && wide[0] == '\\' && wide[2] == '?') {   // the "\\?\" form: the short one, without it
        DWORD n = GetShortPathNameW(wide, shortForm, MAX_PATH + 4);
        wide = n == 0 || n >= MAX_PATH + 4 ? NULL : shortForm[1] == ':' ? shortForm
                                                  : shortForm[5] == ':' ? shortForm + 4 : NULL;
    }
    return wide && lstrlenW(wide) < MAX_PATH && wideToUtf8(wide, form, UTF8_BYTES_FOR_WIDE(MAX_PATH)) > 0;
}

// The batch for the program at path, written at the root of the program's
// own drive (not the current one, which may be another or read-only) and
// its process created suspended (batchThread). Returns 1, or 0 with
// nothing left behind.
static int makeBatch(const char* ownPath)
{
    char path[UTF8_BYTES_FOR_WIDE(MAX_PATH)], folder[sizeof path], root[sizeof path], batchPath[BATCH_PATH_SIZE];
    char pathForm[BATCH_FORM_SIZE], folderForm[BATCH_FORM_SIZE], batchForm[BATCH_FORM_SIZE];
    wchar_t wideRoot[MAX_PATH];
    if (!classicForm(ownPath, path) || !volumeRootOf(path, wideRoot, root, sizeof root))
        return 0;
    lstrcpyA(folder, path);
    cutAtLastBackslash(folder);
    // An access list only protects where the drive keeps one (not on FAT).
    DWORD flags = 0;
    if (!GetVolumeInformationW(wideRoot, NULL, 0, NULL, NULL, &flags, NULL, 0) || !(flags & FILE_PERSISTENT_ACLS))
        return 0;
    // The name is hard to guess, and nothing of someone else's is used anyway.
    HANDLE file = createBatchFile(root, (int)((GetTickCount() ^ (GetCurrentProcessId() << 12)) & 0xFFFFFF), batchPath);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = 0, written = 0;
    if (batchPathForm(path, pathForm, sizeof pathForm) && batchPathForm(folder, folderForm, sizeof folderForm) &&
        batchPathForm(batchPath, batchForm, sizeof batchForm) &&
        formSelfDeleteBatch(batchText, BATCH_TEXT_SIZE, pathForm, folderForm, batchForm, SELF_DELETE_ROUNDS) > 0) {
        size = (DWORD)lstrlenA(batchText);
        WriteFile(file, batchText, size, &written, NULL);
    }
    CloseHandle(file);
    // CreateProcess may write into its command line: this one is ours.
    wchar_t command[2 * MAX_PATH + 32];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!size || written != size ||
        !formBatchCommand(command, (int)(sizeof command / sizeof command[0]), batchPath) ||
        !CreateProcessW(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, NULL, wideRoot,
                        &startup, &process)) {
        fileDelete(batchPath);   // half a batch file, or one nobody runs, must not stay
        return 0;
    }
    CloseHandle(process.hProcess);
    batchThread = process.hThread;
    return 1;
}

int prepareSelfDelete(char* leftovers, int capacity)
{
    char path[FILE_PATH_SIZE];
    if (!getModulePath(path, sizeof path))
        path[0] = 0;
    if (makeBatch(path))
        return 1;
    // Nothing will delete the program: it is named with what else is left.
    if (path[0]) {
        appendLine(leftovers, capacity, path);
    }
    return 0;
}

void startSelfDelete(void)
{
    if (!batchThread)
        return;
    // The batch only gets the processor when this program leaves it, and
    // its loop waits for this program's file to be free anyway.
    SetThreadPriority(batchThread, THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    ResumeThread(batchThread);
    CloseHandle(batchThread);
    batchThread = NULL;
}
