// scenarios.cpp - the installer's scenarios: a full install of two products,
// cancelling at each point, a running copy of the product, damaged and
// truncated setups, an install folder too long, a planted DLL and the
// 256-colour screen.
//
// The demo installs in a moment, so its installing dialog is never waited
// for: what that dialog shows is read on the big product while the Cancel
// question holds the install worker.
#include "driver.h"
#include <stdio.h>
#include <string.h>
#include <algorithm>

static const char* const welcomeDemo =
    "Welcome to the Demo setup program.\n\nThis setup will install Demo V1.0 on your computer.\n\n"
    "When you are ready to start installing the program, click Finish.";
static const char* const confirmText = "The setup is not finished! Do you really want to abort?";
static const char* const truncatedText =
    "This setup program is truncated.  It's most likely that the download wasn't fully completed.  "
    "Please get a new copy.";

const char* const demoFiles[] = {"Uninst.exe",        "Demo.exe=Demo.exe",       "Help.txt=Help.txt",
                                 "License.txt=License.txt", "Sample1.txt=Sample1.txt", "Sample2.txt=Sample2.txt",
                                 "Pattern.bmp=Pattern.bmp"};
const int demoFileCount = sizeof demoFiles / sizeof demoFiles[0];

std::string stagePath(const char* name)
{
    return setting.stage + "\\" + name;
}

std::string copyToDownloads(const char* setupName)
{
    makeFolders("C:\\Downloads");
    std::string target = std::string("C:\\Downloads\\") + setupName;
    copyFile(stagePath(setupName), target);
    return target;
}

// Every installed file, and no other, byte for byte its source; index 4 and
// above lie under "Samples". The first is the uninstaller (composed, no source).
bool expectFiles(const char* sourceFolder, const std::string& dir, const char* const* files, int count)
{
    bool ok = true;
    std::vector<std::string> expected;
    for (int index = 0; index < count; index++) {
        std::string entry = files[index];
        size_t equals = entry.find('=');
        std::string name = entry.substr(0, equals);
        std::string path = (index >= 4 ? "Samples\\" : "") + name;
        expected.push_back(".\\" + path);
        std::string installed, source;
        if (!readFile(dir + "\\" + path, &installed))
            ok = fail("file %d %s was not installed", index, path.c_str());
        else if (index > 0 && (!readFile(stagePath(sourceFolder) + "\\" + entry.substr(equals + 1), &source) ||
                               installed != source))
            ok = fail("file %d %s differs from its source %s", index, path.c_str(), entry.substr(equals + 1).c_str());
        else
            pass("file %d %s", index, path.c_str());
    }
    std::sort(expected.begin(), expected.end());
    return expectEqual("the files of " + dir, joinLines(expected), joinLines(listTree(dir, true))) && ok;
}

bool expectUninstallEntry(const char* product, const char* version, const std::string& dir, const char* uninstaller,
                          const char* publisher)
{
    std::string key = std::string(uninstallKey) + "\\" + product, uninst = dir + "\\" + uninstaller;
    if (!regKeyExists(key.c_str()))
        return fail("no uninstall entry %s", key.c_str());
    note("%s", joinLines(regDump(key.c_str())).c_str());
    const struct {
        const char* name;
        std::string expected;
    } values[] = {{"DisplayName", std::string("REG_SZ ") + product},
                  {"UninstallString", "REG_SZ \"" + uninst + "\""},
                  {"DisplayVersion", std::string("REG_SZ ") + version},
                  {"InstallLocation", "REG_SZ " + dir},
                  {"NoModify", "REG_DWORD 1"},
                  {"NoRepair", "REG_DWORD 1"}};
    bool ok = true;
    for (const auto& value : values) {
        std::string data = "(missing)";
        regValue(key.c_str(), value.name, &data);
        ok = expectEqual(value.name, value.expected, data) && ok;
    }
    // The list of programs shows the script's publisher; a script without one gets none.
    std::string named = "(missing)";
    regValue(key.c_str(), "Publisher", &named);
    ok = expectEqual("Publisher", publisher ? std::string("REG_SZ ") + publisher : "(missing)", named) && ok;
    std::string icon = "(missing)";
    regValue(key.c_str(), "DisplayIcon", &icon);
    ok = expect(icon == "REG_SZ " + uninst + ",1" || icon == "REG_SZ \"" + uninst + "\",1",
                "DisplayIcon %s is the uninstaller with icon index 1", quoted(icon).c_str()) &&
         ok;
    long long size = treeSize(dir);
    std::string kb = "(missing)";
    regValue(key.c_str(), "EstimatedSize", &kb);
    char floor[48], ceiling[48];
    snprintf(floor, sizeof floor, "REG_DWORD %lld", size / 1024);
    snprintf(ceiling, sizeof ceiling, "REG_DWORD %lld", (size + 1023) / 1024);
    return expect(kb == floor || kb == ceiling, "EstimatedSize %s for %lld bytes of files", kb.c_str(), size) && ok;
}

