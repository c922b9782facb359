// windows.cpp - finding, reading and clicking the windows of other processes,
// and starting and waiting for those processes.
#include "driver.h"
#include <tlhelp32.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>

static const DWORD pollMs = 25;

// WM_GETTEXT through a timeout, so a hung target cannot hang the driver.
std::string windowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return "";
    std::vector<wchar_t> buffer(length + 2, 0);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(), SMTO_ABORTIFHUNG, 2000,
                             &copied))
        return "";
    return utf8(buffer.data(), (int)(copied < buffer.size() ? copied : buffer.size() - 1));
}

static std::string classOf(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, (int)sizeof name);
    return name;
}

static std::vector<HWND> childWindows(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// A message box is a dialog whose controls are only its buttons (ids 1 to
// 11), its icon and its text (id 0xFFFF); the setup's own dialogs all carry
// controls with other ids (IDC_TEXT, IDC_LABEL, IDC_RUN_PRODUCT, ...).
static bool isMessageBox(HWND dialog)
{
    bool hasText = false;
    for (HWND child : childWindows(dialog)) {
        int id = GetDlgCtrlID(child);
        if (id == MSGBOX_TEXT_ID)
            hasText = true;
        else if (!((id >= 1 && id <= 11) || id == 0x14 || id == 0x440))
            return false;
    }
    return hasText;
}

struct DialogSearch {
    const char* title;
    DialogKind kind;
    DWORD pid;   // 0: any process
    HWND found;
};

static bool titleMatches(const char* wanted, const std::string& title)
{
    return strcmp(wanted, "*") == 0 || title == wanted;
}

static BOOL CALLBACK findDialog(HWND window, LPARAM context)
{
    DialogSearch* search = (DialogSearch*)context;
    if (!IsWindowVisible(window) || classOf(window) != "#32770")
        return TRUE;
    if (search->pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != search->pid)
            return TRUE;
    }
    if (!titleMatches(search->title, windowText(window)) || isMessageBox(window) != (search->kind == MESSAGE_BOX))
        return TRUE;
    search->found = window;
    return FALSE;
}

static HWND findDialogNow(const char* title, DialogKind kind, DWORD pid = 0)
{
    DialogSearch search = {title, kind, pid, NULL};
    EnumWindows(findDialog, (LPARAM)&search);
    return search.found;
}

static BOOL CALLBACK describeDialog(HWND window, LPARAM)
{
    if (IsWindowVisible(window) && classOf(window) == "#32770")
        note("    visible dialog %s%s%s", quoted(windowText(window)).c_str(),
             isMessageBox(window) ? " (message box) text=" : "",
             isMessageBox(window) ? quoted(windowText(GetDlgItem(window, MSGBOX_TEXT_ID))).c_str() : "");
    return TRUE;
}

void describeDialogs(void)
{
    note("    what the screen shows now:");
    EnumWindows(describeDialog, 0);
}

