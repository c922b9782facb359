// The self-deleting batch with folder names of any language: the command
// interpreter reads the batch in the OEM code page, so each path goes in a
// form it finds (its short form, or its OEM bytes), or the batch is not made.
#include <gtest/gtest.h>

#include "widetestutil.h"

#include <windows.h>
#include <string.h>

#include <string>

#include "coding/widetext.h"
#include "install/selfdelete.h"

static std::wstring tempFolder()
{
    return scratchFolder(L"selfdelete-");
}

// The path the command interpreter reads from form, as the system names it.
static std::wstring fromOem(const char* form)
{
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, form, -1, wide, MAX_PATH) <= 0)
        return L"<not OEM>";
    return wide;
}

static std::wstring longFormOf(const std::wstring& path)
{
    wchar_t wide[MAX_PATH];
    DWORD n = GetLongPathNameW(path.c_str(), wide, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(wide) : L"<none>";
}

// 1 when every character of name has an exact form in the OEM code page.
static bool fitsOem(const wchar_t* name)
{
    char bytes[MAX_PATH];
    BOOL inexact = FALSE;
    if (GetOEMCP() == CP_UTF8)
        return true;
    return WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, name, -1, bytes, MAX_PATH, NULL, &inexact) > 0 &&
           !inexact;
}

static const wchar_t* const folderNames[] = {
    L"Plain", L"Program Files Demo", L"Cr\u00E8me M\u00FCller", L"100% %PATH%", L"Wow! Tools",
    L"\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u0430",    // Cyrillic
    L"\u30BD\u30D5\u30C8\u8868\u793A",                            // Japanese, 0x5C trail bytes in code page 932
    L"Caf\u00E9 \u0141\u00F3d\u017A \u4E2D",                        // in no single OEM code page
};

TEST(SelfDelete, BatchFormOfAPathNamesThatPathOrNothing)
{
    std::wstring base = tempFolder();
    for (const wchar_t* name : folderNames) {
        std::wstring folder = base + L"\\" + name;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL)) << utf8Of(name);
        std::wstring file = folder + L"\\Uninst.exe";
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        for (const std::wstring& path : {folder, file}) {
            char form[BATCH_FORM_SIZE];
            int made = batchPathForm(utf8Of(path).c_str(), form, sizeof form);
            // A name whose characters all have OEM forms is always found.
            if (fitsOem(path.c_str())) {
                EXPECT_TRUE(made) << utf8Of(path);
            }
            if (made) {
                std::wstring read = fromOem(form);
                EXPECT_NE(GetFileAttributesW(read.c_str()), INVALID_FILE_ATTRIBUTES) << utf8Of(path) << " as " << form;
                EXPECT_EQ(lstrcmpiW(longFormOf(read).c_str(), longFormOf(path).c_str()), 0) << utf8Of(path);
            } else {
                EXPECT_STREQ(form, "");
            }
        }
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(base.c_str());
}

TEST(SelfDelete, BatchFormIsRefusedWhenItCannotBeFound)
{
    char form[BATCH_FORM_SIZE] = "#";
    // Not there, so no short form; and its characters have no OEM form.
    std::string missing = utf8Of(tempFolder() + L"\\\u30BD\u0416\u00E9\u4E2D\\Uninst.exe");
    if (!fitsOem(L"\u30BD\u0416\u00E9\u4E2D")) {
        EXPECT_FALSE(batchPathForm(missing.c_str(), form, sizeof form));
        EXPECT_STREQ(form, "");
    }
    // Not UTF-8.
    EXPECT_FALSE(batchPathForm("C:\\Cr\xE8me\\Uninst.exe", form, sizeof form));
    // Not enough room: refused, not cut.
    char small[8] = "#######";
    EXPECT_FALSE(batchPathForm("C:\\Windows\\Uninst.exe", small, sizeof small));
    EXPECT_STREQ(small, "");
    RemoveDirectoryW(tempFolder().c_str());
}

// Runs a batch file with delayed expansion on, as a user may have set their
// command processor, and waits for it, 40 s at most.
static bool runBatch(const std::wstring& batch)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::wstring command = L"cmd /V:ON /C \"" + batch + L"\"";
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return false;
    DWORD waited = WaitForSingleObject(process.hProcess, 40000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return waited == WAIT_OBJECT_0;
}

TEST(SelfDelete, BatchRemovesAProgramInAFolderOfAnyName)
{
    std::wstring base = tempFolder();
    for (const wchar_t* name : folderNames) {
        std::wstring folder = base + L"\\" + name;
        std::wstring file = folder + L"\\Uninst.exe";
        std::wstring batch = base + L"\\run.bat";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        h = CreateFileW(batch.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        char fileForm[BATCH_FORM_SIZE], folderForm[BATCH_FORM_SIZE], batchForm[BATCH_FORM_SIZE];
        static char text[4400];
        bool made = batchPathForm(utf8Of(file).c_str(), fileForm, sizeof fileForm) &&
                    batchPathForm(utf8Of(folder).c_str(), folderForm, sizeof folderForm) &&
                    batchPathForm(utf8Of(batch).c_str(), batchForm, sizeof batchForm);
        DWORD written = 0;
        if (made) {
            ASSERT_GT(formSelfDeleteBatch(text, sizeof text, fileForm, folderForm, batchForm, 3), 0);
            WriteFile(h, text, (DWORD)strlen(text), &written, NULL);
        }
        CloseHandle(h);
        if (made) {
            EXPECT_TRUE(runBatch(batch)) << "the batch did not end: " << utf8Of(name);
            EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << utf8Of(name);
            EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << utf8Of(name);
            EXPECT_EQ(GetFileAttributesW(batch.c_str()), INVALID_FILE_ATTRIBUTES) << "the batch file stayed";
        } else {
            // No form to write: the uninstaller makes no batch and names the file instead.
            EXPECT_FALSE(fitsOem(folder.c_str())) << utf8Of(name);
            printf("no batch form for %s on OEM code page %u\n", utf8Of(name).c_str(), GetOEMCP());
        }
        DeleteFileW(batch.c_str());
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(base.c_str());
}

static void makeFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << utf8Of(path);
    CloseHandle(h);
}

// A "!" in a path stays a "!" under delayed expansion: the batch deletes its
// own program, not another product's in the folder the name without "!" names.
// The long form is used, as on a volume that keeps no short names.
TEST(SelfDelete, BatchTakesExclamationMarksLiterally)
{
    std::wstring base = tempFolder(), folder = base + L"\\Wow! Tools", decoy = base + L"\\Wow Tools";
    std::wstring batch = base + L"\\bang.bat";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryW(decoy.c_str(), NULL));
    makeFile(folder + L"\\Uninst.exe");
    makeFile(decoy + L"\\Uninst.exe");
    static char text[4400];
    ASSERT_GT(formSelfDeleteBatch(text, sizeof text, utf8Of(folder + L"\\Uninst.exe").c_str(), utf8Of(folder).c_str(),
                                  utf8Of(batch).c_str(), 3),
              0);
    HANDLE h = CreateFileW(batch.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(h);
    EXPECT_TRUE(runBatch(batch)) << "the batch did not end";
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "its own folder stayed";
    EXPECT_NE(GetFileAttributesW((decoy + L"\\Uninst.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the batch deleted another product's file";
    DeleteFileW((decoy + L"\\Uninst.exe").c_str());
    RemoveDirectoryW(decoy.c_str());
    DeleteFileW((folder + L"\\Uninst.exe").c_str());
    RemoveDirectoryW(folder.c_str());
    DeleteFileW(batch.c_str());
    RemoveDirectoryW(base.c_str());
}