bool expectShortcut(const std::string& lnk, const std::string& target, const char* description,
                           const char* arguments, const std::string& icon)
{
    Shortcut link;
    if (!readShortcut(lnk, &link))
        return false;
    bool ok = expectEqual("target of " + lnk, target, link.path);
    ok = expectEqual("description of " + lnk, description, link.description) && ok;
    ok = expectEqual("arguments of " + lnk, arguments, link.arguments) && ok;
    return expectEqual("icon of " + lnk, icon, link.icon) && ok;
}

// No install folder, no Start Menu group, no uninstall entry, and the
// machine as it was before the setup started.
static void expectNothingInstalled(const Folders& folders, const std::vector<std::string>& before, const char* product,
                                   const char* folder)
{
    std::string dir = folders.programFiles + "\\" + folder;
    if (fileExists(dir))
        fail("the install folder remains: %s", joinLines(listTree(dir)).c_str());
    expect(!fileExists(folders.allPrograms + "\\" + folder) && !fileExists(folders.programs + "\\" + folder),
           "no Start Menu group %s, for all users or the user", folder);
    expect(!regKeyExists((std::string(uninstallKey) + "\\" + product).c_str()), "no uninstall entry %s", product);
    expectSnapshot("after the setup", before, snapshot(folders));
}

static const Control* picture(const Dialog& dialog)
{
    for (const Control& c : dialog.controls)
        if (c.className == "Static" && (c.style & SS_TYPEMASK) == SS_BITMAP)
            return &c;
    return NULL;
}

static size_t pictureColours(const Dialog& dialog, const Image& screen)
{
    const Control* control = picture(dialog);
    return control ? coloursIn(screen, control->screen) : 0;
}

// The dialog's picture (its static bitmap control): the resource's bitmap
// file fills the control's client area, which is the picture's size at dpi
// (give or take what the dialog's font makes of it). Nothing of the dialog
// may lie over it: the controls below it, the separator line first.
// The screen rectangle (x, y, width, height) of the client area of the
// dialog's picture control. False when it has none.
static bool pictureArea(const Dialog& dialog, RECT* area)
{
    for (HWND child = GetWindow(dialog.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "";
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Static") != 0 || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP)
            continue;
        RECT client;
        POINT corner = {0, 0};
        GetClientRect(child, &client);
        ClientToScreen(child, &corner);
        *area = {corner.x, corner.y, client.right, client.bottom};
        return true;
    }
    return false;
}

static std::string picturePath(const char* file)
{
    return setting.decor + "\\..\\" + file;
}

// A screenshot once the dialog's picture shows: on a loaded machine the
// dialog's thread may still be painting it when the dialog is found. After
// the wait the screenshot is taken as it is, and the checks say what is wrong.
static void screenshotPainted(const char* name, const Dialog& dialog, const char* file, Image* screen)
{
    RECT area;
    DWORD start = GetTickCount();
    while (screenshot(name, &dialog.rect, screen) && pictureArea(dialog, &area) &&
           !pictureShown(*screen, picturePath(file).c_str(), area) && GetTickCount() - start < DEFAULT_WAIT_MS)
        Sleep(100);
}

static bool expectDialogPicture(const char* name, const Dialog& dialog, const Image& screen, const char* file, int dpi)
{
    RECT area;
    if (pictureArea(dialog, &area)) {
        std::string path = picturePath(file);
        bool clear = true;
        for (const Control& c : dialog.controls) {
            RECT overlap, box = {c.screen.left, c.screen.top, c.screen.left + c.screen.right, c.screen.top + c.screen.bottom},
                 picture = {area.left, area.top, area.left + area.right, area.top + area.bottom};
            if ((c.style & SS_TYPEMASK) == SS_BITMAP && c.className == "Static")
                continue;
            if (IntersectRect(&overlap, &box, &picture))
                clear = fail("control %d (%s) lies over the picture of %s", c.id, c.className.c_str(), name);
        }
        return checkPicture(name, screen, path.c_str(), dpi, area) && clear;
    }
    return fail("%s has no picture control", name);
}

static std::string controlAt(const Dialog& dialog, int id)
{
    const Control* c = dialog.control(id);
    if (!c)
        return "(no control)";
    char text[64];
    snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", c->units.left, c->units.top, c->units.right, c->units.bottom);
    return text;
}

static std::string dialogSize(const Dialog& dialog)
{
    char text[32];
    snprintf(text, sizeof text, "%ldx%ld", dialog.units.cx, dialog.units.cy);
    return text;
}

bool installQuietly(const char* setupName)
{
    HANDLE setup = startSetup(copyToDownloads(setupName));
    Dialog dialog;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) || !click("Install", IDC_FINISH) ||
        !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog) || !setCheck("Finished", IDC_RUN_PRODUCT, 0) ||
        !click("Finished", IDC_FINISH))
        return fail("the install of %s did not go through", setupName);
    return waitExit(setup, "the setup", DEFAULT_WAIT_MS) && expectExitCode("a completed install", EXIT_DONE);
}