// Lets the window's thread finish what it has queued, painting included, so
// that a screenshot taken next shows the window drawn.
static void settle(HWND window)
{
    DWORD_PTR ignored;
    RedrawWindow(window, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

static HWND waitFor(const char* title, DialogKind kind, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = findDialogNow(title, kind);
        if (found) {
            settle(found);
            return found;
        }
        if (GetTickCount() - start >= timeoutMs)
            return NULL;
        Sleep(pollMs);
    }
}

static HWND requireDialog(const char* title, DialogKind kind, DWORD timeoutMs)
{
    HWND window = waitFor(title, kind, timeoutMs);
    if (!window) {
        fail("no %s titled %s within %lu ms", kind == MESSAGE_BOX ? "message box" : "dialog", quoted(title).c_str(),
             (unsigned long)timeoutMs);
        describeDialogs();
    }
    return window;
}

// Dialog units of a pixel rectangle. MapDialogRect only works on the
// driver's own dialogs, so the base units come from a hidden dialog of our
// own in the setup's dialog font ("MS Sans Serif", 8 points): the same font
// on the same display gives the same units.
static void dialogUnits(const RECT& pixels, RECT* units)
{
    static RECT scale = {0, 0, 0, 0};
    if (scale.right == 0) {
        WORD buffer[64] = {};
        DLGTEMPLATE* dialog = (DLGTEMPLATE*)buffer;
        dialog->style = WS_POPUP | DS_SETFONT;
        dialog->cx = 100;
        dialog->cy = 100;
        WORD* tail = (WORD*)(dialog + 1);
        *tail++ = 0;   // no menu
        *tail++ = 0;   // the standard dialog class
        *tail++ = 0;   // no title
        *tail++ = 8;   // points
        MultiByteToWideChar(CP_ACP, 0, "MS Sans Serif", -1, (WCHAR*)tail, 20);
        HWND probe = CreateDialogIndirectA(GetModuleHandleA(NULL), dialog, NULL, NULL);
        scale = {0, 0, 400, 800};
        if (probe) {
            MapDialogRect(probe, &scale);
            DestroyWindow(probe);
        }
        if (scale.right <= 0 || scale.bottom <= 0)
            scale = {0, 0, 400, 800};
    }
    units->left = MulDiv(pixels.left, 400, scale.right);
    units->top = MulDiv(pixels.top, 800, scale.bottom);
    units->right = MulDiv(pixels.right, 400, scale.right);
    units->bottom = MulDiv(pixels.bottom, 800, scale.bottom);
}

const Control* Dialog::control(int id) const
{
    for (const Control& c : controls)
        if (c.id == id)
            return &c;
    return NULL;
}

bool readDialog(HWND window, Dialog* dialog)
{
    dialog->window = window;
    dialog->title = windowText(window);
    RECT frame, client, clientUnits;
    if (!GetWindowRect(window, &frame) || !GetClientRect(window, &client))
        return fail("the dialog %s went away while it was read", quoted(dialog->title).c_str());
    dialogUnits(client, &clientUnits);
    dialog->rect = {frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
    dialog->units = {clientUnits.right, clientUnits.bottom};
    note("dialog %s rect=%ld,%ld,%ld,%ld size=%ldx%ld", quoted(dialog->title).c_str(), dialog->rect.left,
         dialog->rect.top, dialog->rect.right, dialog->rect.bottom, dialog->units.cx, dialog->units.cy);
    dialog->controls.clear();
    for (HWND child : childWindows(window)) {
        Control c;
        RECT box, screen;
        GetWindowRect(child, &screen);
        box = screen;
        MapWindowPoints(NULL, window, (POINT*)&box, 2);
        RECT extent = {box.left, box.top, box.right - box.left, box.bottom - box.top};
        dialogUnits(extent, &c.units);
        c.id = GetDlgCtrlID(child);
        c.className = classOf(child);
        c.text = windowText(child);
        c.style = GetWindowLongA(child, GWL_STYLE);
        c.screen = {screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top};
        c.enabled = IsWindowEnabled(child) != 0;
        c.visible = IsWindowVisible(child) != 0;
        note("  control %d class=%s at=%ld,%ld,%ld,%ld screen=%ld,%ld,%ld,%ld style=0x%08lx %s%s text=%s", c.id,
             c.className.c_str(), c.units.left, c.units.top, c.units.right, c.units.bottom, c.screen.left,
             c.screen.top, c.screen.right, c.screen.bottom, (unsigned long)c.style,
             c.enabled ? "enabled" : "disabled", c.visible ? "" : " hidden", quoted(c.text).c_str());
        dialog->controls.push_back(c);
    }
    return true;
}

bool waitDialog(const char* title, DialogKind kind, DWORD timeoutMs, Dialog* dialog)
{
    HWND window = requireDialog(title, kind, timeoutMs);
    return window && readDialog(window, dialog);
}

static HWND requireControl(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        fail("the dialog %s has no control %d", quoted(windowText(dialog)).c_str(), id);
    return control;
}

bool expectLiteralText(const Dialog& dialog, int id)
{
    const Control* c = dialog.control(id);
    return expect(c && (c->style & SS_NOPREFIX), "control %d of %s shows its text literally (SS_NOPREFIX)", id,
                  quoted(dialog.title).c_str());
}

bool controlText(const char* title, int id, std::string* text)
{
    HWND dialog = requireDialog(title, PLAIN_DIALOG, DEFAULT_WAIT_MS);
    HWND control = dialog ? requireControl(dialog, id) : NULL;
    if (!control)
        return false;
    *text = windowText(control);
    return true;
}

bool expectText(const char* title, int id, const std::string& expected)
{
    std::string text;
    if (!controlText(title, id, &text))
        return false;
    char what[128];
    snprintf(what, sizeof what, "text of control %d of %s", id, quoted(title).c_str());
    return expectEqual(what, expected, text);
}

// Posted, so a message box that the click opens cannot block the driver.
static bool clickControl(HWND dialog, int id)
{
    HWND control = requireControl(dialog, id);
    if (!control)
        return false;
    if (!IsWindowEnabled(control))
        return fail("control %d of %s is disabled", id, quoted(windowText(dialog)).c_str());
    std::string title = windowText(dialog);
    if (!PostMessageA(control, BM_CLICK, 0, 0))
        return fail("cannot post the click to control %d", id);
    note("clicked %d of %s", id, quoted(title).c_str());
    return true;
}

bool click(const char* title, int id)
{
    HWND dialog = requireDialog(title, PLAIN_DIALOG, DEFAULT_WAIT_MS);
    return dialog && clickControl(dialog, id);
}

bool getCheck(const char* title, int id, int* state)
{
    HWND dialog = requireDialog(title, PLAIN_DIALOG, DEFAULT_WAIT_MS);
    HWND control = dialog ? requireControl(dialog, id) : NULL;
    DWORD_PTR value = 0;
    if (!control || !SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &value))
        return fail("cannot read check box %d of %s", id, quoted(title).c_str());
    *state = (int)value;
    return true;
}

// The click is posted: the box shows its new state once the dialog's thread
// has handled it, which is the end state waited for.
bool setCheck(const char* title, int id, int wanted)
{
    int state;
    if (!getCheck(title, id, &state))
        return false;
    if (state != wanted && !click(title, id))
        return false;
    DWORD start = GetTickCount();
    while (getCheck(title, id, &state) && state != wanted) {
        if (GetTickCount() - start >= 5000)
            return fail("check box %d of %s stays %d", id, quoted(title).c_str(), state);
        Sleep(pollMs);
    }
    return state == wanted;
}

// The key as the keyboard gives it, to the dialog's focus window, so the
// dialog manager maps it to IDCANCEL or the default button.
bool pressKey(const char* title, UINT key)
{
    HWND dialog = requireDialog(title, PLAIN_DIALOG, DEFAULT_WAIT_MS);
    if (!dialog)
        return false;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyA(key, 0);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
    note("pressed %s in %s", key == VK_ESCAPE ? "Esc" : key == VK_RETURN ? "Enter" : "a key", quoted(title).c_str());
    return true;
}

// A wrong text fails only after the box was answered, so the program under
// test does not hang on it.
bool answerMessageBox(const char* caption, int button, const std::string& text, bool containsOnly, DWORD timeoutMs)
{
    HWND box = requireDialog(caption, MESSAGE_BOX, timeoutMs);
    if (!box)
        return false;
    std::string actual = windowText(GetDlgItem(box, MSGBOX_TEXT_ID));
    note("message box %s text=%s", quoted(caption).c_str(), quoted(actual).c_str());
    bool textOk = containsOnly ? actual.find(text) != std::string::npos : actual == text;
    if (!clickControl(box, button))
        return false;
    DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - start >= 10000)
            return fail("the message box %s did not close after button %d", quoted(caption).c_str(), button);
        Sleep(pollMs);
    }
    if (containsOnly)
        return expect(textOk, "message box %s text contains %s", quoted(caption).c_str(), quoted(text).c_str());
    return expectEqual("text of message box " + quoted(caption), text, actual);
}

