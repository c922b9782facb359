// intl_scenarios.cpp - products whose names are not ASCII: the international
// examples (French in code page 1252, Russian in 1251, Japanese in 932),
// installed and uninstalled on a Wine whose ANSI code page is 1252, and the
// French one also on a Wine whose ANSI code page is 1251. Every name must
// come out as the vendor wrote it, whatever the system's code page: texts
// are read through the wide functions and compared in UTF-8.
#include "driver.h"

#include <string>

struct IntlProduct {
    const char* setup;        // staged setup
    const char* stage;        // staged script's folder; sources are relative to it
    const char* product;
    const char* folder;       // InstallFolder, also the Start Menu group
    const char* subfolder;    // StartMenuSubfolder, "" for none
    const char* program;      // file 1
    const char* uninstallShortcut;
    const char* samplesDescription;
    const char* publisher;
    const char* files[6];     // "Name=Source", the uninstaller (no source) first
};

static const IntlProduct french = {
    "FrenchSetup.exe", "french", "Caf\xc3\xa9 Notes", "Cr\xc3\xa8me Software", "Outils r\xc3\xa9unis",
    "Caf\xc3\xa9.exe", "D\xc3\xa9sinstaller Caf\xc3\xa9 Notes", "fichiers d'exemple",
    "Cr\xc3\xa8me Software S\xc3\xa0RL",
    {"Uninst.exe", "Caf\xc3\xa9.exe=..\\demo\\Demo.exe", "Lisez-moi.txt=..\\demo\\Help.txt",
     "Licence.txt=..\\demo\\License.txt", "M\xc3\xbcller.txt=..\\demo\\Sample1.txt",
     "R\xc3\xa9union.txt=..\\demo\\Sample2.txt"}};

// Кафе Крем, Крем Софт, Кафе.exe, Удалить Кафе Крем, примеры; Справка.txt,
// Лицензия.txt, Мюллер.txt, Пример.txt.
static const IntlProduct russian = {
    "RussianSetup.exe", "russian", "\xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5 \xd0\x9a\xd1\x80\xd0\xb5\xd0\xbc",
    "\xd0\x9a\xd1\x80\xd0\xb5\xd0\xbc \xd0\xa1\xd0\xbe\xd1\x84\xd1\x82", "",
    "\xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5.exe",
    "\xd0\xa3\xd0\xb4\xd0\xb0\xd0\xbb\xd0\xb8\xd1\x82\xd1\x8c \xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5 "
    "\xd0\x9a\xd1\x80\xd0\xb5\xd0\xbc",
    "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80\xd1\x8b",
    "\xd0\x9a\xd1\x80\xd0\xb5\xd0\xbc \xd0\xa1\xd0\xbe\xd1\x84\xd1\x82",
    {"Uninst.exe", "\xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5.exe=..\\demo\\Demo.exe",
     "\xd0\xa1\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb2\xd0\xba\xd0\xb0.txt=..\\demo\\Help.txt",
     "\xd0\x9b\xd0\xb8\xd1\x86\xd0\xb5\xd0\xbd\xd0\xb7\xd0\xb8\xd1\x8f.txt=..\\demo\\License.txt",
     "\xd0\x9c\xd1\x8e\xd0\xbb\xd0\xbb\xd0\xb5\xd1\x80.txt=..\\demo\\Sample1.txt",
     "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.txt=..\\demo\\Sample2.txt"}};

// ソフト表示 (in code page 932 the second bytes of ソ and 表 are 0x5C, a
// backslash), 表示.exe, ソフト表示 の削除, サンプル; ヘルプ.txt, 使用許諾.txt,
// ソフト表示.txt, 見本.txt.
#define SOFT_HYOJI "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\xe8\xa1\xa8\xe7\xa4\xba"
static const IntlProduct japanese = {
    "JapaneseSetup.exe", "japanese", SOFT_HYOJI, SOFT_HYOJI, "", "\xe8\xa1\xa8\xe7\xa4\xba.exe",
    SOFT_HYOJI " \xe3\x81\xae\xe5\x89\x8a\xe9\x99\xa4", "\xe3\x82\xb5\xe3\x83\xb3\xe3\x83\x97\xe3\x83\xab",
    SOFT_HYOJI "\xe6\xa0\xaa\xe5\xbc\x8f\xe4\xbc\x9a\xe7\xa4\xbe",
    {"Uninst.exe", "\xe8\xa1\xa8\xe7\xa4\xba.exe=..\\demo\\Demo.exe",
     "\xe3\x83\x98\xe3\x83\xab\xe3\x83\x97.txt=..\\demo\\Help.txt",
     "\xe4\xbd\xbf\xe7\x94\xa8\xe8\xa8\xb1\xe8\xab\xbe.txt=..\\demo\\License.txt",
     SOFT_HYOJI ".txt=..\\demo\\Sample1.txt", "\xe8\xa6\x8b\xe6\x9c\xac.txt=..\\demo\\Sample2.txt"}};

static const int intlFileCount = 6;

