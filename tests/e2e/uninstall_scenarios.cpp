// uninstall_scenarios.cpp - the uninstaller's scenarios. Each installs a
// demo product first, then runs the uninstaller the way a user would: from
// the install folder, from a copy elsewhere, or through the
// "UninstallString" of the registry (Wine's list of programs).
#include "driver.h"

#include "package/peimage.h"
#include <stdio.h>
#include <string.h>

static const char* const welcomeDemo =
    "Welcome to the Demo uninstall program.\n\nThis program will remove all of the files, components and shortcuts "
    "that were installed on your computer by the Demo setup program.\n\nIf you do not want to remove the software, "
    "then click on Cancel.";
static const char* const finishedDemo =
    "The uninstall program has successfully removed the Demo 1.0 software from your computer.\n\nIf you would like "
    "to use this software again, you will need to run the setup program and re-install it.\n\nPress the OK button.";
// The self-deleting batch file gets a new name in the root each time
// (DelUS<n>.bat); this name, the one fixed name it once had, is what a
// squatter would take.
static const char* const squattedBatch = "C:\\DelUS.bat";
static const DWORD selfDeleteMs = 30000;

// Batch files of the uninstaller in the root of C: (files only: a squatter's
// folder of that pattern does not count).
static std::vector<std::string> batchFiles(void)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("C:\\DelUS*.bat", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && _stricmp(entry.cFileName, "DelUS.bat") != 0)
            found.push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

static bool waitNoBatchFile(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!batchFiles().empty()) {
        if (GetTickCount() - start >= timeoutMs)
            return fail("batch files remain after %lu ms: %s", (unsigned long)timeoutMs,
                        joinLines(batchFiles()).c_str());
        Sleep(100);
    }
    return pass("no batch file remains in C:\\");
}

static std::string controlIds(const Dialog& dialog)
{
    std::string ids;
    for (const Control& c : dialog.controls)
        ids += (ids.empty() ? "" : " ") + std::to_string(c.id);
    return ids;
}

static std::string controlTextOf(const Dialog& dialog, int id)
{
    const Control* c = dialog.control(id);
    return c ? c->text : "(no control)";
}

static LONG styleOf(const Dialog& dialog, int id)
{
    const Control* c = dialog.control(id);
    return c ? c->style : -1;
}

static std::string sizeOf(const Dialog& dialog)
{
    return std::to_string(dialog.units.cx) + "x" + std::to_string(dialog.units.cy);
}