bool dialogStays(const char* title, DWORD ms)
{
    HWND dialog = requireDialog(title, PLAIN_DIALOG, DEFAULT_WAIT_MS);
    if (!dialog)
        return false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog))
            return fail("the dialog %s went away", quoted(title).c_str());
        Sleep(pollMs);
    }
    return pass("the dialog %s stays", quoted(title).c_str());
}

HWND waitWindowOfClass(const char* className, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    HWND window;
    while (!(window = FindWindowA(className, NULL))) {
        if (GetTickCount() - start >= timeoutMs) {
            fail("no window of class %s within %lu ms", className, (unsigned long)timeoutMs);
            describeDialogs();
            return NULL;
        }
        Sleep(pollMs);
    }
    settle(window);
    return window;
}

bool waitNoWindowOfClass(const char* className, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (FindWindowA(className, NULL)) {
        if (GetTickCount() - start >= timeoutMs)
            return fail("the window of class %s is still there after %lu ms", className, (unsigned long)timeoutMs);
        Sleep(pollMs);
    }
    return true;
}

std::string imageOfWindow(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t image[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process) {
        if (!QueryFullProcessImageNameW(process, 0, image, &size))
            image[0] = 0;
        CloseHandle(process);
    }
    return utf8(image);
}

// ---- processes ----

