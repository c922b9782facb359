// driver.h - the end-to-end test driver: one Win32 console program that runs
// a whole scenario inside one Wine process. It starts the setup program,
// waits for its dialogs, reads and clicks their controls, and reads back
// files, shortcuts, registry values and the pixels of the screen.
//
// Every wait polls in short steps and ends at a timeout; a wait that times
// out says what it saw instead. Each check prints one line, "ok: ..." or
// "FAIL: ...", and the scenario's exit code is 1 when any check failed.
#ifndef E2E_DRIVER_H
#define E2E_DRIVER_H

#include <windows.h>

#include "app/setuplayout.h"   // decorativeBitmapNames, in drawing order
#include "resources/resource.h"   // the dialogs' control ids
#include "ui/setupwindow.h"    // the exit codes
#include <string>
#include <vector>

// ---- checks and log (checks.cpp) ----
void note(const char* format, ...);                 // a plain log line
bool pass(const char* format, ...);                 // "ok: ..."; returns true
bool fail(const char* format, ...);                 // "FAIL: ..."; counts; returns false
bool expect(bool held, const char* format, ...);    // pass or fail by held
bool expectEqual(const std::string& what, const std::string& expected, const std::string& actual);
int failureCount(void);
int passCount(void);
std::string quoted(const std::string& text);        // one line, control characters escaped
std::string joinLines(const std::vector<std::string>& lines);
// The driver's texts are UTF-8 and meet Windows through the wide functions,
// so names read back the same on every system code page.
std::wstring wide(const std::string& utf8);
std::string utf8(const wchar_t* text, int length = -1);   // -1: up to the NUL

// ---- where things are (set by main from the command line) ----
struct Setting {
    std::string stage;   // staged products: STAGE\DemoSetup.exe, STAGE\demo\Help.txt, ...
    std::string decor;   // the decorative bitmaps BLUE.bmp, ...
    std::string shots;   // screenshots go here as NAME.bmp and NAME-screen.bmp
    std::string self;    // this program's file
    bool wide;           // the 64-bit build
};
extern Setting setting;

// ---- windows and dialogs (windows.cpp) ----
enum DialogKind { PLAIN_DIALOG, MESSAGE_BOX };
enum { MSGBOX_TEXT_ID = 0xFFFF, DEFAULT_WAIT_MS = 30000, INSTALL_WAIT_MS = 90000 };

struct Control {
    int id;
    std::string className, text;
    RECT units;    // x, y, width, height in dialog units
    RECT screen;   // x, y, width, height on the screen
    LONG style;
    bool enabled, visible;
};
struct Dialog {
    HWND window;
    std::string title;
    RECT rect;      // x, y, width, height on the screen
    SIZE units;     // client area in dialog units
    std::vector<Control> controls;
    const Control* control(int id) const;
};

std::string windowText(HWND window);
// Waits for a visible dialog of that title ("*": any) and kind; logs its
// controls. On a timeout fails, listing the dialogs that were visible.
bool waitDialog(const char* title, DialogKind kind, DWORD timeoutMs, Dialog* dialog);
void describeDialogs(void);                          // logs every visible dialog
bool readDialog(HWND window, Dialog* dialog);
bool controlText(const char* title, int id, std::string* text);
// The static control shows its text literally: an "&" in a product name is
// no mnemonic (SS_NOPREFIX).
bool expectLiteralText(const Dialog& dialog, int id);
bool expectText(const char* title, int id, const std::string& expected);
bool click(const char* title, int id);               // posted BM_CLICK, as a user's click
bool setCheck(const char* title, int id, int wanted);   // clicks the box until it shows wanted
bool getCheck(const char* title, int id, int* state);
bool pressKey(const char* title, UINT key);          // VK_ESCAPE or VK_RETURN to its focus
// Waits for the message box, checks its text (exact, or contains when
// containsOnly), presses the button and waits until it has gone.
bool answerMessageBox(const char* caption, int button, const std::string& text, bool containsOnly,
                      DWORD timeoutMs = DEFAULT_WAIT_MS);
// The dialog is visible for that long without a break.
bool dialogStays(const char* title, DWORD ms);
HWND waitWindowOfClass(const char* className, DWORD timeoutMs);
bool waitNoWindowOfClass(const char* className, DWORD timeoutMs);
std::string imageOfWindow(HWND window);              // the program file of the window's process

// ---- processes (windows.cpp) ----
// Starts a program in folder (null: its own folder) with NUL as its standard
// handles; environment null: the driver's. Returns the process handle or null.
HANDLE startProgram(const std::string& exe, const std::string& commandLine, const char* folder,
                    const char* environment = NULL);
HANDLE startSetup(const std::string& exe);          // in its folder, as opened from the shell
// Wine's CreateProcess cannot start a program whose path is longer than
// MAX_PATH; its loader, started from the Unix side, can. Starts exe so (the
// script E2E_START_UNIX) and opens its process once it shows up: a handle
// for waitExit, or null (failed).
HANDLE startFromUnix(const std::string& exe);
int countProcesses(const char* exeName);             // running processes of that file name; -1 unknown
// Waits for the end. forbidden: dialog titles ("*": any) the process must
// not show meanwhile. Closes the handle.
bool waitExit(HANDLE process, const char* what, DWORD timeoutMs, const std::vector<const char*>& forbidden = {});
extern DWORD lastExitCode;                            // of the last waitExit that saw the end; -1 otherwise
bool expectExitCode(const char* what, DWORD expected);

