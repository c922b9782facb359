// driver.cpp - the hands and eyes of the end-to-end tests: a console program,
// run under Wine by scripts/e2e.sh, whose subcommands start the setup program,
// find its dialogs by title, read and click their controls, answer message
// boxes, read shortcuts and registry values back and check the pixels of a
// screenshot of the background. A shell script chains the subcommands.
//
// Every wait polls in short steps and ends at a timeout. Exit codes:
//   0  the step was done or the check held
//   1  the check failed, or what was waited for did not come in time
//   2  the command line was wrong
// Messages for a person go to stderr; values a script reads go to stdout.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <map>
#include <set>
#include <string>
#include <vector>

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

static const DWORD pollMs = 25;
static const DWORD defaultTimeoutMs = 10000;
static const int msgboxTextId = 0xFFFF;

static int fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("driver: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    return EXIT_FAILED;
}

static int usageError(const char* what)
{
    fprintf(stderr, "driver: %s (run \"driver help\")\n", what);
    return EXIT_USAGE;
}

// Text for a log line: control characters and quotes escaped, so a line of
// output stays one line and can be compared by eye.
static std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 32 || c >= 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out + "\"";
}

// The text of a window of any process: WM_GETTEXT through a timeout, so a
// hung target cannot hang the driver.
static bool windowText(HWND window, std::string* text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return false;
    std::vector<char> buffer(length + 2, 0);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(), SMTO_ABORTIFHUNG,
                             2000, &copied))
        return false;
    text->assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
    return true;
}

static std::string className(HWND window)
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
// controls with other ids (108, 105, 1001, ...).
static bool isMessageBox(HWND dialog)
{
    bool hasText = false;
    for (HWND child : childWindows(dialog)) {
        int id = GetDlgCtrlID(child);
        if (id == msgboxTextId)
            hasText = true;
        else if (!((id >= 1 && id <= 11) || id == 0x14 || id == 0x440))
            return false;
    }
    return hasText;
}

enum DialogKind { PLAIN_DIALOG, MESSAGE_BOX };

struct DialogSearch {
    const char* title;
    DialogKind kind;
    std::vector<HWND> found;
};

// "*" as a title matches any title.
static bool titleMatches(const char* wanted, const std::string& title)
{
    return strcmp(wanted, "*") == 0 || title == wanted;
}

static BOOL CALLBACK collectDialog(HWND window, LPARAM context)
{
    DialogSearch* search = (DialogSearch*)context;
    if (!IsWindowVisible(window) || className(window) != "#32770")
        return TRUE;
    std::string title;
    if (!windowText(window, &title) || !titleMatches(search->title, title))
        return TRUE;
    if (isMessageBox(window) != (search->kind == MESSAGE_BOX))
        return TRUE;
    search->found.push_back(window);
    return TRUE;
}

static std::vector<HWND> findDialogs(const char* title, DialogKind kind)
{
    DialogSearch search = {title, kind, {}};
    EnumWindows(collectDialog, (LPARAM)&search);
    return search.found;
}

// Lets the window's thread finish what it has queued, painting included, so
// that a screenshot taken next shows the window drawn.
static void settle(HWND window)
{
    DWORD_PTR ignored;
    RedrawWindow(window, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

static HWND waitDialog(const char* title, DialogKind kind, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> found = findDialogs(title, kind);
        if (!found.empty()) {
            settle(found[0]);
            return found[0];
        }
        if (GetTickCount() - start >= timeoutMs)
            return NULL;
        Sleep(pollMs);
    }
}

// Lists the visible dialogs, for the message that says what was there
// instead of the dialog waited for.
static BOOL CALLBACK describeDialog(HWND window, LPARAM)
{
    if (!IsWindowVisible(window) || className(window) != "#32770")
        return TRUE;
    std::string title;
    windowText(window, &title);
    fprintf(stderr, "driver:   visible dialog %s%s\n", quoted(title).c_str(),
            isMessageBox(window) ? " (message box)" : "");
    return TRUE;
}

static HWND requireDialog(const char* title, DialogKind kind, DWORD timeoutMs)
{
    HWND dialog = waitDialog(title, kind, timeoutMs);
    if (!dialog) {
        fail("no %s titled %s within %lu ms", kind == MESSAGE_BOX ? "message box" : "dialog", quoted(title).c_str(),
             (unsigned long)timeoutMs);
        EnumWindows(describeDialog, 0);
    }
    return dialog;
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

static void printDialog(HWND dialog)
{
    std::string title;
    windowText(dialog, &title);
    RECT frame, client, clientUnits;
    GetWindowRect(dialog, &frame);
    GetClientRect(dialog, &client);
    dialogUnits(client, &clientUnits);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    printf("dialog %s pid=%lu rect=%ld,%ld,%ld,%ld size=%ldx%ld\n", quoted(title).c_str(), (unsigned long)pid,
           frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, clientUnits.right,
           clientUnits.bottom);
    for (HWND child : childWindows(dialog)) {
        RECT box, units;
        GetWindowRect(child, &box);
        MapWindowPoints(NULL, dialog, (POINT*)&box, 2);
        RECT extent = {box.left, box.top, box.right - box.left, box.bottom - box.top};
        dialogUnits(extent, &units);
        std::string text;
        windowText(child, &text);
        LONG style = GetWindowLongA(child, GWL_STYLE);
        RECT screen;
        GetWindowRect(child, &screen);
        printf("control %d class=%s at=%ld,%ld,%ld,%ld screen=%ld,%ld,%ld,%ld style=0x%08lx %s%s text=%s\n",
               GetDlgCtrlID(child), className(child).c_str(), units.left, units.top, units.right, units.bottom,
               screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top, (unsigned long)style,
               IsWindowEnabled(child) ? "enabled" : "disabled", IsWindowVisible(child) ? "" : " hidden",
               quoted(text).c_str());
    }
    fflush(stdout);
}

static HWND requireControl(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        fail("the dialog has no control %d", id);
    return control;
}

static bool parseInt(const char* text, long* value)
{
    char* end;
    *value = strtol(text, &end, 0);
    return *text && !*end;
}

// ---- command line: positional arguments and --timeout MS ----

struct Arguments {
    std::vector<const char*> positional;
    DWORD timeoutMs = defaultTimeoutMs;
    std::vector<std::pair<std::string, const char*>> options;   // --name value
    std::vector<std::string> flags;                            // --name
};

static const char* const valueOptions[] = {"--timeout", "--text",    "--contains", "--absent", "--max-ms",
                                           "--exclude", "--diff",    "--fail-on",  "--without", "--then-click"};

static bool parseArguments(int argc, char** argv, Arguments* args)
{
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        if (strncmp(arg, "--", 2) != 0) {
            args->positional.push_back(arg);
            continue;
        }
        bool takesValue = false;
        for (const char* name : valueOptions)
            takesValue = takesValue || strcmp(arg, name) == 0;
        if (!takesValue) {
            args->flags.push_back(arg);
            continue;
        }
        if (i + 1 >= argc)
            return false;
        if (strcmp(arg, "--timeout") == 0) {
            long value;
            if (!parseInt(argv[i + 1], &value) || value < 0)
                return false;
            args->timeoutMs = (DWORD)value;
        } else
            args->options.push_back({arg, argv[i + 1]});
        i++;
    }
    return true;
}

static const char* option(const Arguments& args, const char* name)
{
    for (const auto& entry : args.options)
        if (entry.first == name)
            return entry.second;
    return NULL;
}

static bool hasFlag(const Arguments& args, const char* name)
{
    for (const std::string& flag : args.flags)
        if (flag == name)
            return true;
    return false;
}

// ---- processes ----

// Starts a program with NUL as its standard handles: under Wine it would
// otherwise keep the driver's output pipe open, and a script reading that
// pipe would wait for the program's end. Prints the new process id.
static int startProcess(const char* application, const std::string& commandLine, const char* folder)
{
    const DWORD stdIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD id : stdIds)
        SetHandleInformation(GetStdHandle(id), HANDLE_FLAG_INHERIT, 0);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    BOOL started =
        CreateProcessA(application, mutableLine.data(), NULL, NULL, TRUE, 0, NULL, folder, &startup, &process);
    DWORD error = GetLastError();
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started)
        return fail("cannot start %s: error %lu", commandLine.c_str(), (unsigned long)error);
    printf("%lu\n", (unsigned long)process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return EXIT_OK;
}