// Full install of the demo, "Run Demo" left ticked: every text, file,
// shortcut and registry value; screenshots and pixel checks.
void scenarioInstall(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string startup = joinLines(listTree(folders.startup)), allStartup = joinLines(listTree(folders.allStartup));
    // Bait for an unquoted start of "C:\Program Files\Demo Product\Demo.exe":
    // the system would run C:\Program.exe, whose window has the same class.
    copyFile(stagePath("demo\\Demo.exe"), "C:\\Program.exe");
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    Image screen;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    screenshot("welcome", &dialog.rect, &screen);
    expectText("Install", IDC_TEXT, welcomeDemo);
    expectLiteralText(dialog, IDC_TEXT);
    expectEqual("welcome dialog size (dialog units)", "293x167", dialogSize(dialog));
    size_t colours = pictureColours(dialog, screen);
    expect(colours > 8, "the welcome picture shows %zu colours: bitmap 103 of template 101", colours);
    checkBackground("welcome", screen, dialog.rect, BACKGROUND_FULL);
    if (!click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    screenshotPainted("finished", dialog, "picture.bmp", &screen);
    // Its control takes the picture's size: pixel for pixel. (The welcome's
    // bordered place is a little smaller; the system fits the picture into it.)
    expectDialogPicture("finished", dialog, screen, "picture.bmp", 96);
    std::string dir = folders.programFiles + "\\Demo Product";
    expectText("Finished", IDC_TEXT,
               "Setup is complete and Demo V1.0 is now installed on your computer!\n\n"
               "Demo is accessible through the Start Menu, under Demo Product.\n\n"
               "Some sample files can be found in " +
                   dir + "\\Samples\n\nClick Finish.");
    expectText("Finished", IDC_RUN_PRODUCT, "Run Demo");
    expectLiteralText(dialog, IDC_TEXT);
    expectEqual("check box 1001 of the finished dialog (template 102)", "110,112,80,11", controlAt(dialog, IDC_RUN_PRODUCT));
    int ticked = -1;
    getCheck("Finished", IDC_RUN_PRODUCT, &ticked);
    expect(ticked == 1, "Run Demo is ticked");
    checkBackground("finished", screen, dialog.rect, BACKGROUND_FULL);

    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectUninstaller(dir + "\\Uninst.exe", stagePath("DemoSetup.exe"));
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");
    // A per-machine install: the group is every account's, in the all-users Start Menu.
    std::string group = folders.allPrograms + "\\Demo Product";
    expectEqual("shortcuts of the all-users group", ".\\Demo.lnk\n.\\Uninstall Demo.lnk\n", joinLines(listTree(group)));
    expect(!fileExists(folders.programs + "\\Demo Product"), "no group in the user's own Start Menu");
    expectShortcut(group + "\\Demo.lnk", dir + "\\Demo.exe", "Demo", "", ",0");
    expectShortcut(group + "\\Uninstall Demo.lnk", dir + "\\Uninst.exe", "Uninstall Demo", "",
                   dir + "\\Uninst.exe,1");
    expectEqual("Startup folder (StartupArguments \"|\")", startup, joinLines(listTree(folders.startup)));
    expectEqual("all users' Startup folder", allStartup, joinLines(listTree(folders.allStartup)));

    // Finish with the box ticked: the product starts once the background has gone.
    if (!click("Finished", IDC_FINISH))
        return;
    HWND product = waitWindowOfClass("TambDemoWindow", DEFAULT_WAIT_MS);
    if (!product)
        return;
    expect(!FindWindowA("TambSetupClass", NULL), "the background had gone when the product started");
    expectEqual("the program started", dir + "\\Demo.exe", imageOfWindow(product));
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS))
        expect(countProcesses("Demo.exe") == 1 && countProcesses("Program.exe") == 0,
               "one copy of the product runs, and the bait C:\\Program.exe does not");
    PostMessageA(product, WM_CLOSE, 0, 0);
    waitNoWindowOfClass("TambDemoWindow", DEFAULT_WAIT_MS);
}

// The demo at a DPI other than 96 (LogPixels set, and read back, before the
// setup starts), on a screen larger by as much: the 800x600 of the other
// scenarios, scaled. The background's layout and the two dialog pictures
// are the 96 DPI ones scaled, the pictures smoothly and without gaps beside
// them; the dialogs' texts are as at 96 DPI.
static void installAtDpi(int dpi)
{
    int bits = 0;
    bool palette = false;
    screenInfo(&bits, &palette);
    HDC screenDc = GetDC(NULL);
    int W = GetDeviceCaps(screenDc, HORZRES), H = GetDeviceCaps(screenDc, VERTRES);
    ReleaseDC(NULL, screenDc);
    if (!expect(W == 800 * dpi / 96 && H == 600 * dpi / 96 && bits > 8,
                "the screen is 800x600 at %d DPI, in true colour: %dx%d, %d bits", dpi, W, H, bits) ||
        !expect(regSetDword("HKCU\\Control Panel\\Desktop", "LogPixels", (DWORD)dpi),
                "LogPixels of the prefix reads back as %d", dpi))
        return;
    Folders folders;
    if (!readFolders(&folders))
        return;
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    Image screen;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    std::string welcome = "welcome-" + std::to_string(dpi) + "dpi", finished = "finished-" + std::to_string(dpi) + "dpi";
    screenshotPainted(welcome.c_str(), dialog, "picture.bmp", &screen);
    HWND window = FindWindowA("TambSetupClass", NULL);
    RECT area = {};
    if (window)
        GetClientRect(window, &area);
    expect(area.right == W && area.bottom == H, "the background covers the %dx%d screen (%ldx%ld)", W, H, area.right,
           area.bottom);
    expectText("Install", IDC_TEXT, welcomeDemo);
    checkBackground(welcome.c_str(), screen, dialog.rect, BACKGROUND_FULL, dpi);
    expectDialogPicture(welcome.c_str(), dialog, screen, "picture.bmp", dpi);
    if (!click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    screenshotPainted(finished.c_str(), dialog, "picture.bmp", &screen);
    expectText("Finished", IDC_RUN_PRODUCT, "Run Demo");
    checkBackground(finished.c_str(), screen, dialog.rect, BACKGROUND_FULL, dpi);
    expectDialogPicture(finished.c_str(), dialog, screen, "picture.bmp", dpi);
    if (!setCheck("Finished", IDC_RUN_PRODUCT, 0) || !click("Finished", IDC_FINISH))
        return;
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS))
        expectExitCode("a completed install", EXIT_DONE);
}

