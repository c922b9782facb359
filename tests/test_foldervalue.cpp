// A folder read from the registry, as the install folder and the shortcut
// folders are: both string types, a value stored without its NUL, expanded
// variables, and every value that does not fit or is no folder refused whole.
#include <gtest/gtest.h>

#include <windows.h>
#include <string.h>

#include <string>

#include "install/shell.h"

namespace {

const char* const TEST_KEY = "Software\\TambSetupTest\\FolderValue";

void setValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TEST_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE*)data, size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void setText(const char* name, DWORD type, const std::string& text, bool withNul = true)
{
    setValue(name, type, text.c_str(), (DWORD)text.size() + (withNul ? 1 : 0));
}

}  // namespace

TEST(FolderValue, ReadsBothStringTypesAndRefusesWhatDoesNotFit)
{
    SetEnvironmentVariableA("TAMB_TEST_DIR", "C:\\Expanded");
    // Expands to 258 characters: more than 256, less than MAX_PATH.
    SetEnvironmentVariableA("TAMB_TEST_LONG", ("C:\\" + std::string(255, 'a')).c_str());
    DWORD number = 7;
    setText("Plain", REG_SZ, "C:\\Plain Folder");
    setText("NoNul", REG_SZ, "C:\\NoNul", false);
    setText("Expand", REG_EXPAND_SZ, "%TAMB_TEST_DIR%\\Sub");
    setText("ExpandNoNul", REG_EXPAND_SZ, "%TAMB_TEST_DIR%", false);
    setText("ExpandLong", REG_EXPAND_SZ, "%TAMB_TEST_LONG%");
    setText("Empty", REG_SZ, "");
    setText("TooLong", REG_SZ, "C:\\" + std::string(300, 'b'));
    setText("Fits256", REG_SZ, "C:\\" + std::string(252, 'c'));
    setText("Over256", REG_SZ, "C:\\" + std::string(253, 'c'));
    setValue("Number", REG_DWORD, &number, sizeof number);
    setText("Relative", REG_SZ, "Programs");
    setText("DriveRelative", REG_SZ, "C:Programs");
    setText("RootRelative", REG_SZ, "\\Programs");
    setText("ExpandRelative", REG_EXPAND_SZ, "%TAMB_TEST_UNSET%\\Programs");
    setText("Network", REG_SZ, "\\\\server\\share\\Programs");

    const struct {
        const char* name;
        DWORD capacity;
        const char* expected;        // null: refused
        size_t expectedLength;       // when the text is too long to write here
    } cases[] = {
        {"Plain", MAX_PATH, "C:\\Plain Folder", 0},
        {"NoNul", MAX_PATH, "C:\\NoNul", 0},
        {"Expand", MAX_PATH, "C:\\Expanded\\Sub", 0},
        {"ExpandNoNul", MAX_PATH, "C:\\Expanded", 0},
        {"ExpandLong", MAX_PATH, NULL, 258},   // the whole MAX_PATH buffer counts
        {"ExpandLong", 256, NULL, 0},
        {"Empty", MAX_PATH, NULL, 0},
        {"TooLong", MAX_PATH, NULL, 0},
        {"Fits256", 256, NULL, 255},
        {"Over256", 256, NULL, 0},
        {"Number", MAX_PATH, NULL, 0},
        {"Missing", MAX_PATH, NULL, 0},
        {"Relative", MAX_PATH, NULL, 0},
        {"DriveRelative", MAX_PATH, NULL, 0},
        {"RootRelative", MAX_PATH, NULL, 0},
        {"ExpandRelative", MAX_PATH, NULL, 0},   // an unset variable stays as it is
        {"Network", MAX_PATH, "\\\\server\\share\\Programs", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.capacity));
        char path[MAX_PATH + 16];
        memset(path, 'x', sizeof path);
        int result = readFolderValue(HKEY_CURRENT_USER, TEST_KEY, c.name, path, c.capacity);
        bool accepted = c.expected || c.expectedLength;
        EXPECT_EQ(result, accepted ? 1 : 0);
        if (c.expected)
            EXPECT_STREQ(path, c.expected);
        else if (c.expectedLength)
            EXPECT_EQ(strlen(path), c.expectedLength);
        else
            EXPECT_STREQ(path, "");
        EXPECT_EQ(path[c.capacity], 'x') << "written past the buffer";
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, TEST_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TambSetupTest");
}