// start EXE [ARG...]: the program starts in its own folder, as when it is
// opened from the shell.
static int commandStart(const Arguments& args)
{
    if (args.positional.empty())
        return usageError("start needs EXE");
    std::string commandLine;
    for (const char* part : args.positional) {
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += '"';
        commandLine += part;
        commandLine += '"';
    }
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s", args.positional[0]);
    char* slash = strrchr(folder, '\\');
    if (slash)
        *slash = 0;
    return startProcess(args.positional[0], commandLine, slash ? folder : NULL);
}

// run-command "COMMAND LINE": starts a command line as the system's list of
// programs starts an uninstall command: no program name apart from the
// line, which the system splits itself. Runs in C:\.
static int commandRunCommand(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("run-command needs one COMMAND LINE");
    return startProcess(NULL, args.positional[0], "C:\\");
}

// wait-path-gone PATH...: waits until none of the files or folders exists.
static int commandWaitPathGone(const Arguments& args)
{
    if (args.positional.empty())
        return usageError("wait-path-gone needs PATH");
    DWORD start = GetTickCount();
    for (;;) {
        const char* remaining = NULL;
        for (const char* path : args.positional)
            if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
                remaining = path;
        if (!remaining)
            return EXIT_OK;
        if (GetTickCount() - start >= args.timeoutMs)
            return fail("%s still exists after %lu ms", remaining, (unsigned long)args.timeoutMs);
        Sleep(pollMs);
    }
}

struct ProcessDialogs {
    DWORD pid;
    std::vector<const char*> titles;   // "*": any dialog
    HWND found;
};

static BOOL CALLBACK findProcessDialog(HWND window, LPARAM context)
{
    ProcessDialogs* search = (ProcessDialogs*)context;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::string title;
    if (pid != search->pid || !IsWindowVisible(window) || className(window) != "#32770" || !windowText(window, &title))
        return TRUE;
    for (const char* wanted : search->titles)
        if (titleMatches(wanted, title)) {
            search->found = window;
            return FALSE;
        }
    return TRUE;
}

// wait-exit PID: waits for the process to end and prints its exit code.
// --no-dialog: fails as soon as the process shows a dialog or message box
// while it is being waited for (a second error box, say); --fail-on TITLE
// (one or more): the same for dialogs of those titles only.
static int commandWaitExit(const Arguments& args)
{
    long pid;
    if (args.positional.size() != 1 || !parseInt(args.positional[0], &pid))
        return usageError("wait-exit needs PID");
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, (DWORD)pid);
    if (!process) {
        // Already gone (and reaped): nothing to wait for, and no exit code to show.
        printf("exit=unknown\n");
        return EXIT_OK;
    }
    std::vector<const char*> forbidden;
    if (hasFlag(args, "--no-dialog"))
        forbidden.push_back("*");
    for (const auto& entry : args.options)
        if (entry.first == "--fail-on")
            forbidden.push_back(entry.second);
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(process, pollMs) == WAIT_OBJECT_0)
            break;
        if (!forbidden.empty()) {
            ProcessDialogs search = {(DWORD)pid, forbidden, NULL};
            EnumWindows(findProcessDialog, (LPARAM)&search);
            if (search.found) {
                std::string title, text;
                windowText(search.found, &title);
                HWND textControl = GetDlgItem(search.found, msgboxTextId);
                if (textControl)
                    windowText(textControl, &text);
                CloseHandle(process);
                return fail("process %ld showed a dialog %s %s while it should have ended", pid,
                            quoted(title).c_str(), quoted(text).c_str());
            }
        }
        if (GetTickCount() - start >= args.timeoutMs) {
            CloseHandle(process);
            return fail("process %ld still runs after %lu ms", pid, (unsigned long)args.timeoutMs);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    printf("exit=%lu\n", (unsigned long)code);
    return EXIT_OK;
}