void scenarioInstallDpi144(void)
{
    installAtDpi(144);
}

void scenarioInstallDpi192(void)
{
    installAtDpi(192);
}

// The other configuration: plain finished text (install folder "Tamberlyn",
// no samples description), help shortcut, subfolder, Startup shortcut with
// arguments, another BackgroundColor (the class brush: the bands stay as
// they are); "Run" unticked, so nothing starts. The product carries the big
// data file, so the installing dialog is read while the Cancel question
// holds the worker; No lets the install go on to its end.
void scenarioInstallViewer(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string dir = folders.programFiles + "\\Tamberlyn", group = folders.allPrograms + "\\Tamberlyn\\Extras";
    std::string startup = joinLines(listTree(folders.startup));
    HANDLE setup = startSetup(copyToDownloads("ViewerSetup.exe"));
    Dialog dialog;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    expectText("Install", IDC_TEXT,
               "Welcome to the Tamb Viewer setup program.\n\nThis setup will install Tamb Viewer V2.5b on your "
               "computer.\n\nWhen you are ready to start installing the program, click Finish.");
    Dialog installing;
    if (!pressKey("Install", VK_RETURN) || !waitDialog("Installing", PLAIN_DIALOG, DEFAULT_WAIT_MS, &installing) ||
        !click("Installing", IDCANCEL) || !waitDialog("Confirm", MESSAGE_BOX, DEFAULT_WAIT_MS, &dialog))
        return;
    expectText("Installing", IDC_LABEL, "Setting up Tamb Viewer");
    expectLiteralText(installing, IDC_LABEL);
    expectLiteralText(installing, IDC_CURRENT_FILE);
    if (!answerMessageBox("Confirm", IDNO, confirmText, false) ||
        !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    Image screen;
    screenshot("viewer-finished", &dialog.rect, &screen);
    checkBackground("viewer-finished", screen, dialog.rect, BACKGROUND_FULL);
    expectText("Finished", IDC_TEXT,
               "Setup is complete and Tamb Viewer V2.5b is now installed on your computer!\n\nTamb Viewer is "
               "accessible through the Start Menu, under Tamberlyn.\n\nClick Finish.");
    expectText("Finished", IDC_RUN_PRODUCT, "Run Tamb Viewer");

    static const char* const files[] = {"Uninstall.exe", "Viewer.exe=Demo.exe", "Viewer.HLP=Viewer.HLP",
                                        "License.txt=License.txt", "Sample1.txt=Sample1.txt", "Data.txt=Data.txt"};
    expectFiles("viewer", dir, files, sizeof files / sizeof files[0]);
    expectUninstallEntry("Tamb Viewer", "2.5b", dir, "Uninstall.exe", NULL);
    std::vector<std::string> top;
    for (const std::string& path : listTree(folders.allPrograms + "\\Tamberlyn"))
        if (path.find('\\', 2) == std::string::npos)
            top.push_back(path);
    expectEqual("the Start Menu group", ".\\Extras\n", joinLines(top));
    expectEqual("shortcuts of the group", ".\\Remove Tamb Viewer.lnk\n.\\Tamb Viewer Help.lnk\n.\\Tamb Viewer.lnk\n",
                joinLines(listTree(group)));
    expectShortcut(group + "\\Tamb Viewer.lnk", dir + "\\Viewer.exe", "Tamb Viewer", "", ",0");
    expectShortcut(group + "\\Tamb Viewer Help.lnk", dir + "\\Viewer.HLP", "Tamb Viewer Help", "", ",0");
    expectShortcut(group + "\\Remove Tamb Viewer.lnk", dir + "\\Uninstall.exe", "Remove Tamb Viewer", "",
                   dir + "\\Uninstall.exe,1");
    expectShortcut(folders.allStartup + "\\Tamb Viewer.lnk", dir + "\\Viewer.exe", "Tamb Viewer", "-tray", ",0");
    expect(!fileExists(folders.programs + "\\Tamberlyn"), "no group in the user's own Start Menu");
    expectEqual("the user's own Startup folder", startup, joinLines(listTree(folders.startup)));

    if (!setCheck("Finished", IDC_RUN_PRODUCT, 0) || !click("Finished", IDC_FINISH))
        return;
    // A product that the setup started exists by the time the setup has ended.
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS))
        expect(countProcesses("Viewer.exe") == 0 && !FindWindowA("TambDemoWindow", NULL),
               "the product did not start (Run was unticked)");
}