// ---- files, shortcuts, registry (system.cpp) ----
bool fileExists(const std::string& path);
bool readFile(const std::string& path, std::string* bytes);
bool writeFile(const std::string& path, const std::string& bytes);
bool copyFile(const std::string& from, const std::string& to);
bool makeFolders(const std::string& path);           // with every missing parent
std::vector<std::string> listTree(const std::string& root, bool filesOnly = false);   // ".\a", sorted
long long treeSize(const std::string& root);
// Polls until the path is gone.
bool waitGone(const std::string& path, DWORD timeoutMs);

struct Shortcut {
    std::string path, arguments, description, icon;
};
bool readShortcut(const std::string& lnk, Shortcut* link);

// "REG_SZ text" / "REG_DWORD n"; false when the key or value is missing.
bool regValue(const char* key, const char* value, std::string* data);
bool regKeyExists(const char* key);
// Every value and subkey below key, one line each, subkeys' content after.
std::vector<std::string> regDump(const char* key);
// Create the key if needed, set the value and read it back.
bool regSetString(const char* key, const char* value, const std::string& data);
bool regSetDword(const char* key, const char* value, DWORD data);
// Deletes the value and reads back that it is gone.
bool regDeleteValue(const char* key, const char* value);
// A value as it was (or its absence), to put back whole, type and all, with
// regRestore, which reads it back.
struct SavedValue {
    std::string key, value;
    bool present;
    DWORD type;
    std::vector<BYTE> data;
};
void regSave(const char* key, const char* value, SavedValue* saved);
bool regRestore(const SavedValue& saved);

// The machine's folders, read from the registry before a scenario starts:
// the user's Start Menu programs and Startup, and the all-users ones, where
// a per-machine install puts its shortcuts.
struct Folders {
    std::string programFiles, programs, startup, allPrograms, allStartup;
};
bool readFolders(Folders* folders, bool anyProgramFiles = false);
// What an install changes and a rollback or an uninstall gives back: Program
// Files, the Start Menu programs and Startup of the user and of all users,
// the uninstall key with everything under it, and the entries of the root
// of C: (setups start from C:\Downloads, left out).
std::vector<std::string> snapshot(const Folders& folders);
bool expectSnapshot(const char* what, const std::vector<std::string>& before, const std::vector<std::string>& after);
extern const char* const uninstallKey;

// The composed uninstaller: the setup's MAIN entry followed by a package of
// exactly the bitmaps, each intact and equal to the setup's.
bool expectUninstaller(const std::string& uninstaller, const std::string& setup);

// ---- screen and pixels (pixels.cpp) ----
struct Image {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;   // 0xRRGGBB, row 0 at the top
    DWORD at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
// The screen through GDI, saved as SHOTS\NAME-screen.bmp and, with a crop
// rectangle (x, y, width, height), SHOTS\NAME.bmp.
bool screenshot(const char* name, const RECT* crop, Image* screen);
// Distinct colours in a rectangle (x, y, width, height) of the image.
size_t coloursIn(const Image& image, const RECT& rect);
enum { BACKGROUND_FULL = 0, BACKGROUND_PALETTE = 1, BACKGROUND_BANDS_ONLY = 2 };
// Every pixel outside exclude against the bands and the decorative bitmaps;
// wrong ones in magenta in SHOTS\NAME-diff.bmp.
// At another dpi than 96 the expected layout is the 96 DPI one scaled, and
// each bitmap smoothly scaled: a pixel of a bitmap must lie within the
// colours of the bitmap's pixels around the place it maps back to.
bool checkBackground(const char* name, const Image& screen, const RECT& exclude, int mode, int dpi = 96);
// The picture (a bitmap file: 8- or 24-bit, or RLE8) filling the rectangle
// area (x, y, width, height) of the screen, the same way (exactly when it is
// the picture's size); the area must be the picture's size at dpi, give or
// take a fifth (what the dialog's font makes of it).
bool checkPicture(const char* name, const Image& screen, const char* bitmapFile, int dpi, const RECT& area);
// The same without a word: whether the screen shows the picture there now.
bool pictureShown(const Image& screen, const char* bitmapFile, const RECT& area);
void screenInfo(int* bitsPerPixel, bool* palette);

// ---- benchmark commands (bench.cpp): exit codes of the driver ----
int benchInstall(const char* setupPath);
int benchCancel(const char* setupPath, int cycles, const char* installFolder);

// ---- scenarios (scenarios.cpp, uninstall_scenarios.cpp; listed in scenarios.txt) ----
struct Scenario {
    const char* name;
    void (*run)(void);
    int depth;   // of the display: 24, or 8 for the 256-colour palette one
};

// Shared by both sets of scenarios.
extern const char* const demoFiles[];      // "Name=Source", the uninstaller first
extern const int demoFileCount;
bool expectFiles(const char* sourceFolder, const std::string& dir, const char* const* files, int count);
// publisher null: the entry names none.
bool expectUninstallEntry(const char* product, const char* version, const std::string& dir, const char* uninstaller,
                          const char* publisher);
// The shortcut's target, description, arguments and icon ("path,index").
bool expectShortcut(const std::string& lnk, const std::string& target, const char* description,
                    const char* arguments, const std::string& icon);
// Within a bounded time the batch file has deleted the uninstaller, the
// folder (when not empty) and itself.
void expectSelfDeleted(const std::string& uninstaller, const std::string& folder);
// A complete install with "Run" unticked.
bool installQuietly(const char* setupName);
std::string stagePath(const char* name);   // SETTING.stage\name
std::string copyToDownloads(const char* setupName);   // C:\Downloads\NAME

#endif