// The setup's dialogs and what it made: texts, files, the uninstall entry,
// the shortcuts of the group and of Startup.
static bool installIntl(const IntlProduct& p, const Folders& folders, const std::string& shots)
{
    const std::string product = p.product, dir = folders.programFiles + "\\" + p.folder;
    HANDLE setup = startSetup(copyToDownloads(p.setup));
    Dialog dialog;
    Image screen;
    if (!setup || !waitDialog("Install", PLAIN_DIALOG, DEFAULT_WAIT_MS, &dialog))
        return false;
    screenshot((shots + "-welcome").c_str(), &dialog.rect, &screen);
    expectText("Install", IDC_TEXT,
               "Welcome to the " + product + " setup program.\n\nThis setup will install " + product +
                   " V1.0 on your computer.\n\nWhen you are ready to start installing the program, click Finish.");
    if (!click("Install", IDC_FINISH) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return false;
    screenshot((shots + "-finished").c_str(), &dialog.rect, &screen);
    expectText("Finished", IDC_TEXT,
               "Setup is complete and " + product + " V1.0 is now installed on your computer!\n\n" + product +
                   " is accessible through the Start Menu, under " + p.folder + ".\n\nSome " +
                   p.samplesDescription + " can be found in " + dir + "\\Samples\n\nClick Finish.");
    expectText("Finished", IDC_RUN_PRODUCT, "Run " + product);

    expectFiles(p.stage, dir, p.files, intlFileCount);
    expectUninstallEntry(p.product, "1.0", dir, "Uninst.exe", p.publisher);
    std::string group = folders.allPrograms + "\\" + p.folder + (p.subfolder[0] ? std::string("\\") + p.subfolder : "");
    std::string program = dir + "\\" + p.program, uninstaller = dir + "\\Uninst.exe";
    std::string lnk = std::string(".\\") + p.product + ".lnk\n", uninstallLnk = std::string(".\\") +
                                                                             p.uninstallShortcut + ".lnk\n";
    // listTree sorts by bytes; so does this pair.
    expectEqual("shortcuts of the group " + group,
                lnk < uninstallLnk ? lnk + uninstallLnk : uninstallLnk + lnk, joinLines(listTree(group)));
    expectShortcut(group + "\\" + p.product + ".lnk", program, p.product, "", ",0");
    expectShortcut(group + "\\" + p.uninstallShortcut + ".lnk", uninstaller, p.uninstallShortcut, "",
                   uninstaller + ",1");
    expectShortcut(folders.allStartup + "\\" + p.product + ".lnk", program, p.product, "", ",0");

    if (!setCheck("Finished", IDC_RUN_PRODUCT, 0) || !click("Finished", IDC_FINISH))
        return false;
    return waitExit(setup, "the setup", DEFAULT_WAIT_MS) && expectExitCode("the install", EXIT_DONE);
}

// The uninstaller from the install folder: its texts, then nothing left,
// exit code 0.
static void uninstallIntl(const IntlProduct& p, const Folders& folders, const std::vector<std::string>& before)
{
    const std::string product = p.product, dir = folders.programFiles + "\\" + p.folder;
    HANDLE process = startSetup(dir + "\\Uninst.exe");
    if (!process || !waitWindowOfClass("UnInstallProg", DEFAULT_WAIT_MS))
        return;
    expectText("Uninstall", IDC_TEXT,
               "Welcome to the " + product + " uninstall program.\n\nThis program will remove all of the files, "
               "components and shortcuts that were installed on your computer by the " + product +
                   " setup program.\n\nIf you do not want to remove the software, then click on Cancel.");
    Dialog dialog;
    if (!click("Uninstall", IDOK) || !waitDialog("Finished", PLAIN_DIALOG, INSTALL_WAIT_MS, &dialog))
        return;
    expectText("Finished", IDC_TEXT,
               "The uninstall program has successfully removed the " + product +
                   " 1.0 software from your computer.\n\nIf you would like to use this software again, you will "
                   "need to run the setup program and re-install it.\n\nPress the OK button.");
    if (!click("Finished", IDOK))
        return;
    if (waitExit(process, "the uninstaller", DEFAULT_WAIT_MS, {"*"}))
        expectExitCode("the uninstall", EXIT_DONE);
    expectSelfDeleted(dir + "\\Uninst.exe", dir);
    expect(!fileExists(folders.allPrograms + "\\" + p.folder) && !fileExists(folders.programs + "\\" + p.folder),
           "no Start Menu group %s, for all users or the user", p.folder);
    expect(!regKeyExists((std::string(uninstallKey) + "\\" + p.product).c_str()), "no uninstall entry %s",
           p.product);
    expectSnapshot("after the uninstall", before, snapshot(folders));
}

static void scenarioIntl(const IntlProduct& p, UINT systemCodePage, const char* shots)
{
    // The locale the test started Wine under decides the system's code page.
    if (!expect(GetACP() == systemCodePage, "the system's ANSI code page is %u (it is %u)", systemCodePage,
                GetACP()))
        return;
    Folders folders;
    if (!readFolders(&folders))
        return;
    std::vector<std::string> before = snapshot(folders);
    if (installIntl(p, folders, shots))
        uninstallIntl(p, folders, before);
}

void scenarioIntlFrench(void)
{
    scenarioIntl(french, 1252, "french");
}

void scenarioIntlFrenchCyrillic(void)
{
    scenarioIntl(french, 1251, "french-on-1251");
}

void scenarioIntlRussian(void)
{
    scenarioIntl(russian, 1252, "russian");
}

void scenarioIntlJapanese(void)
{
    scenarioIntl(japanese, 1252, "japanese");
}