// Cancel at the welcome dialog: No keeps it, Esc asks again, Yes ends the setup.
void scenarioWelcomeCancel(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    Image screen;
    if (!setup || !click("Install", IDC_WELCOME_CANCEL) || !waitDialog("Confirm", MESSAGE_BOX, DEFAULT_WAIT_MS, &dialog))
        return;
    screenshot("confirm-welcome", &dialog.rect, &screen);
    answerMessageBox("Confirm", IDNO, confirmText, false);
    dialogStays("Install", 1000);
    if (!pressKey("Install", VK_ESCAPE) || !answerMessageBox("Confirm", IDYES, confirmText, false))
        return;
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("a setup cancelled at its welcome", EXIT_CANCELLED);
    expectNothingInstalled(folders, before, "Demo", "Demo Product");
}

// Cancel while the big sample decodes: No goes on, Yes stops, and the
// rollback removes every file and both folders; nothing is registered.
static void cancelDuringInstall(const char* setupName, const char* shot)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    HANDLE setup = startSetup(copyToDownloads(setupName));
    Dialog dialog;
    if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Installing", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) ||
        !click("Installing", IDCANCEL))
        return;
    // No: the install goes on, and Cancel is pressed again at once (the
    // dialog is still there and Cancel still enabled, or the click fails).
    if (!answerMessageBox("Confirm", IDNO, confirmText, false) || !click("Installing", IDCANCEL) ||
        !waitDialog("Confirm", MESSAGE_BOX, DEFAULT_WAIT_MS, &dialog))
        return;
    if (shot) {
        Image screen;
        screenshot(shot, NULL, &screen);
    }
    // While the question is up the worker waits: the dialog shows its label
    // and the file of the install folder that it is writing.
    expectText("Installing", IDC_LABEL, "Installing Demo...");
    std::string file;
    controlText("Installing", IDC_CURRENT_FILE, &file);
    std::string dir = folders.programFiles + "\\Demo Product\\";
    expect(file.size() > dir.size() && file.compare(0, dir.size(), dir) == 0,
           "the installing dialog shows %s as the file being written", quoted(file).c_str());
    if (!answerMessageBox("Confirm", IDYES, confirmText, false))
        return;
    if (waitExit(setup, "the setup (rollback)", INSTALL_WAIT_MS, {"Finished", "Install"}))
        expectExitCode("a setup cancelled while installing", EXIT_CANCELLED);
    expectNothingInstalled(folders, before, "Demo", "Demo Product");
}

void scenarioInstallCancel(void)
{
    cancelDuringInstall("BigSetup.exe", "confirm-installing");
}

// The same with the worker run in place (as when no thread can be made): the
// abort must stay an abort.
void scenarioInstallCancelInPlace(void)
{
    cancelDuringInstall("BigSetupInPlace.exe", NULL);
}

// ---- a running copy of the product: a window of its class in a thread of ours ----

static struct {
    std::string absentPath;   // must not exist when WM_CLOSE arrives
    int closeCount;
    bool pathExisted;
    HANDLE ready;
} standIn;

static LRESULT CALLBACK standInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        standIn.closeCount++;
        standIn.pathExisted = standIn.pathExisted || fileExists(standIn.absentPath);
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static DWORD WINAPI standInThread(LPVOID)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = standInProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TambDemoWindow";
    HWND window = RegisterClassA(&windowClass)
                      ? CreateWindowA("TambDemoWindow", "running copy", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200,
                                      80, NULL, NULL, windowClass.hInstance, NULL)
                      : NULL;
    SetEvent(standIn.ready);
    if (!window)
        return 1;
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// A running copy of the product is closed before any file is written.
void scenarioRunningCopy(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    standIn.absentPath = dir;
    standIn.ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, standInThread, NULL, 0, NULL);
    if (!thread || WaitForSingleObject(standIn.ready, DEFAULT_WAIT_MS) != WAIT_OBJECT_0 ||
        !FindWindowA("TambDemoWindow", NULL)) {
        fail("the stand-in window of the running copy could not be made");
        return;
    }
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    if (WaitForSingleObject(thread, DEFAULT_WAIT_MS) != WAIT_OBJECT_0)
        fail("the running copy's window is still open when the install has finished");
    else if (expect(standIn.closeCount > 0, "the running copy was asked to close"))
        expect(!standIn.pathExisted, "the running copy was closed before %s existed", dir.c_str());
    CloseHandle(thread);
    setCheck("Finished", IDC_RUN_PRODUCT, 0);
    if (click("Finished", IDC_FINISH))
        waitExit(setup, "the setup", DEFAULT_WAIT_MS);
}

// The last bytes cut off: exactly one message box over the background of
// the three bands alone (no package to take the bitmaps from), then the end.
void scenarioTruncated(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    HANDLE setup = startSetup(copyToDownloads("TruncatedSetup.exe"));
    Dialog box;
    if (!setup || !waitDialog("Install", MESSAGE_BOX, DEFAULT_WAIT_MS, &box))
        return;
    Image screen;
    if (screenshot("truncated", &box.rect, &screen))
        checkBackground("truncated", screen, box.rect, BACKGROUND_BANDS_ONLY);
    if (!answerMessageBox("Install", IDOK, truncatedText, false))
        return;
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("a truncated setup", EXIT_DAMAGED);
    expectNothingInstalled(folders, before, "Demo", "Demo Product");
}

