// uninstaller.cpp - the uninstaller window, its states, its two dialogs, the
// removal and the self-deleting batch file.
#include "uninstaller.h"

#include "background.h"
#include "entry.h"
#include "resource.h"
#include "shell.h"
#include "textformat.h"
#include "worker.h"

enum {
    TIMER_STATE = 1,              // one-shot: dispatches uninstallPendingState
    TIMER_DECORATION = 2,         // one placement step per tick
    STATE_DELAY_MS = 50,
    DECORATION_DELAY_MS = 10,
    TEXT_SIZE = 512,
    WELCOME_RESULT_GO = 1,
    // Three paths of up to 259 characters, every one of them a doubled "%"
    // at worst, the batch's own name and its words: 3 * 2 * 259 + 10 + 60 < 1700.
    BATCH_TEXT_SIZE = 1700
};

static const char batchPath[] = "\\DelUS.bat";

// Users may read the batch file; only administrators and the system may
// change it, since it runs with an administrator's rights.
static const char batchAccess[] = "D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;GR;;;BU)";

static HINSTANCE uninstallInstance;
static int uninstallPendingState;
static int uninstallDecorStep;
static char batchText[BATCH_TEXT_SIZE];
static WCHAR batchWideText[BATCH_TEXT_SIZE];   // on its way to the OEM code page

void scheduleUninstallState(int state)
{
    uninstallPendingState = state;
    SetTimer(BackgroundWindow, TIMER_STATE, STATE_DELAY_MS, NULL);
}

int isPlainFileName(const char* name)
{
    int onlyDots = 1;
    for (const char* at = name; *at; at = CharNextA(at)) {
        if (*at == '\\' || *at == '/' || *at == ':')
            return 0;
        if (*at != '.' && *at != ' ')
            onlyDots = 0;
    }
    return !onlyDots;   // also 0 for ""
}

// The extension (a dot and three letters) of name, or "" for a shorter name.
static const char* extensionOf(const char* name)
{
    int length = lstrlenA(name);
    return length >= 4 ? name + length - 4 : "";
}

void removeInstallation(void)
{
    setInstallDirFromModule();
    if (!installDir[0])
        return;   // no folder known: nothing of ours can be named
    closeRunningInstance();
    int count = configFileCount();
    char path[sizeof installDir];
    for (int index = 0; index < count; index++) {
        // A name that would reach out of the folder is not ours to delete.
        if (!isPlainFileName(fileNameAt(index)) || !formInstalledPath(path, sizeof path, index))
            continue;
        DeleteFileA(path);
        char* extension = (char*)extensionOf(path);
        if (findNoCase(extension, ".hlp") == 1) {
            // The help index files that WinHelp writes next to the help file.
            lstrcpyA(extension, ".gid");
            DeleteFileA(path);
            lstrcpyA(extension, ".fts");
            DeleteFileA(path);
        }
    }
    // Only empty folders go; files the user added keep theirs.
    if (formatText(path, sizeof path, "%s\\Samples", installDir) > 0)
        RemoveDirectoryA(path);
    RemoveDirectoryA(installDir);

    // The same shortcut names as the install made them, file for file.
    const char* product = setupConfig.productName;
    for (int index = 0; index < count; index++) {
        const char* extension = extensionOf(fileNameAt(index));
        if (findNoCase(extension, ".exe") == 1)
            removeShortcut(product, index == 0 ? setupConfig.uninstallShortcutFormat : "%s", 0);
        else if (findNoCase(extension, ".hlp") == 1)
            removeShortcut(product, "%s Help", 0);
    }
    // Without a product name the key would be the whole list of programs.
    char key[128];
    if (product[0] && formUninstallKey(key))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    if (setupConfig.startupArguments[0] != '|')
        removeShortcut(product, "%s", 1);
}

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

