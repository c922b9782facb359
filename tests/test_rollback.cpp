// The rollback of an install that did not finish: every file the run tried is
// deleted, the files it replaced come back, and the folders go only when the
// run leaves them empty.
#include <gtest/gtest.h>

#include "testutil.h"

#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/setupstate.h"
#include "app/setuptext.h"
#include "install/keptfiles.h"
#include "install/removal.h"

namespace {

std::vector<std::string> shownPaths;
void recordShown(const char* path) { shownPaths.push_back(path); }

// Five files: the fifth lies in "Samples".
const char* const fileNames[] = {"Uninst.exe", "Demo.exe", "Readme.txt", "Help.hlp", "Sample1.txt"};
const int FILE_COUNT = 5;

void useConfiguration(const std::string& folder)
{
    memset(&setupConfig, 0, sizeof setupConfig);
    char* at = setupConfig.fileNames;
    for (const char* name : fileNames) {
        strcpy(at, name);
        at += strlen(name) + 1;
    }
    setupConfig.fileCount = FILE_COUNT;
    loadSetupText(&setupConfig);   // the program reads the names in UTF-8, as loadSetupConfig leaves them
    strcpy(installDir, folder.c_str());
}

std::string installedPath(int index)
{
    char path[sizeof installDir];
    EXPECT_EQ(formInstalledPath(path, sizeof path, index), 1);
    return path;
}

void putText(const std::string& path, const std::string& text)
{
    writeFileBytes(path, Bytes(text.begin(), text.end()));
}

bool isFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What the worker does before it writes file index: its folder, room made.
void writeAsTheWorker(int index)
{
    char folder[sizeof installDir];
    ASSERT_EQ(formFolderPath(folder, sizeof folder, index), 1);
    CreateDirectoryA(folder, NULL);
    std::string path = installedPath(index);
    ASSERT_EQ(keepAside(index, path.c_str()), 1) << path;
    putText(path, "new");
}

}  // namespace

TEST(Rollback, UndoesTheFilesTriedAndRemovesOnlyEmptyFolders)
{
    const struct {
        const char* what;
        int tried;                   // files the run got to
        bool oldDemo;                // an earlier installation's Demo.exe was there
        bool userSample;             // a file of the user's in Samples
        bool folderStays, samplesStays;
    } cases[] = {
        {"fresh install, all tried", FILE_COUNT, false, false, false, false},
        {"over an old installation", FILE_COUNT, true, false, true, false},
        {"stopped after two files", 2, false, false, false, false},
        {"a user's sample stays", FILE_COUNT, false, true, true, true},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = tempPath("rollback" + std::to_string(run++));
        useConfiguration(folder);
        std::string samples = folder + "\\Samples";
        if (c.oldDemo || c.userSample) {
            CreateDirectoryA(folder.c_str(), NULL);
            if (c.oldDemo)
                putText(installedPath(1), "old demo");
            if (c.userSample) {
                CreateDirectoryA(samples.c_str(), NULL);
                putText(samples + "\\Mine.txt", "mine");
            }
        }
        for (int index = 0; index < c.tried; index++)
            writeAsTheWorker(index);

        shownPaths.clear();
        rollBackInstall(c.tried, recordShown);

        std::vector<std::string> expectedShown;
        for (int index = c.tried - 1; index >= 0; index--)
            expectedShown.push_back(installedPath(index));
        EXPECT_EQ(shownPaths, expectedShown) << "every file tried, the last first";
        for (int index = 0; index < FILE_COUNT; index++) {
            std::string path = installedPath(index);
            EXPECT_EQ(textOf(path), index == 1 && c.oldDemo ? "old demo" : "<missing>") << path;
        }
        EXPECT_EQ(isFolder(folder), c.folderStays);
        EXPECT_EQ(isFolder(samples), c.samplesStays);
        if (c.userSample) {
            EXPECT_EQ(textOf(samples + "\\Mine.txt"), "mine");
        }
    }
    installDir[0] = 0;
}