// Dialog 301 over the uninstaller's window: layout and text; a screenshot
// and the background's pixels when shot is given.
static bool uninstallWelcome(const char* shot)
{
    Dialog dialog;
    if (!waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return false;
    if (shot) {
        Image screen;
        if (screenshot(shot, &dialog.rect, &screen))
            checkBackground(shot, screen, dialog.rect, BACKGROUND_FULL);
    }
    expectEqual("welcome dialog size (dialog units)", "227x125", sizeOf(dialog));
    expectEqual("welcome controls in tab order", "-1 108 2 1", controlIds(dialog));
    expectEqual("button 2", "Cancel", controlTextOf(dialog, IDCANCEL));
    expectEqual("button 1", "Uninstall", controlTextOf(dialog, IDOK));
    expect((styleOf(dialog, IDCANCEL) & 15) == BS_DEFPUSHBUTTON, "Cancel is the default button");
    expect((styleOf(dialog, IDOK) & 15) == BS_PUSHBUTTON, "Uninstall is a plain button");
    expect((styleOf(dialog, -1) & SS_TYPEMASK) == SS_ICON, "the picture is an icon control");
    expectLiteralText(dialog, IDC_TEXT);
    return expectText("Uninstall", IDC_TEXT, welcomeDemo);
}

static bool uninstallFinished(const char* shot)
{
    Dialog dialog;
    if (!waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return false;
    if (shot) {
        Image screen;
        if (screenshot(shot, &dialog.rect, &screen))
            checkBackground(shot, screen, dialog.rect, BACKGROUND_FULL);
    }
    expectEqual("finished dialog size (dialog units)", "227x125", sizeOf(dialog));
    expectEqual("finished controls", "-1 108 1", controlIds(dialog));
    expectEqual("button 1", "OK", controlTextOf(dialog, IDOK));
    expectLiteralText(dialog, IDC_TEXT);
    return expectText("Finished", IDC_TEXT, finishedDemo);
}

// Runs that uninstaller through both of its dialogs (Uninstall, then OK).
static bool uninstallQuietly(const std::string& uninstaller)
{
    HANDLE process = startSetup(uninstaller);
    Dialog dialog;
    if (!process || !click("Uninstall", IDOK) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog) ||
        !click("Finished", IDOK))
        return fail("the uninstaller %s did not go through", uninstaller.c_str());
    return waitExit(process, "the uninstaller", DEFAULT_WAIT_MS);
}

// Within a bounded time the batch file has deleted the uninstaller, the
// folder (when given) and itself.
void expectSelfDeleted(const std::string& uninstaller, const std::string& folder)
{
    expect(waitGone(uninstaller, selfDeleteMs), "the uninstaller %s deleted itself", uninstaller.c_str());
    if (!folder.empty() && !waitGone(folder, selfDeleteMs))
        fail("the folder remains: %s", joinLines(listTree(folder)).c_str());
    else if (!folder.empty())
        pass("the folder %s went", folder.c_str());
    waitNoBatchFile(selfDeleteMs);
}

static void expectRegistrationGone(const Folders& folders, const char* product, const char* group)
{
    expect(!fileExists(folders.allPrograms + "\\" + group) && !fileExists(folders.programs + "\\" + group),
           "no Start Menu group %s, for all users or the user", group);
    expect(!regKeyExists((std::string(uninstallKey) + "\\" + product).c_str()), "no uninstall entry %s", product);
}

// Install, uninstall from the install folder: texts, screenshots, background
// pixels; then nothing is left, the uninstaller and the batch file delete
// themselves, and the machine is as it was before the install.
void scenarioUninstall(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    std::vector<std::string> before = snapshot(folders);
    if (!installQuietly("DemoSetup.exe"))
        return;
    expectFiles("demo", dir, demoFiles, demoFileCount);
    HANDLE process = startSetup(dir + "\\Uninst.exe");
    HWND window = process ? waitWindowOfClass("UnInstallProg", DEFAULT_WAIT_MS) : NULL;
    if (!window)
        return;
    RECT box;
    GetWindowRect(window, &box);
    char shown[MAX_PATH + 64];
    snprintf(shown, sizeof shown, "rect=%ld,%ld,%ld,%ld image=%s", box.left, box.top, box.right - box.left,
             box.bottom - box.top, imageOfWindow(window).c_str());
    expectEqual("the uninstaller's window", "rect=0,0,800,600 image=" + dir + "\\Uninst.exe", shown);
    if (!uninstallWelcome("uninstall-welcome") || !click("Uninstall", IDOK))
        return;
    // The removal is done by the time the finished dialog shows; the
    // uninstaller itself is still running.
    if (!uninstallFinished("uninstall-finished"))
        return;
    expectEqual("the install folder while the finished dialog shows", ".\\Uninst.exe\n", joinLines(listTree(dir)));
    expectRegistrationGone(folders, "Demo", "Demo Product");
    // The batch is made before the final text, so the text can say whether
    // the program will go; it only runs once OK ends the uninstaller.
    expect(batchFiles().size() == 1, "the batch file is ready before OK, and has not run");
    if (!click("Finished", IDOK))
        return;
    waitExit(process, "the uninstaller", DEFAULT_WAIT_MS, {"*"});
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}

// Cancel, Esc, and Enter on the default button: nothing removed, no batch file.
void scenarioUninstallCancel(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    std::vector<std::string> installed = snapshot(folders);
    const struct {
        const char* name;
        bool isKey;
        UINT key;
    } ways[] = {{"Cancel", false, 0}, {"Esc", true, VK_ESCAPE}, {"Enter", true, VK_RETURN}};
    for (const auto& way : ways) {
        HANDLE process = startSetup(dir + "\\Uninst.exe");
        Dialog dialog;
        if (!process || !waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
            return;
        if (!(way.isKey ? pressKey("Uninstall", way.key) : click("Uninstall", IDCANCEL)))
            return;
        std::string what = std::string("the uninstaller after ") + way.name;
        waitExit(process, what.c_str(), DEFAULT_WAIT_MS, {"*"});
        expect(batchFiles().empty(), "%s: no batch file was written", way.name);
        expectSnapshot(what.c_str(), installed, snapshot(folders));
    }
    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");
}

// Files the user added to the install folder and to Samples stay, and so do
// the folders that hold them; everything installed goes.
void scenarioUninstallUserFiles(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    makeFolders(dir + "\\Samples\\Mine");
    if (!writeFile(dir + "\\Notes.txt", "my notes") || !writeFile(dir + "\\Samples\\Mine\\Sample3.txt", "my sample")) {
        fail("cannot write the user's files");
        return;
    }
    if (!uninstallQuietly(dir + "\\Uninst.exe"))
        return;
    expectSelfDeleted(dir + "\\Uninst.exe", "");
    expectEqual("what is left of the install folder",
                ".\\Notes.txt\n.\\Samples\n.\\Samples\\Mine\n.\\Samples\\Mine\\Sample3.txt\n", joinLines(listTree(dir)));
    std::string notes, sample;
    readFile(dir + "\\Notes.txt", &notes);
    readFile(dir + "\\Samples\\Mine\\Sample3.txt", &sample);
    expectEqual("the user's files", "my notes|my sample", notes + "|" + sample);
    expectRegistrationGone(folders, "Demo", "Demo Product");
}

// A copy of the uninstaller in another folder that holds the product (a
// moved installation) removes the product's files of that folder only; the
// install folder keeps every file, and the uninstall entry and shortcuts,
// which name the install folder, stay with it. The folder's name has spaces
// and "%" signs, which the batch file must take literally, and letters
// outside ASCII where the code page has them.
void scenarioUninstallCopy(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    std::string copy = "C:\\Old copy 100% %PATH% %% \xc3\xa9t\xc3\xa9";
    note("the copy's folder: %s", copy.c_str());
    makeFolders(copy + "\\Samples");
    if (!copyFile(dir + "\\Uninst.exe", copy + "\\Uninst.exe") || !copyFile(dir + "\\Demo.exe", copy + "\\Demo.exe") ||
        !writeFile(copy + "\\Help.txt", "old help\n") || !writeFile(copy + "\\Samples\\Sample1.txt", "old sample\n"))
        return;
    std::vector<std::string> registration = regDump((std::string(uninstallKey) + "\\Demo").c_str());
    std::string group = joinLines(listTree(folders.programs + "\\Demo Product"));
    if (!uninstallQuietly(copy + "\\Uninst.exe"))
        return;
    expectExitCode("the copy of the uninstaller", EXIT_DONE);
    expectSelfDeleted(copy + "\\Uninst.exe", copy);
    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectEqual("the uninstall entry of the install folder", joinLines(registration),
                joinLines(regDump((std::string(uninstallKey) + "\\Demo").c_str())));
    expectEqual("the Start Menu group of the install folder", group,
                joinLines(listTree(folders.programs + "\\Demo Product")));
}

// Programs with "uninst" in their names that are no installation's
// uninstaller remove nothing and say why (exit code 6): a setup saved
// under such a name in a download folder, beside files named like the
// product's, and a copy of the uninstaller in a folder without the product
// (a backup on the Desktop). The real installation keeps everything.
void scenarioUninstallNotHere(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    std::string downloads = "C:\\Downloads", desktop = "C:\\users\\Public\\Desktop";
    makeFolders(desktop);
    const struct {
        const char* what;
        std::string source, program, expected;
    } cases[] = {
        {"a setup named like an uninstaller", stagePath("DemoSetup.exe"), downloads + "\\Uninstall-helper-setup.exe",
         "This program is the Demo setup program, not its uninstall program"},
        {"a copy of the uninstaller on the Desktop", dir + "\\Uninst.exe", desktop + "\\Uninst.exe",
         "Demo is not installed in this folder:\n\n" + desktop + "\n\n"},
    };
    for (const auto& c : cases) {
        std::string folder = c.program.substr(0, c.program.rfind('\\'));
        if (!copyFile(c.source, c.program) || !writeFile(folder + "\\Help.txt", "the user's help\n") ||
            !writeFile(folder + "\\License.txt", "the user's license\n"))
            return;
        std::vector<std::string> before = snapshot(folders), beside = listTree(folder);
        HANDLE process = startSetup(c.program);
        if (!process || !answerMessageBox("Uninstall", IDOK, c.expected, true))
            return;
        if (waitExit(process, c.what, DEFAULT_WAIT_MS, {"*"}))
            expectExitCode(c.what, EXIT_REFUSED);
        expectEqual(std::string("the folder of ") + c.what, joinLines(beside), joinLines(listTree(folder)));
        expectSnapshot(c.what, before, snapshot(folders));
        expect(batchFiles().empty(), "%s: no batch file was written", c.what);
    }
    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");
}

// The list of programs starts the quoted "UninstallString" (Wine's
// uninstaller --remove, started from C:\windows\system32 as the system
// would). The viewer: a Program Files path with a space, a ".HLP" file whose
// WinHelp companions go too, a Start Menu subfolder and a Startup shortcut.
void scenarioUninstallRegistry(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::string dir = folders.programFiles + "\\Tamberlyn";
    std::vector<std::string> before = snapshot(folders);
    // An earlier entry of the product with a value this install does not
    // write (SystemComponent would hide it from the list) and a subkey.
    const std::string key = std::string(uninstallKey) + "\\Tamb Viewer";
    if (!regSetString(key.c_str(), "SystemComponent", "1") || !regSetString((key + "\\Stale").c_str(), "Left", "over"))
        return;
    if (!installQuietly("ViewerSetup.exe"))
        return;
    std::string entry = joinLines(regDump(key.c_str()));
    expect(entry.find("SystemComponent") == std::string::npos && entry.find("Stale") == std::string::npos,
           "the uninstall entry was written fresh: %s", quoted(entry).c_str());
    expectUninstallEntry("Tamb Viewer", "2.5b", dir, "Uninstall.exe", NULL);
    // Something adds a subkey to the entry after the install: the entry goes whole all the same.
    if (!regSetString((key + "\\Added").c_str(), "By", "another program"))
        return;
    writeFile(dir + "\\Viewer.GID", "index\n");
    writeFile(dir + "\\viewer.fts", "search\n");
    expect(fileExists(folders.allStartup + "\\Tamb Viewer.lnk"), "the install made a Startup shortcut to remove");
    const char* system = "C:\\windows\\system32";
    HANDLE list = startProgram(std::string(system) + "\\uninstaller.exe", "uninstaller.exe --remove \"Tamb Viewer\"",
                               system);
    Dialog dialog;
    if (!list || !waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    expectText("Uninstall", IDC_TEXT,
               "Welcome to the Tamb Viewer uninstall program.\n\nThis program will remove all of the files, "
               "components and shortcuts that were installed on your computer by the Tamb Viewer setup "
               "program.\n\nIf you do not want to remove the software, then click on Cancel.");
    if (!click("Uninstall", IDOK) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    expectText("Finished", IDC_TEXT,
               "The uninstall program has successfully removed the Tamb Viewer 2.5b software from your "
               "computer.\n\nIf you would like to use this software again, you will need to run the setup program "
               "and re-install it.\n\nPress the OK button.");
    if (!click("Finished", IDOK))
        return;
    waitExit(list, "Wine's uninstaller", DEFAULT_WAIT_MS);
    expectSelfDeleted(dir + "\\Uninstall.exe", dir);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}

// An earlier install (made before shortcuts went to all users, or where the
// system had no all-users folder) left the same shortcuts in the user's own
// Start Menu and Startup. The uninstaller removes both sets, and only the
// names the product makes: a shortcut of another program keeps the user's
// group, and one in the all-users Startup stays.
void scenarioUninstallUserShortcuts(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    if (!installQuietly("ViewerSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Tamberlyn";
    std::string allGroup = folders.allPrograms + "\\Tamberlyn", userGroup = folders.programs + "\\Tamberlyn";
    const char* const groupLinks[] = {"Tamb Viewer.lnk", "Tamb Viewer Help.lnk", "Remove Tamb Viewer.lnk"};
    makeFolders(userGroup + "\\Extras");
    bool planted = true;
    for (const char* name : groupLinks)
        planted = copyFile(allGroup + "\\Extras\\" + name, userGroup + "\\Extras\\" + name) && planted;
    planted = copyFile(folders.allStartup + "\\Tamb Viewer.lnk", folders.startup + "\\Tamb Viewer.lnk") && planted;
    // Not the product's: another program's shortcuts, named apart.
    planted = copyFile(allGroup + "\\Extras\\Tamb Viewer.lnk", userGroup + "\\Other Tool.lnk") && planted;
    planted = copyFile(folders.allStartup + "\\Tamb Viewer.lnk", folders.allStartup + "\\Tamb Viewer Tray.lnk") &&
              planted;
    // Read back before the uninstaller starts.
    if (!expect(planted, "the earlier install's shortcuts were planted in the user's folders") ||
        !expectEqual("the user's group", ".\\Extras\n.\\Extras\\Remove Tamb Viewer.lnk\n.\\Extras\\Tamb Viewer Help.lnk\n"
                     ".\\Extras\\Tamb Viewer.lnk\n.\\Other Tool.lnk\n", joinLines(listTree(userGroup))) ||
        !expect(fileExists(folders.startup + "\\Tamb Viewer.lnk") && fileExists(folders.allStartup + "\\Tamb Viewer.lnk") &&
                    fileExists(folders.allStartup + "\\Tamb Viewer Tray.lnk"),
                "the Startup shortcuts are in place: the user's, all users' and another program's"))
        return;
    if (!uninstallQuietly(dir + "\\Uninstall.exe"))
        return;
    expectExitCode("the uninstaller", EXIT_DONE);
    expectSelfDeleted(dir + "\\Uninstall.exe", dir);
    expect(!fileExists(allGroup), "the all-users group went");
    expectEqual("the user's group: only the other program's shortcut", ".\\Other Tool.lnk\n",
                joinLines(listTree(userGroup)));
    expect(!fileExists(folders.startup + "\\Tamb Viewer.lnk") && !fileExists(folders.allStartup + "\\Tamb Viewer.lnk"),
           "neither Startup folder holds the product's shortcut");
    expect(fileExists(folders.allStartup + "\\Tamb Viewer Tray.lnk"), "the other program's Startup shortcut stays");
    expect(!regKeyExists((std::string(uninstallKey) + "\\Tamb Viewer").c_str()), "no uninstall entry Tamb Viewer");
    DeleteFileA((userGroup + "\\Other Tool.lnk").c_str());
    RemoveDirectoryA(userGroup.c_str());
    DeleteFileA((folders.allStartup + "\\Tamb Viewer Tray.lnk").c_str());
    expectSnapshot("after the uninstall, the other program's shortcuts taken away", before, snapshot(folders));
}

// The batch file's old fixed name is taken by something else: a folder, or
// a planted file with a second name. Neither stops the self-deletion (the
// batch gets a new name of its own), and neither is touched.
void scenarioUninstallPlantedBatch(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    if (!CreateDirectoryA(squattedBatch, NULL)) {
        fail("cannot make the folder %s", squattedBatch);
        return;
    }
    if (!uninstallQuietly(dir + "\\Uninst.exe"))
        return;
    expectExitCode("the uninstaller", EXIT_DONE);
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    DWORD attributes = GetFileAttributesA(squattedBatch);
    expect(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
           "the folder named DelUS.bat was left alone");
    RemoveDirectoryA(squattedBatch);

    if (!installQuietly("DemoSetup.exe"))
        return;
    const char* link = "C:\\planted-link.bat";
    if (!writeFile(squattedBatch, "echo planted\r\n") || !CreateHardLinkA(link, squattedBatch, NULL)) {
        fail("cannot plant %s with a second name", squattedBatch);
        return;
    }
    if (!uninstallQuietly(dir + "\\Uninst.exe"))
        return;
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    std::string planted, throughLink;
    readFile(squattedBatch, &planted);
    readFile(link, &throughLink);
    expectEqual("the planted file and its other name", "echo planted\r\n|echo planted\r\n", planted + "|" + throughLink);
}

// Installed files made read-only (the uninstaller itself among them) are
// removed all the same, and the success text is shown only because they went.
// The uninstaller starts in a folder of another drive (the stage, on Z:):
// its batch still goes to the root of its own drive.
void scenarioUninstallReadOnly(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    if (!installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    for (const char* name : {"Uninst.exe", "Help.txt", "Samples\\Sample1.txt"}) {
        std::string path = dir + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        expect((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0, "%s is read-only", name);
    }
    std::string uninstaller = dir + "\\Uninst.exe";
    HANDLE process = startProgram(uninstaller, "\"" + uninstaller + "\"", setting.stage.c_str());
    if (!process || !click("Uninstall", IDOK) || !uninstallFinished(NULL))
        return;
    expect(batchFiles().size() == 1, "the batch waits in C:\\, the root of the program's drive, not of the current one");
    if (!click("Finished", IDOK))
        return;
    if (waitExit(process, "the uninstaller", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("the uninstaller", EXIT_DONE);
    expectSelfDeleted(uninstaller, dir);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}

// A 256-colour screen: the uninstaller realizes the bitmaps' palette and
// shows the BLUE tiles, as the installer does.
void scenarioUninstallPalette(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    HANDLE process = startSetup(dir + "\\Uninst.exe");
    Dialog dialog;
    if (!process || !waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    Image screen;
    if (screenshot("uninstall-palette-welcome", &dialog.rect, &screen))
        checkBackground("uninstall-palette-welcome", screen, dialog.rect, BACKGROUND_PALETTE);
    if (click("Uninstall", IDCANCEL))
        waitExit(process, "the uninstaller", DEFAULT_WAIT_MS, {"*"});
}

// A reinstall that cannot replace a file (held open without sharing, as a
// running program or a scanner may hold it): the message, the rollback, and
// the installation as it was before that run: every file with its content,
// the old uninstaller among them, the shortcuts and the uninstall entry; and
// that uninstaller still removes the product.
void scenarioReinstallLocked(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> empty = snapshot(folders);
    if (!installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    // Marks on the first install's files, so that they are told from a new
    // run's (the uninstaller stays as it is: it must still work, and the run
    // replaces it first of all, so its presence afterwards already tells).
    const char* const marked[] = {"Uninst.exe", "Demo.exe", "License.txt", "Samples\\Sample2.txt"};
    std::vector<std::string> contents;
    for (const char* name : marked) {
        std::string bytes;
        readFile(dir + "\\" + name, &bytes);
        if (std::string(name) != "Uninst.exe") {
            bytes += "(first install)";
            writeFile(dir + "\\" + name, bytes);
        }
        contents.push_back(bytes);
    }
    std::vector<std::string> installed = snapshot(folders);
    std::string help = dir + "\\Help.txt";
    HANDLE held = CreateFileA(help.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) {
        fail("cannot hold %s open", help.c_str());
        return;
    }
    HANDLE setup = startSetup(copyToDownloads("DemoSetup.exe"));
    Dialog dialog;
    bool answered = setup && waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) && click("Install", IDC_FINISH) &&
                    answerMessageBox("Install", IDOK, help, true, INSTALL_WAIT_MS);
    if (answered && waitExit(setup, "the setup (rollback)", INSTALL_WAIT_MS, {"Finished", "Install"}))
        expectExitCode("a reinstall rolled back", EXIT_FAILED);
    CloseHandle(held);
    if (!answered)
        return;
    expectSnapshot("after the failed reinstall", installed, snapshot(folders));
    for (size_t i = 0; i < sizeof marked / sizeof marked[0]; i++) {
        std::string bytes;
        readFile(dir + "\\" + marked[i], &bytes);
        expect(bytes == contents[i], "%s is the first install's", marked[i]);
    }
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");
    if (!uninstallQuietly(dir + "\\Uninst.exe"))
        return;
    expectExitCode("the old uninstaller", EXIT_DONE);
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    expectSnapshot("after the uninstall", empty, snapshot(folders));
}

// Reads a text of the version resource of a program file.
static std::string versionText(const std::string& file, const char* key)
{
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    std::vector<char> block(size ? size : 1);
    char* value = NULL;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!size || !GetFileVersionInfoA(file.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), query.c_str(), (void**)&value, &length) || !value)
        return "(none)";
    return value;
}

// The demo signed with a throwaway certificate (the stage made it and
// checked the signature): it installs and uninstalls as the unsigned one
// does; the installed uninstaller is a clean unsigned program; the file's
// properties name the product.
void scenarioSignedSetup(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    std::string setupPath = copyToDownloads("SignedSetup.exe");
    const struct {
        const char* key;
        const char* expected;
    } texts[] = {{"FileDescription", "Demo Setup"},
                 {"ProductName", "Demo"},
                 {"ProductVersion", "1.0"},
                 {"CompanyName", "TambSetup example"}};
    for (const auto& text : texts)
        expectEqual(std::string("version text ") + text.key, text.expected, versionText(setupPath, text.key));
    if (!installQuietly("SignedSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");
    expectUninstaller(dir + "\\Uninst.exe", stagePath("SignedSetup.exe"));
    std::string uninstaller;
    int32_t tableOffset = -1, tableSize = -1;
    if (readFile(dir + "\\Uninst.exe", &uninstaller) &&
        signatureDirectory((const uint8_t*)uninstaller.data(), (int32_t)uninstaller.size(), &tableOffset, &tableSize)) {
        expect(tableOffset == 0 && tableSize == 0, "the uninstaller names no certificate table (%ld, %ld)",
               (long)tableOffset, (long)tableSize);
        std::string cleared = uninstaller;
        clearSignatureFields((uint8_t*)&cleared[0], (int32_t)cleared.size());
        expect(cleared == uninstaller, "the uninstaller's header checksum is 0 (not set)");
    } else {
        fail("the uninstaller is not a program image");
    }
    if (!uninstallQuietly(dir + "\\Uninst.exe"))
        return;
    expectExitCode("the uninstaller", EXIT_DONE);
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}

// One program of a product at a time: while the uninstaller waits at its
// welcome dialog, a setup and a second uninstaller of the same product say
// so and end with nothing done; the first one goes on as before.
void scenarioOneAtATime(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product";
    std::vector<std::string> installed = snapshot(folders);
    HANDLE first = startSetup(dir + "\\Uninst.exe");
    Dialog dialog;
    if (!first || !waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return;
    const std::string busy =
        "Another setup or uninstall program of Demo is running. Please let it finish first.";
    const struct {
        const char* what;
        std::string program;
        const char* caption;
    } seconds[] = {{"a setup", copyToDownloads("DemoSetup.exe"), "Install"},
                   {"a second uninstaller", dir + "\\Uninst.exe", "Uninstall"}};
    for (const auto& second : seconds) {
        HANDLE process = startSetup(second.program);
        if (!process || !answerMessageBox(second.caption, IDOK, busy, false))
            return;
        std::string what = std::string(second.what) + " beside the uninstaller";
        if (waitExit(process, what.c_str(), DEFAULT_WAIT_MS, {"*"}))
            expectExitCode(what.c_str(), EXIT_BUSY);
        expectSnapshot(what.c_str(), installed, snapshot(folders));
    }
    // The first one was not disturbed: it still waits, and ends as asked.
    if (!click("Uninstall", IDCANCEL))
        return;
    if (waitExit(first, "the first uninstaller", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("the first uninstaller, cancelled", EXIT_CANCELLED);
    expectFiles("demo", dir, demoFiles, demoFileCount);
}

// A shortcut that cannot be deleted (held open by another program) is named
// in the final text like a file that stayed, and no success is claimed.
void scenarioUninstallShortcutHeld(void)
{
    Folders folders;
    if (!readFolders(&folders) || !installQuietly("DemoSetup.exe"))
        return;
    std::string dir = folders.programFiles + "\\Demo Product", lnk = folders.allPrograms + "\\Demo Product\\Demo.lnk";
    HANDLE held = CreateFileW(wide(lnk).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (!expect(held != INVALID_HANDLE_VALUE, "the shortcut %s is held open", lnk.c_str()))
        return;
    HANDLE process = startSetup(dir + "\\Uninst.exe");
    Dialog dialog;
    if (process && click("Uninstall", IDOK) && waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog)) {
        std::string text;
        controlText("Finished", IDC_TEXT, &text);
        expect(text.find("could not be deleted:\n\n" + lnk + "\n") != std::string::npos &&
                   text.find("successfully") == std::string::npos,
               "the final text names the shortcut that stayed: %s", quoted(text).c_str());
        if (click("Finished", IDOK) && waitExit(process, "the uninstaller", DEFAULT_WAIT_MS, {"*"}))
            expectExitCode("an uninstall that left a shortcut", EXIT_FAILED);
    }
    CloseHandle(held);
    expect(fileExists(lnk), "the held shortcut is still there");
}

// A folder levels deep under top, each level a name of 50 characters: 48
// times letter (UTF-8) and two digits. And the same path in the form that
// lifts MAX_PATH, for the driver's own calls.
static std::string deepFolder(const std::string& top, int levels, const char* letter = NULL)
{
    std::string path = top;
    for (int i = 0; i < levels; i++) {
        std::string name;
        for (int n = 0; n < 48; n++)
            name += letter ? letter : std::string(1, (char)('a' + i % 26));
        path += "\\" + name + (i < 10 ? "0" : "") + std::to_string(i);
    }
    return path;
}

static std::string longForm(const std::string& path)
{
    return "\\\\?\\" + path;
}

// Programs in folders deeper than MAX_PATH, started the one way Wine can
// start them (from the Unix side): a setup there installs; a copy of the
// installation there (a path of over 900 bytes in UTF-8) is removed by its
// own uninstaller, which deletes itself and leaves the real installation its
// registration; a setup deeper than
// any path the programs take says so and ends with exit code 4.
void scenarioDeepFolders(void)
{
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    std::string setupDir = deepFolder("C:\\Downloads\\setup", 6), setup = setupDir + "\\DemoSetup.exe";
    if (!makeFolders(longForm(setupDir)) || !copyFile(stagePath("DemoSetup.exe"), longForm(setup)))
        return;
    note("the setup's path has %zu characters: %s", setup.size(), setup.c_str());
    HANDLE process = startFromUnix(setup);
    Dialog dialog;
    if (!process || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) || !click("Install", IDC_FINISH) ||
        !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog) || !setCheck("Finished", IDC_RUN_PRODUCT, 0) ||
        !click("Finished", IDC_FINISH) || !waitExit(process, "the deep setup", DEFAULT_WAIT_MS, {"*"}))
        return;
    expectExitCode("the deep setup", EXIT_DONE);
    std::string dir = folders.programFiles + "\\Demo Product";
    expectFiles("demo", dir, demoFiles, demoFileCount);
    expectUninstallEntry("Demo", "1.0", dir, "Uninst.exe", "TambSetup example");

    std::string copy = deepFolder("C:\\Downloads\\copy", 6, "\xe3\x83\x87");   // "デ"
    note("the copy's folder has %zu bytes", copy.size());
    if (!makeFolders(longForm(copy + "\\Samples")) ||
        !copyFile(dir + "\\Uninst.exe", longForm(copy + "\\Uninst.exe")) ||
        !copyFile(dir + "\\Demo.exe", longForm(copy + "\\Demo.exe")) ||
        !writeFile(longForm(copy + "\\Help.txt"), "old help\n") ||
        !writeFile(longForm(copy + "\\Samples\\Sample1.txt"), "old sample\n"))
        return;
    std::vector<std::string> installed = snapshot(folders);
    process = startFromUnix(copy + "\\Uninst.exe");
    if (!process || !waitDialog("Uninstall", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog) || !click("Uninstall", IDOK) ||
        !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    std::string text;
    controlText("Finished", IDC_TEXT, &text);
    expect(text.find("successfully removed") != std::string::npos, "the deep copy's uninstaller says: %s",
           quoted(text).c_str());
    if (!click("Finished", IDOK) || !waitExit(process, "the deep uninstaller", DEFAULT_WAIT_MS, {"*"}))
        return;
    expectExitCode("the deep uninstaller", EXIT_DONE);
    expectSelfDeleted(longForm(copy + "\\Uninst.exe"), longForm(copy));
    expectSnapshot("the installation beside the deep copy", installed, snapshot(folders));

    std::string tooDeep = deepFolder("C:\\Downloads\\deeper", 20) + "\\DemoSetup.exe";
    if (!makeFolders(longForm(tooDeep.substr(0, tooDeep.rfind('\\')))) ||
        !copyFile(stagePath("DemoSetup.exe"), longForm(tooDeep)))
        return;
    note("the deeper setup's path has %zu characters", tooDeep.size());
    process = startFromUnix(tooDeep);
    if (!process || !answerMessageBox("Install", IDOK, "This setup program lies too deep: the path of its file is "
                                                       "longer than 1023 characters.", true))
        return;
    if (waitExit(process, "the setup that lies too deep", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("the setup that lies too deep", EXIT_FAILED);
    expectSnapshot("after the setup that lies too deep", installed, snapshot(folders));

    if (uninstallQuietly(dir + "\\Uninst.exe"))
        expectSelfDeleted(dir + "\\Uninst.exe", dir);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}