// A damaged entry: one message box naming the file, then the rollback;
// never "Setup is complete".
void scenarioDamagedEntry(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    HANDLE setup = startSetup(copyToDownloads("DamagedSetup.exe"));
    std::string file = folders.programFiles + "\\Demo Product\\Samples\\Sample2.txt";
    if (!setup || !click("Install", IDC_FINISH) || !answerMessageBox("Install", IDOK, file, true, INSTALL_WAIT_MS))
        return;
    if (waitExit(setup, "the setup (rollback)", INSTALL_WAIT_MS, {"Finished", "Install"}))
        expectExitCode("a setup rolled back after a damaged entry", EXIT_FAILED);
    expectNothingInstalled(folders, before, "Demo", "Demo Product");
}

// A folder of the user's where a product file belongs (Help.txt\ with a
// note in it): the install stops, naming it, and the rollback leaves the
// folder where and as it was; nothing else stays.
void scenarioFolderInTheWay(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string dir = folders.programFiles + "\\Demo Product", blocker = dir + "\\Help.txt";
    if (!makeFolders(blocker) || !writeFile(blocker + "\\notes.txt", "the user's notes"))
        return (void)fail("cannot make the folder %s", blocker.c_str());
    std::vector<std::string> before = snapshot(folders);
    if (!expect(joinLines(listTree(dir)) == ".\\Help.txt\n.\\Help.txt\\notes.txt\n", "the user's folder is in place"))
        return;
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    if (!setup || !click("Install", IDC_FINISH) || !answerMessageBox("Install", IDOK, blocker, true, INSTALL_WAIT_MS))
        return;
    if (waitExit(setup, "the setup (rollback)", INSTALL_WAIT_MS, {"Finished", "Install"}))
        expectExitCode("a setup stopped by a folder in the way", EXIT_FAILED);
    std::string notes;
    readFile(blocker + "\\notes.txt", &notes);
    expectEqual("the user's note", "the user's notes", notes);
    expectSnapshot("after the setup", before, snapshot(folders));
}