// ---- dialogs ----

static int commandWaitDialog(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("wait-dialog needs TITLE");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, args.timeoutMs);
    if (!dialog)
        return EXIT_FAILED;
    printDialog(dialog);
    return EXIT_OK;
}

// dialog-stays TITLE --timeout MS: the dialog is there now and all the time.
static int commandDialogStays(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("dialog-stays needs TITLE");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, 2000);
    if (!dialog)
        return EXIT_FAILED;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < args.timeoutMs) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog))
            return fail("dialog %s went away", quoted(args.positional[0]).c_str());
        Sleep(pollMs);
    }
    return EXIT_OK;
}

// text TITLE ID: the control's text exactly as it is, nothing added.
static int commandText(const Arguments& args)
{
    long id;
    if (args.positional.size() != 2 || !parseInt(args.positional[1], &id))
        return usageError("text needs TITLE ID");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, args.timeoutMs);
    if (!dialog)
        return EXIT_FAILED;
    HWND control = requireControl(dialog, (int)id);
    std::string text;
    if (!control || !windowText(control, &text))
        return EXIT_FAILED;
    fwrite(text.data(), 1, text.size(), stdout);
    return EXIT_OK;
}

// A click as the user makes it: the button presses itself and notifies its
// dialog. Posted, so a message box that the click opens cannot block us.
static int clickControl(HWND dialog, int id)
{
    HWND control = requireControl(dialog, id);
    if (!control)
        return EXIT_FAILED;
    if (!IsWindowEnabled(control))
        return fail("control %d is disabled", id);
    if (!PostMessageA(control, BM_CLICK, 0, 0))
        return fail("cannot post the click to control %d", id);
    return EXIT_OK;
}

static int commandClick(const Arguments& args)
{
    long id;
    if (args.positional.size() != 2 || !parseInt(args.positional[1], &id))
        return usageError("click needs TITLE ID");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, args.timeoutMs);
    return dialog ? clickControl(dialog, (int)id) : EXIT_FAILED;
}

static bool checkState(HWND control, DWORD_PTR* state)
{
    return SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, state) != 0;
}

// check TITLE ID 0|1: clicks the box if it is not in that state yet, then
// waits until it is.
static int commandCheck(const Arguments& args)
{
    long id, wanted;
    if (args.positional.size() != 3 || !parseInt(args.positional[1], &id) || !parseInt(args.positional[2], &wanted) ||
        (wanted != 0 && wanted != 1))
        return usageError("check needs TITLE ID 0|1");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, args.timeoutMs);
    if (!dialog)
        return EXIT_FAILED;
    HWND control = requireControl(dialog, (int)id);
    DWORD_PTR state = 0;
    if (!control || !checkState(control, &state))
        return EXIT_FAILED;
    if ((long)state != wanted && clickControl(dialog, (int)id) != EXIT_OK)
        return EXIT_FAILED;
    DWORD start = GetTickCount();
    while (checkState(control, &state) && (long)state != wanted) {
        if (GetTickCount() - start >= 2000)
            return fail("check box %ld stays %lu", id, (unsigned long)state);
        Sleep(pollMs);
    }
    printf("%lu\n", (unsigned long)state);
    return EXIT_OK;
}

// key TITLE esc|enter: the key as the keyboard gives it, to the dialog's
// focus window, so the dialog manager maps it to IDCANCEL or the default button.
static int commandKey(const Arguments& args)
{
    if (args.positional.size() != 2)
        return usageError("key needs TITLE esc|enter");
    UINT key;
    if (_stricmp(args.positional[1], "esc") == 0)
        key = VK_ESCAPE;
    else if (_stricmp(args.positional[1], "enter") == 0)
        key = VK_RETURN;
    else
        return usageError("key: esc or enter");
    HWND dialog = requireDialog(args.positional[0], PLAIN_DIALOG, args.timeoutMs);
    if (!dialog)
        return EXIT_FAILED;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyA(key, 0);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
    return EXIT_OK;
}

static const struct {
    const char* name;
    int id;
} buttonNames[] = {{"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDYES", IDYES}, {"IDNO", IDNO}};

// answer-msgbox CAPTION BUTTON [--text EXACT | --contains PART]
// [--then-click TITLE:ID]: finds the message box, checks its text, presses
// the button and waits until the box has gone. The text is printed either
// way; a wrong text fails after the box was answered, so the program under
// test does not hang on it. --then-click clicks a control of a dialog at
// once afterwards, faster than a second driver run could (to press Cancel
// again while a short install still runs).
static int commandAnswerMessageBox(const Arguments& args)
{
    if (args.positional.size() != 2)
        return usageError("answer-msgbox needs CAPTION BUTTON");
    int button = 0;
    for (const auto& entry : buttonNames)
        if (_stricmp(entry.name, args.positional[1]) == 0)
            button = entry.id;
    if (!button)
        return usageError("answer-msgbox: BUTTON is IDOK, IDCANCEL, IDYES or IDNO");
    HWND box = requireDialog(args.positional[0], MESSAGE_BOX, args.timeoutMs);
    if (!box)
        return EXIT_FAILED;
    std::string text;
    windowText(GetDlgItem(box, msgboxTextId), &text);
    std::string buttons;
    for (HWND child : childWindows(box)) {
        int id = GetDlgCtrlID(child);
        std::string label;
        if (id >= 1 && id <= 11 && windowText(child, &label))
            buttons += (buttons.empty() ? "" : ",") + label;
    }
    printf("msgbox %s text=%s buttons=%s\n", quoted(args.positional[0]).c_str(), quoted(text).c_str(),
           buttons.c_str());
    fflush(stdout);
    int result = EXIT_OK;
    const char* exact = option(args, "--text");
    const char* part = option(args, "--contains");
    if (exact && text != exact)
        result = fail("message box text differs\n  expected %s\n  actual   %s", quoted(exact).c_str(),
                      quoted(text).c_str());
    if (part && text.find(part) == std::string::npos)
        result = fail("message box text %s does not contain %s", quoted(text).c_str(), quoted(part).c_str());
    if (clickControl(box, button) != EXIT_OK)
        return EXIT_FAILED;
    DWORD start = GetTickCount();
    while (IsWindow(box)) {
        if (GetTickCount() - start >= 5000)
            return fail("the message box did not close after %s", args.positional[1]);
        Sleep(1);
    }
    const char* then = option(args, "--then-click");
    if (then) {
        std::string title = then;
        size_t colon = title.rfind(':');
        long id;
        if (colon == std::string::npos || !parseInt(title.c_str() + colon + 1, &id))
            return usageError("--then-click TITLE:ID");
        title.resize(colon);
        HWND dialog = requireDialog(title.c_str(), PLAIN_DIALOG, 0);
        if (!dialog || clickControl(dialog, (int)id) != EXIT_OK)
            return fail("could not click %ld of %s right after the message box", id, quoted(title).c_str());
        printf("clicked %ld of %s\n", id, quoted(title).c_str());
    }
    return result;
}

