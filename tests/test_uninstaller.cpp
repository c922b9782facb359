// The uninstaller's safety rules: the batch text it hands to the command
// interpreter, and the batch file that nobody but administrators and the
// system can have written. (Which names it may delete: the plain-file-name
// rule, tested with the configuration block.)
#include <gtest/gtest.h>

#include "testutil.h"

#include <windows.h>
#include <sddl.h>
#include <string.h>

#include <string>
#include <vector>

#include "install/batchaccess.h"
#include "install/selfdelete.h"

TEST(Uninstaller, BatchTextNamesEveryPathAsItIs)
{
    char text[1200];
    int length = formSelfDeleteBatch(text, sizeof text, "C:\\Program Files\\Demo\\Uninst.exe", "C:\\Program Files\\Demo",
                                     "\\DelUS12.bat", 3);
    const char* expected = "setlocal DisableDelayedExpansion\r\nset n=\r\n:Repeat\r\ndel \"C:\\Program Files\\Demo\\Uninst.exe\"\r\n"
                           "if not exist \"C:\\Program Files\\Demo\\Uninst.exe\" goto Done\r\n"
                           "set n=%n%x\r\nif \"%n%\"==\"xxx\" goto Done\r\n"
                           "ping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\n"
                           "rmdir \"C:\\Program Files\\Demo\"\r\ndel \"\\DelUS12.bat\"\r\n";
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, (int)strlen(expected));

    // "%PATH%" in a folder name must stay those characters: the interpreter
    // expands %...% even inside quotes, and %% is its one way to say "%".
    length = formSelfDeleteBatch(text, sizeof text, "C:\\100% %PATH%\\Uninst.exe", "C:\\100% %PATH%", "\\DelUS1.bat", 1);
    expected = "setlocal DisableDelayedExpansion\r\nset n=\r\n:Repeat\r\ndel \"C:\\100%% %%PATH%%\\Uninst.exe\"\r\n"
               "if not exist \"C:\\100%% %%PATH%%\\Uninst.exe\" goto Done\r\n"
               "set n=%n%x\r\nif \"%n%\"==\"x\" goto Done\r\n"
               "ping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\n"
               "rmdir \"C:\\100%% %%PATH%%\"\r\ndel \"\\DelUS1.bat\"\r\n";
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, (int)strlen(expected));

    // The loop is always bounded: a count out of range takes the full bound.
    for (int rounds : {0, -5, SELF_DELETE_ROUNDS + 1}) {
        formSelfDeleteBatch(text, sizeof text, "C:\\U.exe", "C:\\", "\\B.bat", rounds);
        std::string bound = "if \"%n%\"==\"" + std::string(SELF_DELETE_ROUNDS, 'x') + "\" goto Done";
        EXPECT_NE(std::string(text).find(bound), std::string::npos) << rounds;
    }
}

TEST(Uninstaller, BatchTextThatDoesNotFitIsRefused)
{
    const char* path = "C:\\A%\\U.exe";
    char full[400];
    int needed = formSelfDeleteBatch(full, sizeof full, path, "C:\\A%", "\\B.bat", 2);
    ASSERT_GT(needed, 0);
    // Exactly fitting, one short (the cut falls on a doubled "%" or elsewhere), none.
    for (int capacity : {needed + 1, needed, needed - 1, 24, 23, 1, 0}) {
        char buffer[420];
        memset(buffer, 'x', sizeof buffer);
        int length = formSelfDeleteBatch(buffer, capacity, path, "C:\\A%", "\\B.bat", 2);
        if (capacity > needed) {
            EXPECT_EQ(length, needed);
            EXPECT_STREQ(buffer, full);
        } else {
            EXPECT_EQ(length, -1) << "capacity " << capacity;
            if (capacity > 0) {
                EXPECT_STREQ(buffer, "") << "a cut batch text must not be usable";
            }
        }
        EXPECT_EQ(buffer[capacity], 'x') << "wrote past capacity " << capacity;
    }
}

// ---- the batch file ----

static std::string tempFolder()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%suninstaller-test-%lu", base, (unsigned long)GetCurrentProcessId());
    CreateDirectoryA(folder, NULL);
    return folder;
}

static void writeFile(const std::string& path, const char* text, const char* sddl)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
    if (sddl) {
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                         &attributes.lpSecurityDescriptor, NULL));
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, 0, NULL);
    LocalFree(attributes.lpSecurityDescriptor);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

static void writeAll(HANDLE file, const char* text)
{
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text, (DWORD)strlen(text), &written, NULL));
    CloseHandle(file);
}

static bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return CreateWellKnownSid(type, NULL, known, &size) && EqualSid(sid, known);
}

TEST(Uninstaller, OnlyAdministratorsAndTheSystemMayChangeTheBatchFile)
{
    PSECURITY_DESCRIPTOR descriptor = makeBatchAccess();
    ASSERT_NE(descriptor, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "rights inherited from the root folder would add writers";
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl) << "no access list lets everyone in";

    const DWORD changeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE |
                               WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    const DWORD readRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    bool adminsChange = false, systemChanges = false, usersRead = false;
    for (DWORD i = 0; i < acl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        ASSERT_TRUE(GetAce(acl, i, (void**)&ace));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << "entry " << i;
        PSID sid = &ace->SidStart;
        bool admins = isWellKnown(sid, WinBuiltinAdministratorsSid), system = isWellKnown(sid, WinLocalSystemSid);
        if (ace->Mask & changeRights) {
            EXPECT_TRUE(admins || system) << "entry " << i << " lets someone else change the file";
        }
        adminsChange = adminsChange || (admins && (ace->Mask & changeRights));
        systemChanges = systemChanges || (system && (ace->Mask & changeRights));
        usersRead = usersRead || (isWellKnown(sid, WinBuiltinUsersSid) && (ace->Mask & readRights));
    }
    EXPECT_TRUE(adminsChange && systemChanges && usersRead);
    LocalFree(descriptor);
}