// NUL as the standard handles: a program started under Wine would otherwise
// keep the driver's output open.
HANDLE startProgram(const std::string& exe, const std::string& commandLine, const char* folder,
                    const char* environment)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, NULL);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::wstring line = wide(commandLine), exeName = wide(exe), folderName = wide(folder ? folder : "");
    BOOL started = FALSE;
    DWORD error = 0;
    // Under load Wine now and then fails a start with "internal error" before
    // the program runs at all; a program that cannot start fails both times.
    for (int attempt = 0; attempt < 2 && !started; attempt++) {
        if (attempt)
            note("Wine could not start %s (error %lu); once more", commandLine.c_str(), (unsigned long)error);
        std::wstring writable = line;   // CreateProcessW may write into it
        started = CreateProcessW(exe.empty() ? NULL : exeName.c_str(), &writable[0], NULL, NULL, TRUE, 0,
                                 (LPVOID)environment, folder ? folderName.c_str() : NULL, &startup, &process);
        error = GetLastError();
        if (!started && error != ERROR_INTERNAL_ERROR)
            break;
        if (!started)
            Sleep(500);
    }
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started) {
        fail("cannot start %s: error %lu", commandLine.c_str(), (unsigned long)error);
        return NULL;
    }
    note("started %s, pid %lu", commandLine.c_str(), (unsigned long)process.dwProcessId);
    CloseHandle(process.hThread);
    return process.hProcess;
}

HANDLE startSetup(const std::string& exe)
{
    std::string folder = exe.substr(0, exe.rfind('\\'));
    return startProgram(exe, "\"" + exe + "\"", folder.c_str());
}

DWORD lastExitCode = (DWORD)-1;

bool waitExit(HANDLE process, const char* what, DWORD timeoutMs, const std::vector<const char*>& forbidden)
{
    if (!process)
        return false;
    DWORD pid = GetProcessId(process);
    DWORD start = GetTickCount();
    bool result = true;
    for (;;) {
        if (WaitForSingleObject(process, pollMs) == WAIT_OBJECT_0)
            break;
        HWND shown = NULL;
        for (const char* title : forbidden) {
            if (!shown)
                shown = findDialogNow(title, PLAIN_DIALOG, pid);
            if (!shown)
                shown = findDialogNow(title, MESSAGE_BOX, pid);
        }
        // A dialog that is only being taken down is still visible for a
        // moment (its text may no longer read); one that was shown stays,
        // waiting for the user.
        DWORD seen = GetTickCount();
        while (shown && IsWindow(shown) && IsWindowVisible(shown) && GetTickCount() - seen < 2000)
            Sleep(pollMs);
        if (shown && (!IsWindow(shown) || !IsWindowVisible(shown)))
            continue;
        if (shown) {
            result = fail("%s showed the dialog %s %s while it should have ended", what,
                          quoted(windowText(shown)).c_str(),
                          quoted(windowText(GetDlgItem(shown, MSGBOX_TEXT_ID))).c_str());
            break;
        }
        if (GetTickCount() - start >= timeoutMs) {
            result = fail("%s still runs after %lu ms", what, (unsigned long)timeoutMs);
            describeDialogs();
            break;
        }
    }
    lastExitCode = (DWORD)-1;
    if (result) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        lastExitCode = code;
        pass("%s ended (exit code %lu)", what, (unsigned long)code);
    }
    CloseHandle(process);
    return result;
}

// The processes of that file name now.
static std::vector<DWORD> processesNamed(const std::string& exeName)
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, wide(exeName).c_str()) == 0)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

HANDLE startFromUnix(const std::string& exe)
{
    wchar_t script[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"E2E_START_UNIX", script, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        fail("E2E_START_UNIX names no script (run_scenario.sh sets it)");
        return NULL;
    }
    // The script's Unix path through Wine's Z: drive.
    std::string launcher = "Z:" + utf8(script);
    for (char& c : launcher)
        if (c == '/')
            c = '\\';
    std::string name = exe.substr(exe.rfind('\\') + 1);
    std::vector<DWORD> before = processesNamed(name);
    // No process handle need come back for a Unix program: the script's end
    // is not waited for, the program's is.
    std::wstring line = wide("\"" + launcher + "\" " + exe);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION launched = {};
    if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, L"C:\\", &startup, &launched)) {
        fail("cannot start %s: error %lu", utf8(line.c_str()).c_str(), (unsigned long)GetLastError());
        return NULL;
    }
    for (HANDLE handle : {launched.hProcess, launched.hThread})
        if (handle)
            CloseHandle(handle);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < DEFAULT_WAIT_MS) {
        for (DWORD pid : processesNamed(name)) {
            if (std::find(before.begin(), before.end(), pid) != before.end())
                continue;
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
            if (process) {
                note("%s runs, pid %lu", name.c_str(), (unsigned long)pid);
                return process;
            }
        }
        Sleep(pollMs);
    }
    fail("no process %s appeared within %d ms of starting it from the Unix side", name.c_str(), DEFAULT_WAIT_MS);
    return NULL;
}

int countProcesses(const char* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, exeName) == 0)
            count++;
    CloseHandle(snapshot);
    return count;
}