// wait-msgbox CAPTION: waits for a message box and prints its text, leaving
// it open.
static int commandWaitMessageBox(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("wait-msgbox needs CAPTION");
    HWND box = requireDialog(args.positional[0], MESSAGE_BOX, args.timeoutMs);
    if (!box)
        return EXIT_FAILED;
    std::string text;
    windowText(GetDlgItem(box, msgboxTextId), &text);
    RECT frame;
    GetWindowRect(box, &frame);
    settle(box);
    printf("msgbox %s rect=%ld,%ld,%ld,%ld text=%s\n", quoted(args.positional[0]).c_str(), frame.left, frame.top,
           frame.right - frame.left, frame.bottom - frame.top, quoted(text).c_str());
    return EXIT_OK;
}

// ---- top-level windows by class ----

// wait-window CLASS [--without OTHER]: waits for a top-level window of that
// class and prints its process and the program file that process runs.
// --without: fails if a window of class OTHER still exists at that moment.
static int commandWaitWindow(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("wait-window needs CLASS");
    const char* other = option(args, "--without");
    DWORD start = GetTickCount();
    HWND window;
    while (!(window = FindWindowA(args.positional[0], NULL))) {
        if (GetTickCount() - start >= args.timeoutMs)
            return fail("no window of class %s within %lu ms", args.positional[0], (unsigned long)args.timeoutMs);
        Sleep(pollMs);
    }
    if (other && FindWindowA(other, NULL))
        return fail("the window of class %s appeared while one of class %s was still there", args.positional[0], other);
    settle(window);
    RECT box;
    GetWindowRect(window, &box);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char image[MAX_PATH] = "";
    DWORD imageSize = MAX_PATH;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process) {
        if (!QueryFullProcessImageNameA(process, 0, image, &imageSize))
            image[0] = 0;
        CloseHandle(process);
    }
    printf("window %s pid=%lu rect=%ld,%ld,%ld,%ld image=%s\n", args.positional[0], (unsigned long)pid, box.left,
           box.top, box.right - box.left, box.bottom - box.top, image);
    return EXIT_OK;
}

// window-exists CLASS: 0 if there is one now, 1 if not.
static int commandWindowExists(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("window-exists needs CLASS");
    return FindWindowA(args.positional[0], NULL) ? EXIT_OK : EXIT_FAILED;
}

// no-window CLASS --timeout MS: no such window appears for that long.
static int commandNoWindow(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("no-window needs CLASS");
    DWORD start = GetTickCount();
    do {
        if (FindWindowA(args.positional[0], NULL))
            return fail("a window of class %s exists", args.positional[0]);
        Sleep(pollMs);
    } while (GetTickCount() - start < args.timeoutMs);
    return EXIT_OK;
}

static int commandWaitNoWindow(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("wait-no-window needs CLASS");
    DWORD start = GetTickCount();
    while (FindWindowA(args.positional[0], NULL)) {
        if (GetTickCount() - start >= args.timeoutMs)
            return fail("the window of class %s is still there after %lu ms", args.positional[0],
                        (unsigned long)args.timeoutMs);
        Sleep(pollMs);
    }
    return EXIT_OK;
}

static int commandCloseWindow(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("close-window needs CLASS");
    HWND window = FindWindowA(args.positional[0], NULL);
    if (!window)
        return fail("no window of class %s", args.positional[0]);
    PostMessageA(window, WM_CLOSE, 0, 0);
    return EXIT_OK;
}

// make-window: a stand-in for a running copy of the product.
static struct {
    const char* absentPath;   // must not exist when WM_CLOSE arrives
    bool ignoreClose;
    int closeCount;
    bool pathExisted;
} fake;

static LRESULT CALLBACK fakeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        fake.closeCount++;
        bool exists = fake.absentPath && GetFileAttributesA(fake.absentPath) != INVALID_FILE_ATTRIBUTES;
        fake.pathExisted = fake.pathExisted || exists;
        printf("WM_CLOSE %d at %lu ms%s\n", fake.closeCount, (unsigned long)GetTickCount(),
               exists ? ", but the path exists already" : "");
        fflush(stdout);
        if (!fake.ignoreClose)
            DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// make-window CLASS [--absent PATH] [--ignore-close] [--max-ms MS]: shows a