TEST(Uninstaller, BatchFileIsAlwaysMadeNewUnderAFreeName)
{
    std::string folder = tempFolder();
    char path[BATCH_PATH_SIZE];
    std::string squattedFolder = folder + "\\DelUS7.bat";
    std::string squattedFile = folder + "\\DelUS8.bat";
    std::string link = folder + "\\planted-link.bat";

    // No file yet: the first name.
    HANDLE file = createBatchFile(folder.c_str(), 5, path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    writeAll(file, "echo ours\r\n");
    EXPECT_EQ(std::string(path), folder + "\\DelUS5.bat");
    EXPECT_EQ(textOf(path), "echo ours\r\n");
    DeleteFileA(path);

    // A folder and a file planted under the next names (the file with a
    // second name its planter keeps): neither is touched, neither is used,
    // and the batch file takes the first free name.
    ASSERT_TRUE(CreateDirectoryA(squattedFolder.c_str(), NULL));
    writeFile(squattedFile, "echo planted\r\n", "D:(A;;FA;;;WD)");
    DeleteFileA(link.c_str());
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), squattedFile.c_str(), NULL));
    file = createBatchFile(folder.c_str(), 7, path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    writeAll(file, "echo ours\r\n");
    EXPECT_EQ(std::string(path), folder + "\\DelUS9.bat");
    EXPECT_EQ(textOf(path), "echo ours\r\n");
    EXPECT_EQ(textOf(squattedFile), "echo planted\r\n");
    EXPECT_EQ(textOf(link), "echo planted\r\n") << "the planted file was written into";
    EXPECT_EQ(GetFileAttributesA(squattedFolder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);

    // Every name taken: no batch file at all.
    std::vector<std::string> taken;
    for (int n = 20; n < 36; n++) {
        taken.push_back(folder + "\\DelUS" + std::to_string(n) + ".bat");
        ASSERT_TRUE(CreateDirectoryA(taken.back().c_str(), NULL));
    }
    EXPECT_EQ(createBatchFile(folder.c_str(), 20, path), INVALID_HANDLE_VALUE);
    EXPECT_STREQ(path, "");

    for (const std::string& name : taken)
        RemoveDirectoryA(name.c_str());
    RemoveDirectoryA(squattedFolder.c_str());
    DeleteFileA(squattedFile.c_str());
    DeleteFileA(link.c_str());
    DeleteFileA((folder + "\\DelUS9.bat").c_str());
    RemoveDirectoryA(folder.c_str());
}

// ---- the batch run ----

// Runs the batch file as the uninstaller does (the command line is the
// file) and waits for it to end, 40 s at most. Returns the milliseconds it
// took, or -1 when it did not end.
static long runBatch(const std::string& batch)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    std::string command = batch;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return -2;
    DWORD start = GetTickCount();
    DWORD waited = WaitForSingleObject(process.hProcess, 40000);
    long took = (long)(GetTickCount() - start);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return waited == WAIT_OBJECT_0 ? took : -1;
}

static std::string writeBatch(const std::string& folder, const std::string& target, int rounds)
{
    std::string batch = folder + "\\run.bat";
    static char text[2400];
    EXPECT_GT(formSelfDeleteBatch(text, sizeof text, target.c_str(), folder.c_str(), batch.c_str(), rounds), 0);
    DeleteFileA(batch.c_str());
    writeFile(batch, text, NULL);
    return batch;
}

TEST(Uninstaller, BatchDeletesTheProgramAndItsFolderThenItself)
{
    std::string folder = tempFolder() + "\\installed";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    std::string target = folder + "\\Uninst.exe";
    writeFile(target, "MZ", NULL);
    std::string batch = writeBatch(folder, target, 3);
    EXPECT_GE(runBatch(batch), 0) << "the batch did not end";
    EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(batch.c_str()), INVALID_FILE_ATTRIBUTES) << "the batch file stayed";
    // The folder held the batch file itself until its last line: with the
    // batch elsewhere (the drive's root), it goes; here it is emptied.
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(tempFolder().c_str());
}

TEST(Uninstaller, BatchGivesUpOnAFileThatNeverGoes)
{
    std::string folder = tempFolder();
    std::string target = folder + "\\Held.exe";
    writeFile(target, "MZ", NULL);
    // Held open without delete sharing, as a program that never ends would.
    HANDLE holder = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::string batch = writeBatch(folder, target, 3);
    long took = runBatch(batch);
    CloseHandle(holder);
    EXPECT_GE(took, 0) << "the batch loops for good";
    // Three rounds with a pause each: not a spin, and not much more.
    EXPECT_GE(took, 1500) << "no pause between the tries";
    EXPECT_EQ(GetFileAttributesA(batch.c_str()), INVALID_FILE_ATTRIBUTES) << "the batch file stayed";
    EXPECT_NE(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(target.c_str());
    RemoveDirectoryA(folder.c_str());
}