// A Program Files folder so long that the installed paths would not fit: a
// message, the end, and no file. The driver sets the folder and reads it
// back before the setup starts.
void scenarioLongPath(void)
{
    std::string longPath = "C:\\Program Files Of A Machine Whose Administrator Chose A Very Long Folder Name\\";
    for (int i = 0; i < 50; i++)
        longPath += "Sub";
    if (!regSetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", longPath))
        return;
    Folders folders;
    if (!readFolders(&folders, true) || !expectEqual("the long Program Files folder", longPath, folders.programFiles))
        return;
    std::vector<std::string> before = snapshot(folders);
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    if (!setup || !answerMessageBox("Install", IDOK, "too long", true))
        return;
    waitExit(setup, "the setup", DEFAULT_WAIT_MS, {"*"});
    expectNothingInstalled(folders, before, "Demo", "Demo Product");
}

// Wine prefers its own comctl32 whatever the search order, so the programs
// of this scenario run with Wine told to prefer a DLL file it finds, as
// Windows does; only they, by their file names.
static bool preferNativeComctl32(const char* program)
{
    std::string key = std::string("HKCU\\Software\\Wine\\AppDefaults\\") + program + "\\DllOverrides";
    return regSetString(key.c_str(), "comctl32", "native,builtin");
}

// A COMCTL32.DLL planted next to the setup is never loaded. A copy of the
// driver (probe.exe) doing a plain LoadLibrary from the same folder shows
// that the plant works. The progress bar of the installing dialog, which needs the common
// controls, is looked at while the Cancel question holds the big product's worker.
void scenarioPlantedDll(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    const std::string downloads = "C:\\Downloads", marker = "C:\\planted-dll-was-loaded.txt";
    std::string self = setting.self;
    makeFolders(downloads);
    if (!preferNativeComctl32("probe.exe") || !preferNativeComctl32("BigSetup.exe") ||
        !copyFile(self.substr(0, self.rfind('\\')) + "\\comctl32.dll", downloads + "\\comctl32.dll") ||
        !copyFile(self, downloads + "\\probe.exe"))
        return;
    HANDLE probe = startProgram(downloads + "\\probe.exe", "probe.exe load-library COMCTL32.DLL", downloads.c_str());
    if (!waitExit(probe, "the plain LoadLibrary", DEFAULT_WAIT_MS) ||
        !expect(fileExists(marker), "the plant works: a plain LoadLibrary loads C:\\Downloads\\comctl32.dll"))
        return;
    DeleteFileA(marker.c_str());
    DeleteFileA((downloads + "\\probe.exe").c_str());
    std::string exe = copyToDownloads("BigSetup.exe");
    HANDLE setup = startSetup(exe);
    Dialog dialog;
    if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Installing", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) ||
        !click("Installing", IDCANCEL) || !waitDialog("Confirm", MESSAGE_BOX, DEFAULT_WAIT_MS, &dialog))
        return;
    Dialog installing;
    HWND window = FindWindowA(NULL, "Installing");
    if (window && readDialog(window, &installing)) {
        const Control* bar = installing.control(IDC_PROGRESS);
        expect(bar && bar->className == "msctls_progress32",
               "the installing dialog has its progress bar: the common controls loaded");
    } else
        fail("the installing dialog went away while the Cancel question was up");
    if (!answerMessageBox("Confirm", IDNO, confirmText, false) ||
        !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    setCheck("Finished", IDC_RUN_PRODUCT, 0);
    if (click("Finished", IDC_FINISH))
        waitExit(setup, "the setup", DEFAULT_WAIT_MS);
    expect(!fileExists(marker), "the setup did not load the COMCTL32.DLL planted in its folder");
}

// A 256-colour screen: the welcome and finished dialogs are the palette
// templates 201 and 202, the background realizes the bitmaps' palette and
// shows the BLUE tiles.
void scenarioPalette(void)
{
    int bits = 0;
    bool palette = false;
    screenInfo(&bits, &palette);
    if (!expect(bits == 8, "the display is 8 bits deep (%d)", bits))
        return;
    Folders folders;
    if (!readFolders(&folders))
        return;
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    Image screen;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    screenshot("palette-welcome", &dialog.rect, &screen);
    expectText("Install", IDC_TEXT, welcomeDemo);
    size_t colours = pictureColours(dialog, screen);
    expect(colours >= 2 && colours <= 8, "the welcome picture shows %zu colours: the 8-colour bitmap 107 (template 201)",
           colours);
    checkBackground("palette-welcome", screen, dialog.rect, BACKGROUND_PALETTE);
    if (!click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    screenshot("palette-finished", &dialog.rect, &screen);
    expectEqual("check box 1001 of the finished dialog (template 202)", "110,112,71,11", controlAt(dialog, IDC_RUN_PRODUCT));
    expectText("Finished", IDC_RUN_PRODUCT, "Run Demo");
    colours = pictureColours(dialog, screen);
    expect(colours >= 2 && colours <= 8,
           "the finished picture shows %zu colours: the 8-colour bitmap 107 (template 202)", colours);
    setCheck("Finished", IDC_RUN_PRODUCT, 0);
    if (click("Finished", IDC_FINISH))
        waitExit(setup, "the setup", DEFAULT_WAIT_MS);
}

// Setups the builder refuses to make, each with one bad part of its
// configuration: the installer calls each one damaged and writes nothing at
// all, not even the Program Files folder. A sound crafted setup shows that
// the crafting works and is what the installer takes.
void scenarioCraftedSetups(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string winIni;
    readFile("C:\\windows\\win.ini", &winIni);
    std::vector<std::string> before = snapshot(folders);
    HANDLE sound = startSetup(copyToDownloads("CraftedSound.exe"));
    Dialog dialog;
    if (!sound || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) || !click("Install", IDC_WELCOME_CANCEL) ||
        !answerMessageBox("Confirm", IDYES, confirmText, false))
        return;
    if (waitExit(sound, "the sound crafted setup", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("the sound crafted setup, cancelled", EXIT_CANCELLED);
    const char* const crafted[] = {
        "CraftedParent.exe",       // "..\..\evil.txt" as a file name
        "CraftedSlash.exe",        // "../x.txt"
        "CraftedTrailingDots.exe", // "Demo.exe..." (the system drops the dots)
        "CraftedDevice.exe",       // "CON.txt"
        "CraftedSystemFile.exe",   // install folder "..\..\windows", a file "win.ini"
        "CraftedSubfolder.exe",    // Start Menu subfolder "..\..\x"
        "CraftedMissingEntry.exe", // File2 left out of the package
        "CraftedNoFiles.exe",      // a file count of 0
        "CraftedDeviceConin.exe",  // "CONIN$": the console, not a file
        "CraftedShortAlias.exe",   // "DOCU~ABT.TXT" may be "Documentation-long.txt" itself
        "CraftedProductKey.exe",   // product "AC\DC": two registry keys
        "CraftedDialogClass.exe",  // running-window class "#32770": every dialog box
        "CraftedShortcutClash.exe",// uninstall shortcut "%s": the program's
        "CraftedLineBreak.exe",    // a line break in the product name
    };
    for (const char* name : crafted) {
        note("---- %s", name);
        HANDLE setup = startSetup(copyToDownloads(name));
        if (!setup || !answerMessageBox("Install", IDOK, truncatedText, false))
            continue;
        if (waitExit(setup, name, DEFAULT_WAIT_MS, {"*"}))
            expectExitCode(name, EXIT_DAMAGED);
    }
    expectNothingInstalled(folders, before, "Crafted", "Crafted Product");
    expect(!regKeyExists((std::string(uninstallKey) + "\\AC").c_str()), "no uninstall entry AC (of \"AC\\DC\")");
    std::string winIniAfter;
    readFile("C:\\windows\\win.ini", &winIniAfter);
    expect(winIniAfter == winIni, "C:\\windows\\win.ini is as it was");
    expect(!fileExists("C:\\evil.txt") && !fileExists(folders.programFiles + "\\..\\evil.txt") &&
               !fileExists("C:\\x.txt"),
           "no file was written outside the install folder");
}

// A file where the Start Menu group belongs (all users' "Demo Product"):
// no shortcut can be made there, so the finished text promises no Start Menu
// and says what is missing, and the exit code says the install is incomplete.
void scenarioGroupInTheWay(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string blocker = folders.allPrograms + "\\Demo Product";
    if (!writeFile(blocker, "not a folder") || !fileExists(blocker))
        return (void)fail("cannot put the file %s", blocker.c_str());
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    expectText("Finished", IDC_TEXT,
               "Demo V1.0 is now installed on your computer, but not all of its Start Menu shortcuts (under Demo "
               "Product) or its entry in the list of programs could be made.\n\nSome sample files can be found in " +
                   dir + "\\Samples\n\nClick Finish.");
    expectFiles("demo", dir, demoFiles, demoFileCount);
    std::string content;
    readFile(blocker, &content);
    expectEqual("the file in the group's place", "not a folder", content);
    if (!setCheck("Finished", IDC_RUN_PRODUCT, 0) || !click("Finished", IDC_FINISH))
        return;
    if (waitExit(setup, "the setup", DEFAULT_WAIT_MS))
        expectExitCode("an install without its shortcuts", EXIT_INCOMPLETE);
}

// The all-users Programs folder names a drive that is not there: the user's
// "Programs" value is the fallback. Where it names the user's folder, the
// group goes there. Where it is missing, empty or names that drive too, the
// files install, the finished text says the shortcuts are missing instead of
// pointing to the Start Menu, and the exit code says the install is
// incomplete. Each time the uninstaller removes it all.
void scenarioProgramsFolderUnusable(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    const std::string machine[] = {"HKLM\\" + explorer + "User Shell Folders", "HKLM\\" + explorer + "Shell Folders"};
    const std::string user[] = {"HKCU\\" + explorer + "User Shell Folders", "HKCU\\" + explorer + "Shell Folders"};
    std::vector<SavedValue> saved(4);
    for (int i = 0; i < 2; i++) {
        regSave(machine[i].c_str(), "Common Programs", &saved[i]);
        regSave(user[i].c_str(), "Programs", &saved[2 + i]);
    }
    const char* nowhere = "Q:\\Nowhere\\Programs";
    if (fileExists("Q:\\"))
        return (void)fail("this prefix has a drive Q:, which the scenario needs missing");
    const struct {
        const char* what;
        const char* value;   // null: missing
    } cases[] = {{"missing", NULL}, {"empty", ""}, {"pointing nowhere", nowhere},
                 {"naming the user's folder", folders.programs.c_str()}};
    std::string dir = folders.programFiles + "\\Demo Product";
    for (const auto& c : cases) {
        note("the user's Programs folder value %s", c.what);
        bool set = regSetString(machine[0].c_str(), "Common Programs", nowhere) &&
                   regSetString(machine[1].c_str(), "Common Programs", nowhere);
        for (const std::string& key : user)
            set = set && (c.value ? regSetString(key.c_str(), "Programs", c.value)
                                  : regDeleteValue(key.c_str(), "Programs"));
        if (!set)
            break;
        HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
        Dialog dialog;
        if (!setup || !click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
            break;
        bool fallback = c.value == folders.programs.c_str();
        std::string samples = "Some sample files can be found in " + dir + "\\Samples\n\nClick Finish.";
        expectText("Finished", IDC_TEXT,
                   fallback ? "Setup is complete and Demo V1.0 is now installed on your computer!\n\nDemo is "
                              "accessible through the Start Menu, under Demo Product.\n\n" + samples
                            : "Demo V1.0 is now installed on your computer, but not all of its Start Menu shortcuts "
                              "(under Demo Product) or its entry in the list of programs could be made.\n\n" + samples);
        expectFiles("demo", dir, demoFiles, demoFileCount);
        if (!setCheck("Finished", IDC_RUN_PRODUCT, 0) || !click("Finished", IDC_FINISH))
            break;
        if (waitExit(setup, "the setup", DEFAULT_WAIT_MS))
            expectExitCode(fallback ? "an install into the user's Programs folder" : "an install without a Programs folder",
                           fallback ? EXIT_DONE : EXIT_INCOMPLETE);
        expect(!fileExists(folders.allPrograms + "\\Demo Product"), "no group in the all-users Programs folder");
        if (fallback)
            expectShortcut(folders.programs + "\\Demo Product\\Demo.lnk", dir + "\\Demo.exe", "Demo", "", ",0");
        else
            expect(!fileExists(folders.programs + "\\Demo Product"), "no group in the user's Programs folder");
        HANDLE uninstaller = startSetup(dir + "\\Uninst.exe");
        if (!uninstaller || !click("Uninstall", IDOK) ||
            !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog) || !click("Finished", IDOK))
            break;
        if (waitExit(uninstaller, "the uninstaller", DEFAULT_WAIT_MS, {"*"}))
            expectExitCode("the uninstall", EXIT_DONE);
        expect(waitGone(dir, 30000), "the install folder went");
        expect(!fileExists(folders.programs + "\\Demo Product"), "no group left in the user's Programs folder");
    }
    for (const SavedValue& value : saved)
        regRestore(value);
    expectSnapshot("after the installs and uninstalls", before, snapshot(folders));
}