// window of that class until it is closed (or MS have passed). Exits 1 when
// PATH existed at a WM_CLOSE, or when no WM_CLOSE came.
static int commandMakeWindow(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("make-window needs CLASS");
    fake.absentPath = option(args, "--absent");
    fake.ignoreClose = hasFlag(args, "--ignore-close");
    long maxMs = 60000;
    if (option(args, "--max-ms") && !parseInt(option(args, "--max-ms"), &maxMs))
        return usageError("make-window: --max-ms needs a number");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = fakeWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = args.positional[0];
    if (!RegisterClassA(&windowClass))
        return fail("cannot register class %s", args.positional[0]);
    HWND window = CreateWindowA(args.positional[0], "running copy", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 80,
                                NULL, NULL, windowClass.hInstance, NULL);
    if (!window)
        return fail("cannot create the window");
    printf("ready\n");
    fflush(stdout);
    SetTimer(window, 1, (UINT)maxMs, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == window) {
            printf("time is up\n");
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (fake.pathExisted)
        return fail("%s existed when the window was asked to close", fake.absentPath);
    if (fake.closeCount == 0)
        return fail("the window was never asked to close");
    return EXIT_OK;
}

// ---- shortcuts and registry ----

static int commandReadShortcut(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("read-shortcut needs LNK");
    if (GetFileAttributesA(args.positional[0]) == INVALID_FILE_ATTRIBUTES)
        return fail("no shortcut file %s", args.positional[0]);
    if (FAILED(CoInitialize(NULL)))
        return fail("CoInitialize failed");
    int result = EXIT_FAILED;
    IShellLinkA* link = NULL;
    IPersistFile* file = NULL;
    WCHAR widePath[MAX_PATH];
    HRESULT status = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
    if (FAILED(status))
        fail("cannot create a shell link object: 0x%08lx", (unsigned long)status);
    else if (FAILED(status = link->QueryInterface(IID_IPersistFile, (void**)&file)))
        fail("no IPersistFile: 0x%08lx", (unsigned long)status);
    else if (!MultiByteToWideChar(CP_ACP, 0, args.positional[0], -1, widePath, MAX_PATH))
        fail("path too long: %s", args.positional[0]);
    else if (FAILED(status = file->Load(widePath, STGM_READ)))
        fail("cannot load %s: 0x%08lx", args.positional[0], (unsigned long)status);
    else {
        char path[MAX_PATH] = "", arguments[1024] = "", description[1024] = "", icon[MAX_PATH] = "",
             folder[MAX_PATH] = "";
        int iconIndex = 0;
        link->GetPath(path, MAX_PATH, NULL, SLGP_RAWPATH);
        link->GetArguments(arguments, (int)sizeof arguments);
        link->GetDescription(description, (int)sizeof description);
        link->GetIconLocation(icon, MAX_PATH, &iconIndex);
        link->GetWorkingDirectory(folder, MAX_PATH);
        printf("path=%s\narguments=%s\ndescription=%s\nicon=%s,%d\nworkdir=%s\n", path, arguments, description, icon,
               iconIndex, folder);
        result = EXIT_OK;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    return result;
}

static bool openKey(const char* fullName, HKEY* key)
{
    static const struct {
        const char* name;
        HKEY root;
    } roots[] = {{"HKLM\\", HKEY_LOCAL_MACHINE},
                 {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                 {"HKCU\\", HKEY_CURRENT_USER},
                 {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
    for (const auto& root : roots) {
        size_t length = strlen(root.name);
        if (_strnicmp(fullName, root.name, length) == 0)
            return RegOpenKeyExA(root.root, fullName + length, 0, KEY_READ, key) == ERROR_SUCCESS;
    }
    return false;
}

static std::string registryValue(DWORD type, const std::vector<BYTE>& data, DWORD size)
{
    char number[32];
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string text((const char*)data.data(), size);
        if (!text.empty() && text.back() == 0)
            text.pop_back();
        return std::string(type == REG_SZ ? "REG_SZ " : "REG_EXPAND_SZ ") + text;
    }
    case REG_DWORD:
        snprintf(number, sizeof number, "REG_DWORD %lu", (unsigned long)(size >= 4 ? *(const DWORD*)data.data() : 0));
        return number;
    default:
        snprintf(number, sizeof number, "TYPE%lu (%lu bytes)", (unsigned long)type, (unsigned long)size);
        return number;
    }
}

// reg-query KEY [VALUE]: "TYPE DATA" of the value, or every value of the key
// as "NAME=TYPE DATA" and then every subkey as "NAME\". Fails when the key
// or the value is missing. A REG_SZ value must end with its NUL; one
// without it is reported.
static int commandRegQuery(const Arguments& args)
{
    if (args.positional.empty() || args.positional.size() > 2)
        return usageError("reg-query needs KEY [VALUE]");
    HKEY key;
    if (!openKey(args.positional[0], &key)) {
        printf("missing key\n");
        return EXIT_FAILED;
    }
    int result = EXIT_OK;
    if (args.positional.size() == 2) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key, args.positional[1], NULL, &type, NULL, &size) != ERROR_SUCCESS) {
            printf("missing value\n");
            RegCloseKey(key);
            return EXIT_FAILED;
        }
        std::vector<BYTE> data(size + 1, 0);
        RegQueryValueExA(key, args.positional[1], NULL, &type, data.data(), &size);
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && (size == 0 || data[size - 1] != 0))
            result = fail("value %s is stored without its terminating NUL", args.positional[1]);
        printf("%s\n", registryValue(type, data, size).c_str());
    } else {
        for (DWORD index = 0;; index++) {
            char name[256];
            DWORD nameSize = sizeof name, type = 0, size = 0;
            if (RegEnumValueA(key, index, name, &nameSize, NULL, &type, NULL, &size) != ERROR_SUCCESS)
                break;
            std::vector<BYTE> data(size + 1, 0);
            nameSize = sizeof name;
            RegEnumValueA(key, index, name, &nameSize, NULL, &type, data.data(), &size);
            printf("%s=%s\n", name, registryValue(type, data, size).c_str());
        }
        for (DWORD index = 0;; index++) {
            char name[256];
            DWORD nameSize = sizeof name;
            if (RegEnumKeyExA(key, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            printf("%s\\\n", name);
        }
    }
    RegCloseKey(key);
    return result;
}

// screen-info: what the display gives programs: size, colour depth and
// whether it is a palette device.
static int commandScreenInfo(const Arguments&)
{
    HDC screen = GetDC(NULL);
    printf("width=%d height=%d bitspixel=%d planes=%d palette=%d\n", GetDeviceCaps(screen, HORZRES),
           GetDeviceCaps(screen, VERTRES), GetDeviceCaps(screen, BITSPIXEL), GetDeviceCaps(screen, PLANES),
           (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) ? 1 : 0);
    ReleaseDC(NULL, screen);
    return EXIT_OK;
}

// load-library NAME: loads a DLL the plain way (the search order a program
// gets when it does nothing about it) and prints the file it got.
static int commandLoadLibrary(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("load-library needs NAME");
    HMODULE module = LoadLibraryA(args.positional[0]);
    if (!module)
        return fail("cannot load %s: error %lu", args.positional[0], (unsigned long)GetLastError());
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    printf("%s\n", path);
    return EXIT_OK;
}

// ---- pixel checks of the background ----

// A bottom-up Windows bitmap in memory, as 0xRRGGBB pixels.
struct Image {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;   // row 0 at the top
    DWORD at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

static bool readFile(const char* path, std::vector<BYTE>* bytes)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    BYTE buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + got);
    fclose(file);
    return true;
}

