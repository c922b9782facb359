// A reinstall keeps the files it replaces: a failed run puts every one back
// as it was, a successful one leaves no kept copy behind.
#include <gtest/gtest.h>

#include "testutil.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/keptfiles.h"

static std::string keptFolder()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + "kept-test-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

static void putFile(const std::string& path, const std::string& text)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
}

// Every name in the folder, sorted.
static std::vector<std::string> listing(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

static void clearFolder(const std::string& folder)
{
    for (const std::string& name : listing(folder)) {
        SetFileAttributesA((folder + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((folder + "\\" + name).c_str());
    }
}

// An earlier installation (some files read-only), then a run over it that
// writes new files (one of them where nothing was): after a rollback the
// folder is exactly as before, after a success it holds the new files only.
TEST(KeptFiles, RollbackRestoresAndSuccessDiscards)
{
    std::string folder = keptFolder();
    struct File {
        const char* name;
        const char* old;          // null: not there before the run
        bool readOnly;
    };
    const File files[] = {{"Uninst.exe", "old uninstaller", true}, {"Demo.exe", "old demo", false},
                          {"New.txt", nullptr, false}, {"Readme.txt", "old readme", true}};
    const int count = 4;
    for (bool success : {false, true}) {
        clearFolder(folder);
        for (const File& f : files)
            if (f.old) {
                putFile(folder + "\\" + f.name, f.old);
                if (f.readOnly)
                    SetFileAttributesA((folder + "\\" + f.name).c_str(), FILE_ATTRIBUTE_READONLY);
            }
        std::vector<std::string> before = listing(folder);
        for (int i = 0; i < count; i++) {
            std::string path = folder + "\\" + files[i].name;
            ASSERT_EQ(keepAside(i, path.c_str()), 1) << path;
            EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "no room made at " << path;
            putFile(path, std::string("new ") + files[i].name);
        }
        if (success) {
            discardKept(count);
            std::vector<std::string> expected;
            for (const File& f : files)
                expected.push_back(f.name);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(listing(folder), expected) << "a kept copy stayed behind";
            for (const File& f : files)
                EXPECT_EQ(textOf(folder + "\\" + f.name), std::string("new ") + f.name);
        } else {
            for (int i = count - 1; i >= 0; i--)
                restoreKept(i, (folder + "\\" + files[i].name).c_str());
            EXPECT_EQ(listing(folder), before);
            for (const File& f : files) {
                std::string path = folder + "\\" + f.name;
                EXPECT_EQ(textOf(path), f.old ? f.old : "<missing>") << path;
                if (f.old) {
                    EXPECT_EQ((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0, f.readOnly) << path;
                }
            }
        }
    }
    clearFolder(folder);
    RemoveDirectoryA(folder.c_str());
}

// A file that cannot be moved (held open without delete sharing) is left as
// it is, and its rollback slot holds nothing to restore.
TEST(KeptFiles, FileThatCannotBeMovedStaysAsItIs)
{
    std::string folder = keptFolder();
    clearFolder(folder);
    std::string path = folder + "\\Demo.exe";
    putFile(path, "running demo");
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(keepAside(1, path.c_str()), 0);
    CloseHandle(holder);
    EXPECT_EQ(textOf(path), "running demo");
    EXPECT_EQ(listing(folder), std::vector<std::string>{"Demo.exe"}) << "a stray kept name was left";
    clearFolder(folder);
    RemoveDirectoryA(folder.c_str());
}

// A folder where a file of the product belongs is the user's: it is never
// renamed aside (nor hidden under a temporary name), and the install stops.
TEST(KeptFiles, FolderInTheWayStaysWhereItIs)
{
    std::string folder = keptFolder();
    clearFolder(folder);
    std::string path = folder + "\\Help.txt";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL));
    putFile(path + "\\notes.txt", "the user's notes");
    EXPECT_EQ(keepAside(2, path.c_str()), 0);
    EXPECT_EQ(listing(folder), std::vector<std::string>{"Help.txt"}) << "the folder was moved or a kept name left";
    EXPECT_EQ(textOf(path + "\\notes.txt"), "the user's notes");
    restoreKept(2, path.c_str());   // a rollback of that slot leaves it alone too
    EXPECT_EQ(textOf(path + "\\notes.txt"), "the user's notes");
    DeleteFileA((path + "\\notes.txt").c_str());
    RemoveDirectoryA(path.c_str());
    clearFolder(folder);
    RemoveDirectoryA(folder.c_str());
}
