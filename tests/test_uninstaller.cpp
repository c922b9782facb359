// The uninstaller's safety rules: the batch text it hands to the command
// interpreter, and the batch file that nobody but administrators and the
// system can have written. (Which names it may delete: the plain-file-name
// rule, tested with the configuration block.)
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <string.h>

#include <string>

#include "install/batchaccess.h"
#include "install/selfdelete.h"

TEST(Uninstaller, BatchTextNamesEveryPathAsItIs)
{
    char text[600];
    int length = formSelfDeleteBatch(text, sizeof text, "C:\\Program Files\\Demo\\Uninst.exe", "C:\\Program Files\\Demo");
    const char* expected = ":Repeat\r\ndel \"C:\\Program Files\\Demo\\Uninst.exe\"\r\n"
                           "if exist \"C:\\Program Files\\Demo\\Uninst.exe\" goto Repeat\r\n"
                           "rmdir \"C:\\Program Files\\Demo\"\r\ndel \"\\DelUS.bat\"\r\n";
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, (int)strlen(expected));

    // "%PATH%" in a folder name must stay those characters: the interpreter
    // expands %...% even inside quotes, and %% is its one way to say "%".
    length = formSelfDeleteBatch(text, sizeof text, "C:\\100% %PATH%\\Uninst.exe", "C:\\100% %PATH%");
    expected = ":Repeat\r\ndel \"C:\\100%% %%PATH%%\\Uninst.exe\"\r\n"
               "if exist \"C:\\100%% %%PATH%%\\Uninst.exe\" goto Repeat\r\n"
               "rmdir \"C:\\100%% %%PATH%%\"\r\ndel \"\\DelUS.bat\"\r\n";
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, (int)strlen(expected));
}

TEST(Uninstaller, BatchTextThatDoesNotFitIsRefused)
{
    const char* path = "C:\\A%\\U.exe";
    char full[200];
    int needed = formSelfDeleteBatch(full, sizeof full, path, "C:\\A%");
    ASSERT_GT(needed, 0);
    // Exactly fitting, one short (the cut falls on a doubled "%" or elsewhere), none.
    for (int capacity : {needed + 1, needed, needed - 1, 24, 23, 1, 0}) {
        char buffer[220];
        memset(buffer, 'x', sizeof buffer);
        int length = formSelfDeleteBatch(buffer, capacity, path, "C:\\A%");
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

static std::string readFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, NULL);
    CloseHandle(file);
    return std::string(buffer, got);
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

TEST(Uninstaller, BatchFileIsAlwaysMadeNew)
{
    std::string folder = tempFolder();
    std::string path = folder + "\\DelUS.bat";
    std::string link = folder + "\\planted-link.bat";

    // No file yet.
    DeleteFileA(path.c_str());
    HANDLE file = createPrivateFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    writeAll(file, "echo ours\r\n");
    EXPECT_EQ(readFile(path), "echo ours\r\n");

    // A file planted beforehand, with a second name its planter keeps: a
    // reused file would be changed through that name between its writing
    // and its run. A new file takes the name; the old one stays the planter's.
    writeFile(path, "echo planted\r\n", "D:(A;;FA;;;WD)");
    DeleteFileA(link.c_str());
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), path.c_str(), NULL));
    file = createPrivateFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    writeAll(file, "echo ours\r\n");
    EXPECT_EQ(readFile(path), "echo ours\r\n");
    EXPECT_EQ(readFile(link), "echo planted\r\n") << "the planted file was written into";
    DeleteFileA(link.c_str());
    DeleteFileA(path.c_str());
}

TEST(Uninstaller, BatchFileThatCannotBeReplacedIsNotMade)
{
    std::string folder = tempFolder();
    std::string path = folder + "\\DelUS.bat";

    // Someone holds the planted file open: it cannot go away now, so no
    // batch file is made, and the planted one is left as it is.
    writeFile(path, "echo planted\r\n", NULL);
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                                NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(createPrivateFile(path.c_str()), INVALID_HANDLE_VALUE);
    CloseHandle(holder);
    EXPECT_EQ(readFile(path), "echo planted\r\n");
    DeleteFileA(path.c_str());

    // A folder of that name: not a file to delete, and nothing is made.
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL));
    EXPECT_EQ(createPrivateFile(path.c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}