static DWORD le32(const std::vector<BYTE>& b, size_t at)
{
    return (DWORD)b[at] | (DWORD)b[at + 1] << 8 | (DWORD)b[at + 2] << 16 | (DWORD)b[at + 3] << 24;
}

// Reads 8-bit palettized and 24-bit bitmaps, the forms the decoration and
// ImageMagick's "bmp3:" screenshots take.
static bool loadBitmap(const char* path, Image* image)
{
    std::vector<BYTE> b;
    if (!readFile(path, &b) || b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return fail("%s is not a bitmap file", path), false;
    DWORD headerSize = le32(b, 14), bitsOffset = le32(b, 10);
    int width = (int)le32(b, 18), height = (int)le32(b, 22);
    int bits = b[28] | b[29] << 8;
    DWORD colors = le32(b, 46);
    if (bits == 8 && colors == 0)
        colors = 256;
    bool topDown = height < 0;
    if (topDown)
        height = -height;
    size_t stride = ((size_t)width * bits + 31) / 32 * 4;
    if ((bits != 8 && bits != 24) || le32(b, 30) != 0 || width <= 0 ||
        bitsOffset + stride * height > b.size() || 14 + headerSize + 4 * colors > b.size())
        return fail("%s: only uncompressed 8- and 24-bit bitmaps are read", path), false;
    image->width = width;
    image->height = height;
    image->pixels.assign((size_t)width * height, 0);
    for (int y = 0; y < height; y++) {
        const BYTE* row = &b[bitsOffset + stride * (topDown ? y : height - 1 - y)];
        for (int x = 0; x < width; x++) {
            if (bits == 8 && row[x] >= colors)
                return fail("%s: pixel (%d,%d) has colour %u of %lu", path, x, y, row[x], (unsigned long)colors), false;
            const BYTE* p = bits == 24 ? row + 3 * x : &b[14 + headerSize + 4 * row[x]];
            image->pixels[(size_t)y * width + x] = (DWORD)p[2] << 16 | (DWORD)p[1] << 8 | p[0];
        }
    }
    return true;
}

// Writes a 24-bit bottom-up bitmap file.
static bool saveBitmap(const char* path, const Image& image)
{
    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER info = {};
    size_t stride = ((size_t)image.width * 3 + 3) / 4 * 4;
    info.biSize = sizeof info;
    info.biWidth = image.width;
    info.biHeight = image.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof info;
    fileHeader.bfSize = (DWORD)(fileHeader.bfOffBits + stride * image.height);
    bool written = fwrite(&fileHeader, sizeof fileHeader, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1;
    std::vector<BYTE> row(stride, 0);
    for (int y = image.height - 1; y >= 0 && written; y--) {
        for (int x = 0; x < image.width; x++) {
            DWORD p = image.at(x, y);
            row[3 * x] = (BYTE)p;
            row[3 * x + 1] = (BYTE)(p >> 8);
            row[3 * x + 2] = (BYTE)(p >> 16);
        }
        written = fwrite(row.data(), 1, stride, out) == stride;
    }
    return fclose(out) == 0 && written;
}

// screenshot OUT.bmp: the screen as the programs see it through GDI. On a
// palette display this is the reliable picture: an X capture there shows
// Wine's colours through whichever colormap X has installed.
static int commandScreenshot(const Arguments& args)
{
    if (args.positional.size() != 1)
        return usageError("screenshot needs OUT.bmp");
    HDC screen = GetDC(NULL);
    int W = GetDeviceCaps(screen, HORZRES), H = GetDeviceCaps(screen, VERTRES);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = W;
    info.bmiHeader.biHeight = -H;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC memory = CreateCompatibleDC(screen);
    bool copied = false;
    if (section && memory) {
        HGDIOBJ old = SelectObject(memory, section);
        copied = BitBlt(memory, 0, 0, W, H, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    Image image;
    if (copied) {
        image.width = W;
        image.height = H;
        image.pixels.assign((const DWORD*)bits, (const DWORD*)bits + (size_t)W * H);
        for (DWORD& p : image.pixels)
            p &= 0xFFFFFF;
    }
    if (memory)
        DeleteDC(memory);
    if (section)
        DeleteObject(section);
    ReleaseDC(NULL, screen);
    if (!copied)
        return fail("cannot copy the screen");
    if (!saveBitmap(args.positional[0], image))
        return fail("cannot write %s", args.positional[0]);
    return EXIT_OK;
}

// The expected screen: the three bands, then each decorative bitmap at its
// place, later ones over earlier ones, as the background paints them.
struct Placement {
    const char* name;
    int left, top;   // from the placement table, for a W x H screen
    int tileMode;
};

static void placements(int W, int H, Placement out[8])
{
    int topShadowLeft = W - 64 < 478 ? 414 : W - 64;
    int orangeLeft = W - 220 < 478 ? 478 : W - 220;
    const Placement table[8] = {
        {"BLUE", W - 256, H - 189, 2},   {"DIMENSION", 10, 12, 0},       {"LOGO", W - 257, H - 56, 0},
        {"TAMBERLYN", 10, H - 45, 0},    {"TOPSHADOW", topShadowLeft, 0, 1}, {"ORANGE", orangeLeft, 0, 0},
        {"BLUEWHITE", W - 64, H - 71, 1}, {"WHITEBLUE", W - 64, 96, 1}};
    memcpy(out, table, sizeof table);
}

static void drawCopy(Image* screen, std::vector<int>* owner, int slot, const Image& bitmap, int x0, int y0)
{
    for (int y = 0; y < bitmap.height; y++)
        for (int x = 0; x < bitmap.width; x++) {
            int sx = x0 + x, sy = y0 + y;
            if (sx < 0 || sy < 0 || sx >= screen->width || sy >= screen->height)
                continue;
            screen->pixels[(size_t)sy * screen->width + sx] = bitmap.at(x, y);
            (*owner)[(size_t)sy * screen->width + sx] = slot;
        }
}

static void drawPlacement(Image* screen, std::vector<int>* owner, int slot, const Image& bitmap, const Placement& p)
{
    int x = p.left, y = p.top;
    for (;;) {
        drawCopy(screen, owner, slot, bitmap, x, y);
        if (p.tileMode == 0)
            return;
        if (x > 0) {
            x -= bitmap.width;
            continue;
        }
        if (p.tileMode == 1 || y <= 97)
            return;
        y -= bitmap.height;
        if (y < 97)
            y = 97;
        x = p.left;
    }
}

// check-background SCREEN.bmp DECOR_DIR [--exclude X,Y,W,H]... [--palette]
// [--bands-only] [--diff OUT.bmp]: compares every pixel of the screenshot outside the
// excluded rectangles (the dialogs over the background) with the expected
// screen. Without --palette the blue band is the exact colour (86,128,170),
// "BLUE" is not drawn and every pixel must be exact; with it the BLUE tiles
// cover the band and colours are compared by consistency (below).
// --bands-only: no decorative bitmap is expected (a setup without a valid
// package shows the three bands alone).
static int commandCheckBackground(const Arguments& args)
{
    if (args.positional.size() != 2)
        return usageError("check-background needs SCREEN.bmp DECOR_DIR");
    Image screen;
    if (!loadBitmap(args.positional[0], &screen))
        return EXIT_FAILED;
    bool palette = hasFlag(args, "--palette");
    bool bandsOnly = hasFlag(args, "--bands-only");
    int W = screen.width, H = screen.height;
    Image expected;
    expected.width = W;
    expected.height = H;
    expected.pixels.assign((size_t)W * H, 0xFFFFFF);
    std::vector<int> owner((size_t)W * H, -1);   // -1 white band, -2 blue band, else slot
    for (int y = 96; y <= H - 62; y++)
        for (int x = 0; x < W; x++) {
            expected.pixels[(size_t)y * W + x] = 0x5680AA;
            owner[(size_t)y * W + x] = -2;
        }
    Placement table[8];
    placements(W, H, table);
    for (int slot = 0; slot < 8; slot++) {
        if ((slot == 0 && !palette) || bandsOnly)
            continue;
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s.bmp", args.positional[1], table[slot].name);
        Image bitmap;
        if (!loadBitmap(path, &bitmap))
            return EXIT_FAILED;
        drawPlacement(&expected, &owner, slot, bitmap, table[slot]);
    }
    std::vector<bool> excluded((size_t)W * H, false);
    for (const auto& entry : args.options) {
        if (entry.first != "--exclude")
            continue;
        long x, y, w, h;
        if (sscanf(entry.second, "%ld,%ld,%ld,%ld", &x, &y, &w, &h) != 4)
            return usageError("--exclude X,Y,W,H");
        for (long row = y < 0 ? 0 : y; row < y + h && row < H; row++)
            for (long col = x < 0 ? 0 : x; col < x + w && col < W; col++)
                excluded[(size_t)row * W + col] = true;
    }
    // Per region: pixels compared, pixels wrong, the first wrong one.
    struct Tally {
        long compared = 0, wrong = 0;
        int x = -1, y = -1;
        DWORD want = 0, got = 0;
    } tally[10];
    // In palette mode the colours on the screen are whatever the display's
    // palette makes of the bitmaps' colours, so colours are not compared:
    // each region's expected colour must show as one and the same screen
    // colour everywhere (the colour most pixels of that expected colour
    // show). A bitmap at a wrong place, or missing, breaks that.
    std::vector<std::map<DWORD, std::map<DWORD, long>>> shown(10);
    if (palette)
        for (size_t i = 0; i < expected.pixels.size(); i++)
            if (!excluded[i])
                shown[owner[i] + 2][expected.pixels[i]][screen.pixels[i]]++;
    std::vector<std::map<DWORD, DWORD>> mapped(10);
    for (int region = 0; region < 10; region++)
        for (const auto& colour : shown[region]) {
            long most = -1;
            for (const auto& seen : colour.second)
                if (seen.second > most) {
                    most = seen.second;
                    mapped[region][colour.first] = seen.first;
                }
        }
    std::vector<std::set<DWORD>> screenColours(10), expectedColours(10);
    Image diff = expected;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            size_t i = (size_t)y * W + x;
            if (excluded[i])
                continue;
            int region = owner[i] + 2;
            Tally& t = tally[region];
            t.compared++;
            DWORD want = expected.pixels[i], got = screen.pixels[i];
            screenColours[region].insert(got);
            expectedColours[region].insert(want);
            if (palette)
                want = mapped[region][want];
            bool same = want == got;
            diff.pixels[i] = same ? (got >> 2 & 0x3F3F3F) : 0xFF00FF;
            if (same)
                continue;
            if (t.wrong++ == 0) {
                t.x = x;
                t.y = y;
                t.want = want;
                t.got = got;
            }
        }
    const char* diffPath = option(args, "--diff");
    if (diffPath && !saveBitmap(diffPath, diff))
        fail("cannot write %s", diffPath);
    int result = EXIT_OK;
    for (int region = 0; region < 10; region++) {
        const Tally& t = tally[region];
        const char* name = region == 0 ? "blue band" : region == 1 ? "white bands" : table[region - 2].name;
        if (t.compared == 0) {
            // "BLUE" is drawn in palette mode only; a bitmap that lies wholly
            // under a dialog or under later ones has nothing to show either.
            printf("%-12s %s\n", name,
                   region >= 2 && bandsOnly    ? "not expected"
                   : region == 2 && !palette ? "not drawn (palette mode only)"
                                             : "not visible");
            continue;
        }
        // A region drawn in one flat colour where its bitmap has clearly
        // different colours would pass the palette test above: it is wrong
        // too. (Shades close to each other may well meet in one palette colour.)
        int spread = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            int low = 255, high = 0;
            for (DWORD colour : expectedColours[region]) {
                int channel = (int)(colour >> shift & 255);
                low = channel < low ? channel : low;
                high = channel > high ? channel : high;
            }
            spread = high - low > spread ? high - low : spread;
        }
        bool flat = palette && screenColours[region].size() < 2 && spread > 96;
        if (t.wrong == 0 && !flat) {
            printf("%-12s ok (%ld pixels, %zu colours shown for %zu)\n", name, t.compared, screenColours[region].size(),
                   expectedColours[region].size());
            continue;
        }
        if (flat) {
            printf("%-12s WRONG: one flat colour #%06lx where the bitmap has %zu colours\n", name,
                   (unsigned long)*screenColours[region].begin(), expectedColours[region].size());
            result = EXIT_FAILED;
            continue;
        }
        printf("%-12s WRONG: %ld of %ld pixels differ; first at (%d,%d): expected #%06lx, got #%06lx\n", name, t.wrong,
               t.compared, t.x, t.y, (unsigned long)t.want, (unsigned long)t.got);
        result = EXIT_FAILED;
    }
    return result;
}

// ---- entry ----

static const char* const help =
    "driver COMMAND ARGS [--timeout MS]   (default timeout 10000 ms)\n"
    "  start EXE [ARG...]                  start a program in its folder; prints its pid\n"
    "  run-command \"LINE\"                  start a command line as the system splits it; prints the pid\n"
    "  wait-path-gone PATH...              wait until none of the paths exists\n"
    "  wait-exit PID [--no-dialog|--fail-on TITLE]  wait for its end; prints exit=CODE\n"
    "  wait-dialog TITLE                   wait for a dialog (not a message box); lists its controls\n"
    "  dialog-stays TITLE --timeout MS     the dialog stays up that long\n"
    "  text TITLE ID                       print a control's text as it is\n"
    "  click TITLE ID                      click a button\n"
    "  check TITLE ID 0|1                  set a check box by clicking it\n"
    "  key TITLE esc|enter                 press a key in the dialog\n"
    "  answer-msgbox CAPTION BUTTON [--text EXACT|--contains PART] [--then-click TITLE:ID]\n"
    "                                      (CAPTION * for any)\n"
    "  wait-msgbox CAPTION                 wait for a message box, leave it open\n"
    "                                      check a message box's text and press IDOK/IDYES/IDNO/IDCANCEL\n"
    "  wait-window CLASS [--without OTHER] wait for a top-level window of that class\n"
    "  window-exists CLASS                 exit 0 if one exists now\n"
    "  no-window CLASS --timeout MS        none appears for that long\n"
    "  wait-no-window CLASS                wait until none exists\n"
    "  close-window CLASS                  post WM_CLOSE to one\n"
    "  make-window CLASS [--absent PATH] [--ignore-close] [--max-ms MS]\n"
    "                                      be a running copy of a product until closed\n"
    "  read-shortcut LNK                   path, arguments, description, icon, workdir\n"
    "  reg-query KEY [VALUE]               TYPE DATA of a value, or all values and subkeys\n"
    "  screen-info                         size and colour depth of the display\n"
    "  screenshot OUT.bmp                  the screen through GDI, as a 24-bit bitmap\n"
    "  load-library NAME                   load a DLL by the plain search order; prints its file\n"
    "  check-background SCREEN.bmp DECOR_DIR [--exclude X,Y,W,H]... [--palette] [--bands-only]\n"
    "                   [--diff OUT.bmp]   pixels of the background against the expected screen\n";

int main(int argc, char** argv)
{
    // Texts go out byte for byte: no CR added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2 || strcmp(argv[1], "help") == 0) {
        fputs(help, argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_USAGE : EXIT_OK;
    }
    Arguments args;
    if (!parseArguments(argc - 2, argv + 2, &args))
        return usageError("an option lacks its value");
    static const struct {
        const char* name;
        int (*run)(const Arguments&);
    } commands[] = {
        {"start", commandStart},
        {"run-command", commandRunCommand},
        {"wait-path-gone", commandWaitPathGone},
        {"wait-exit", commandWaitExit},
        {"wait-dialog", commandWaitDialog},
        {"dialog-stays", commandDialogStays},
        {"text", commandText},
        {"click", commandClick},
        {"check", commandCheck},
        {"key", commandKey},
        {"answer-msgbox", commandAnswerMessageBox},
        {"wait-msgbox", commandWaitMessageBox},
        {"wait-window", commandWaitWindow},
        {"window-exists", commandWindowExists},
        {"no-window", commandNoWindow},
        {"wait-no-window", commandWaitNoWindow},
        {"close-window", commandCloseWindow},
        {"make-window", commandMakeWindow},
        {"read-shortcut", commandReadShortcut},
        {"reg-query", commandRegQuery},
        {"check-background", commandCheckBackground},
        {"screen-info", commandScreenInfo},
        {"screenshot", commandScreenshot},
        {"load-library", commandLoadLibrary},
    };
    for (const auto& command : commands)
        if (strcmp(argv[1], command.name) == 0) {
            int result = command.run(args);
            fflush(stdout);
            return result;
        }
    return usageError("unknown command");
}