PSECURITY_DESCRIPTOR makeBatchAccess(void)
{
    // Resolved at run time: systems without access lists have no such call.
    typedef BOOL(WINAPI * ConvertFunction)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
    ConvertFunction convert = (ConvertFunction)(void (*)(void))GetProcAddress(
        GetModuleHandleA("ADVAPI32.DLL"), "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!convert || !convert(batchAccess, 1 /* SDDL_REVISION_1 */, &descriptor, NULL))
        return NULL;
    return descriptor;
}

HANDLE createPrivateFile(const char* path)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, makeBatchAccess(), FALSE};
    if (!attributes.lpSecurityDescriptor)
        return INVALID_HANDLE_VALUE;
    // A file of that name may have been left, or planted, with another
    // access list or other names linked to it: it goes, and a new one is
    // made or none is.
    DeleteFileA(path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    LocalFree(attributes.lpSecurityDescriptor);
    return file;
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

static INT_PTR CALLBACK uninstallWelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        char text[TEXT_SIZE];
        const char* name = setupConfig.productName;
        formatText(text, sizeof text,
                   "Welcome to the %s uninstall program.\n\nThis program will remove all of the files, "
                   "components and shortcuts that were installed on your computer by the %s setup program."
                   "\n\nIf you do not want to remove the software, then click on Cancel.",
                   name, name);
        SetDlgItemTextA(dialog, IDC_TEXT, text);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:                 // "Uninstall"
            EndDialog(dialog, WELCOME_RESULT_GO);
            break;
        case IDCANCEL:             // "Cancel", Esc, Enter on the default button
        case IDNO:
            EndDialog(dialog, IDCANCEL);
            break;
        }
        return TRUE;
    case WM_ACTIVATE:
    case WM_QUERYNEWPALETTE:
    case WM_PALETTEISCHANGING:
    case WM_PALETTECHANGED:
        onPaletteMessage(dialog, message, wParam, lParam);
        return FALSE;
    }
    return FALSE;
}

static INT_PTR CALLBACK uninstallFinishedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char text[TEXT_SIZE];
        formatText(text, sizeof text,
                   "The uninstall program has successfully removed the %s %s software from your computer."
                   "\n\nIf you would like to use this software again, you will need to run the setup program "
                   "and re-install it.\n\nPress the OK button.",
                   setupConfig.productName, setupConfig.productVersion);
        SetDlgItemTextA(dialog, IDC_TEXT, text);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);   // OK or Esc: either way the same end
        return TRUE;
    }
    return FALSE;
}

static INT_PTR showDialog(int templateId, DLGPROC procedure)
{
    return DialogBoxParamA(uninstallInstance, MAKEINTRESOURCEA(templateId), BackgroundWindow, procedure, 0);
}

static LRESULT CALLBACK uninstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        BackgroundWindow = window;
        // As the installer does: on a 256-colour screen the bitmaps need
        // their palette, and the blue band its tiles.
        detectPaletteMode(window);
        SetTimer(window, TIMER_DECORATION, DECORATION_DELAY_MS, NULL);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 1;
    case WM_ACTIVATE:
    case WM_QUERYNEWPALETTE:
    case WM_PALETTEISCHANGING:
    case WM_PALETTECHANGED:
        onPaletteMessage(window, message, wParam, lParam);
        break;
    case WM_PAINT:
        return paintBitmapSlots(window);
    case WM_ERASEBKGND:
        eraseBackground((HDC)wParam);
        return 1;
    case WM_TIMER:
        KillTimer(window, wParam);
        if (wParam == TIMER_STATE) {
            if (uninstallPendingState == UNINSTALL_END)
                DestroyWindow(window);
            else if (uninstallPendingState == UNINSTALL_REMOVE || uninstallPendingState == UNINSTALL_WELCOME)
                PostMessageA(window, WM_USER + uninstallPendingState, 0, 0);
        } else if (wParam == TIMER_DECORATION) {
            if (placeDecorativeBitmap(uninstallDecorStep++))
                SetTimer(window, TIMER_DECORATION, DECORATION_DELAY_MS, NULL);
            else
                scheduleUninstallState(UNINSTALL_WELCOME);
        }
        break;
    case WM_USER + UNINSTALL_REMOVE:
        removeInstallation();
        showDialog(IDD_UNINSTALL_FINISHED, uninstallFinishedDialogProc);
        launchSelfDelete();
        scheduleUninstallState(UNINSTALL_END);
        break;
    case WM_USER + UNINSTALL_WELCOME:
        scheduleUninstallState(showDialog(IDD_UNINSTALL_WELCOME, uninstallWelcomeDialogProc) == WELCOME_RESULT_GO
                                   ? UNINSTALL_REMOVE
                                   : UNINSTALL_END);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int runUninstaller(HINSTANCE instance, HINSTANCE previous, LPSTR, int)
{
    uninstallInstance = instance;
    if (!previous) {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = uninstallerWindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_UNINSTALL));
        windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
        windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        windowClass.lpszClassName = "UnInstallProg";
        RegisterClassA(&windowClass);
    }
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    HWND window = CreateWindowExA(0, "UnInstallProg", "Uninstall", WS_POPUP | WS_VISIBLE, desktop.left, desktop.top,
                                  desktop.right - desktop.left, desktop.bottom - desktop.top, NULL, NULL, instance,
                                  NULL);
    if (!window)
        return 1;   // no window, no flow: the message loop would never end
    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
