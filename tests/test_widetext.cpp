// Text at the edge of the Windows programs: UTF-8 and UTF-16 in bounded
// buffers, stored code pages to UTF-8, the configuration's texts converted
// at start, and the file layer's UTF-8 paths on the wide file functions.
#include <gtest/gtest.h>

#include "widetestutil.h"

#include <windows.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/setuptext.h"
#include "app/wintext.h"
#include "coding/codingerror.h"
#include "coding/fileio.h"
#include "coding/widetext.h"

// ---- UTF-8 and UTF-16 ----

struct TextPair {
    const char* utf8;
    const wchar_t* wide;
};
static const TextPair pairs[] = {
    {"", L""},
    {"Setup", L"Setup"},
    {"Cr\xC3\xA8me M\xC3\xBCller", L"Cr\u00E8me M\u00FCller"},
    {"\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD0\xB0", L"\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u0430"},
    {"\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE8\xA1\xA8\xE7\xA4\xBA", L"\u30BD\u30D5\u30C8\u8868\u793A"},   // "ソフト表示"
    {"\xF0\x9D\x84\x9E!", L"\xD834\xDD1E!"},   // a character outside the first plane: a surrogate pair
};

TEST(WideText, ConvertsBothWaysExactly)
{
    for (const TextPair& pair : pairs) {
        wchar_t wide[64];
        char text[64];
        EXPECT_EQ(utf8ToWide(pair.utf8, wide, 64), (int)wcslen(pair.wide)) << pair.utf8;
        EXPECT_EQ(wcscmp(wide, pair.wide), 0) << pair.utf8;
        EXPECT_EQ(wideToUtf8(pair.wide, text, 64), (int)strlen(pair.utf8)) << pair.utf8;
        EXPECT_STREQ(text, pair.utf8);
    }
}

TEST(WideText, RefusesWhatDoesNotFitAndNeverWritesPast)
{
    for (const TextPair& pair : pairs) {
        int units = (int)wcslen(pair.wide), bytes = (int)strlen(pair.utf8);
        // Exactly enough room, then one unit or byte less: refused, "", nothing beyond touched.
        for (int less = 0; less <= 1; less++) {
            wchar_t wide[64];
            char text[64];
            wmemset(wide, L'#', 64);
            memset(text, '#', sizeof text);
            int wideResult = utf8ToWide(pair.utf8, wide, units + 1 - less);
            int textResult = wideToUtf8(pair.wide, text, bytes + 1 - less);
            if (less && units + 1 - less > 0) {
                EXPECT_EQ(wideResult, -1) << pair.utf8;
                EXPECT_EQ(wide[0], 0) << pair.utf8;
            }
            if (less && bytes + 1 - less > 0) {
                EXPECT_EQ(textResult, -1) << pair.utf8;
                EXPECT_EQ(text[0], 0) << pair.utf8;
            }
            if (!less) {
                EXPECT_EQ(wideResult, units);
                EXPECT_EQ(textResult, bytes);
            }
            EXPECT_EQ(wide[units + 1 - less], L'#') << "wrote past the room given: " << pair.utf8;
            EXPECT_EQ(text[bytes + 1 - less], '#') << "wrote past the room given: " << pair.utf8;
        }
    }
    // No room at all: refused without a write (0 would ask the system for the size).
    wchar_t wide[1] = {L'#'};
    char text[1] = {'#'};
    EXPECT_EQ(utf8ToWide("a", wide, 0), -1);
    EXPECT_EQ(wideToUtf8(L"a", text, 0), -1);
    EXPECT_EQ(wide[0], L'#');
    EXPECT_EQ(text[0], '#');
}

TEST(WideText, RefusesBytesThatAreNotUtf8)
{
    // A path made of them would name another file.
    static const char* const bad[] = {
        "Cr\xE8me",           // Windows-1252, not UTF-8
        "end\xC3",            // a sequence cut short
        "\xC0\xAF",           // an over-long "/"
        "\xED\xA0\x80",       // a surrogate written as UTF-8
        "\xFF\xFE",
    };
    for (const char* text : bad) {
        wchar_t wide[16];
        EXPECT_EQ(utf8ToWide(text, wide, 16), -1) << text;
        EXPECT_EQ(wide[0], 0);
    }
}

// ---- stored code pages ----

TEST(WideText, StoredCodePagesBecomeUtf8)
{
    struct Case {
        uint32_t codePage;
        const char* stored;
        const char* utf8;
    };
    static const Case cases[] = {
        {1252, "Cr\xE8me Caf\xE9 \x80", "Cr\xC3\xA8me Caf\xC3\xA9 \xE2\x82\xAC"},
        {1250, "\x8A\x9A\xE8", "\xC5\xA0\xC5\xA1\xC4\x8D"},   // "Ššč"
        {1251, "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD0\xB0"},
        {1253, "\xC1\xE8\xDE\xED\xE1", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1"},   // "Αθήνα"
        // Code page 932: the second byte of "ソ" and of "表" is the code of a backslash.
        {932, "\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6", "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE8\xA1\xA8\xE7\xA4\xBA"},
        {936, "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},   // "中文"
        {949, "\xC7\xD1\xB1\xDB", "\xED\x95\x9C\xEA\xB8\x80"},   // "한글"
        {950, "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},   // "中文"
        {874, "\xA1\xA2", "\xE0\xB8\x81\xE0\xB8\x82"},           // Thai "กข"
        {1252, "", ""},
    };
    for (const Case& c : cases) {
        char text[64];
        EXPECT_EQ(codePageToUtf8(c.codePage, c.stored, text, sizeof text), (int)strlen(c.utf8)) << c.codePage;
        EXPECT_STREQ(text, c.utf8) << c.codePage;
    }
    // 0, and a code page the system does not know, read as the system's ANSI code page.
    char expected[64], text[64];
    ASSERT_GT(codePageToUtf8(GetACP(), "Caf\xE9 \xC0\xFF", expected, sizeof expected), 0);
    for (uint32_t codePage : {0u, 12345u}) {
        EXPECT_GT(codePageToUtf8(codePage, "Caf\xE9 \xC0\xFF", text, sizeof text), 0);
        EXPECT_STREQ(text, expected) << codePage;
    }
    // Too little room: refused, not cut inside a character.
    memset(text, '#', sizeof text);
    EXPECT_EQ(codePageToUtf8(1252, "Cr\xE8me", text, 4), -1);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[4], '#');
}

// ---- the configuration's texts ----

TEST(SetupText, FieldsAndNamesComeFromTheStoredCodePage)
{
    static SetupConfig config;
    memset(&config, 0, sizeof config);
    config.codePage = 932;
    static const char names[] = "Uninst.exe\0\x83\x5C\x83\x74\x83\x67.exe\0Read\x95\x5C.txt";
    memcpy(config.fileNames, names, sizeof names);
    config.fileCount = 3;
    strcpy(config.productName, "\x83\x5C\x83\x74\x83\x67");
    strcpy(config.installFolderName, "\x95\x5C\x8E\xA6");
    strcpy(config.uninstallShortcutFormat, "%s \x8D\xED\x8F\x9C");   // "%s 削除"
    strcpy(config.productVersion, "1.0");
    loadSetupText(&config);
    EXPECT_STREQ(setupText.productName, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88");
    EXPECT_STREQ(setupText.installFolderName, "\xE8\xA1\xA8\xE7\xA4\xBA");
    EXPECT_STREQ(setupText.uninstallShortcutFormat, "%s \xE5\x89\x8A\xE9\x99\xA4");
    EXPECT_STREQ(setupText.productVersion, "1.0");
    EXPECT_STREQ(setupText.startMenuSubfolder, "");
    // The same names in the same order, each with its NUL, then an empty one.
    static const char list[] = "Uninst.exe\0\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.exe\0Read\xE8\xA1\xA8.txt\0";
    EXPECT_EQ(memcmp(setupText.fileNames, list, sizeof list), 0);
}

TEST(SetupText, WorstGrowthFitsEveryField)
{
    // Every stored byte a character of three UTF-8 bytes ("€" in 1252): each
    // field at its fullest still converts whole.
    static SetupConfig config;
    memset(&config, 0, sizeof config);
    config.codePage = 1252;
    memset(config.productName, 0x80, sizeof config.productName - 1);
    memset(config.installingLabelFormat, 0x80, sizeof config.installingLabelFormat - 1);
    memset(config.fileNames, 0x80, sizeof config.fileNames - 1);   // one name as long as the list
    config.fileCount = 1;
    loadSetupText(&config);
    std::string euros;
    for (size_t i = 0; i < sizeof config.productName - 1; i++)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(std::string(setupText.productName), euros);
    EXPECT_EQ(std::string(setupText.installingLabelFormat), euros);
    EXPECT_EQ(strlen(setupText.fileNames), 3 * (sizeof config.fileNames - 1));
}

// ---- UTF-8 paths on the wide file functions ----

static std::wstring tempFolderWide()
{
    return scratchFolder(L"widetext-");
}

TEST(FileLayer, Utf8PathsNameTheFilesTheySay)
{
    std::wstring folder = tempFolderWide();
    static const wchar_t* const names[] = {L"M\u00FCller.txt", L"\u041F\u0440\u0438\u0432\u0435\u0442.txt",
                                           L"\u30BD\u30D5\u30C8\u8868\u793A.txt"};
    for (const wchar_t* name : names) {
        std::wstring wide = folder + L"\\" + name;
        std::string path = utf8Of(wide);
        FileHandle file = fileCreate(path.c_str(), 1, NULL);
        ASSERT_NE(file, INVALID_FILE) << path;
        EXPECT_EQ(fileWrite(file, "data", 4), 4);
        fileClose(file);
        // The system sees exactly that name.
        EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES) << path;
        int exists = 0;
        EXPECT_EQ(fileCreate(path.c_str(), 1, &exists), INVALID_FILE);
        EXPECT_EQ(exists, 1);
        file = fileOpenRead(path.c_str());
        ASSERT_NE(file, INVALID_FILE);
        EXPECT_EQ(fileSize(file), 4);
        fileClose(file);
        std::wstring renamed = folder + L"\\\u00C9t\u00E9 " + name;
        EXPECT_TRUE(fileRename(path.c_str(), utf8Of(renamed).c_str()));
        EXPECT_EQ(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(fileDelete(utf8Of(renamed).c_str()));
        EXPECT_EQ(GetFileAttributesW(renamed.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    RemoveDirectoryW(folder.c_str());
}

TEST(FileLayer, PathsThatAreNotUtf8OrTooLongAreRefused)
{
    // Refused as they stand, never read in another code page.
    std::string folder = utf8Of(tempFolderWide());
    std::string ansi = folder + "\\Cr\xE8me.txt";
    EXPECT_EQ(fileCreate(ansi.c_str(), 0, NULL), INVALID_FILE);
    EXPECT_EQ(codingLastError(), CODING_CANNOT_CREATE);
    EXPECT_EQ(fileOpenRead(ansi.c_str()), INVALID_FILE);
    EXPECT_FALSE(fileDelete(ansi.c_str()));
    std::string longPath = folder + "\\" + std::string(2000, 'a');
    EXPECT_EQ(fileOpenRead(longPath.c_str()), INVALID_FILE);
    EXPECT_EQ(fileLastSystemError(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(fileRename(longPath.c_str(), ansi.c_str()));
    RemoveDirectoryW(tempFolderWide().c_str());
}

// A drive path too long for the classic limit takes the "\\?\" form; every
// other path stays as it is; past the layer's own limit none is given.
TEST(FileLayer, SystemPathFormsAroundTheClassicLimit)
{
    const std::string drive = "C:\\" + std::string(MAX_PATH - 12 - 4, 'd');   // 247 units: no prefix yet
    const struct {
        std::string path;
        const char* prefix;   // null: refused
    } cases[] = {
        {"C:\\Program Files\\Demo", ""},
        {drive, ""},
        {drive + "x", "\\\\?\\"},
        {"C:\\" + std::string(300, 's') + "/Main.exe", "\\\\?\\"},   // the builder joins names with "/"
        {"C:\\" + std::string(LONG_PATH_UNITS - 3, 'e'), "\\\\?\\"},   // the longest taken
        {"C:\\" + std::string(LONG_PATH_UNITS - 2, 'e'), NULL},
        {std::string(400, 'r'), ""},                                // relative: the system resolves it
        {"\\\\server\\share\\" + std::string(400, 'u'), ""},   // a network path keeps the classic limit
        {"C:\\" + std::string(300, '\xE9'), NULL},                  // not UTF-8
    };
    for (const auto& c : cases) {
        wchar_t buffer[SYSTEM_PATH_UNITS];
        SetLastError(0);
        const wchar_t* form = toSystemPath(c.path.c_str(), buffer);
        if (!c.prefix) {
            EXPECT_EQ(form, nullptr) << c.path.size();
            continue;
        }
        ASSERT_NE(form, nullptr) << c.path.size();
        std::string expected = c.prefix + c.path;
        if (c.prefix[0])   // the long form knows no "/"
            std::replace(expected.begin(), expected.end(), '/', '\\');
        EXPECT_EQ(utf8Of(form), expected) << c.path.size();
    }
    wchar_t buffer[SYSTEM_PATH_UNITS];
    EXPECT_EQ(toSystemPath(("C:\\" + std::string(2000, 'e')).c_str(), buffer), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}

// A folder deeper than MAX_PATH: made, written, read, renamed in, deleted
// and removed through the file layer and the folder calls, names in UTF-8.
TEST(FileLayer, WorksBeyondMaxPath)
{
    std::string folder = utf8Of(scratchFolder(L"tambdeep"));
    std::vector<std::string> levels;
    for (int i = 0; levels.empty() || levels.back().size() < 2 * MAX_PATH; i++) {
        levels.push_back(folder + "\\" + std::string(60, (char)('a' + i)) + "\xC3\xA9");
        folder = levels.back();
        ASSERT_TRUE(createFolder(folder.c_str())) << folder.size();
    }
    const std::string file = folder + "\\Cr\xC3\xA8me.txt", renamed = folder + "\\Renamed.txt";
    FileHandle out = fileCreate(file.c_str(), 1, NULL);
    ASSERT_NE(out, INVALID_FILE);
    EXPECT_EQ(fileWrite(out, "deep", 4), 4);
    fileClose(out);
    EXPECT_TRUE(setPathAttributes(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(pathAttributes(file.c_str()) & FILE_ATTRIBUTE_READONLY, (DWORD)FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(setPathAttributes(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(fileRename(file.c_str(), renamed.c_str()));
    FileHandle in = fileOpenRead(renamed.c_str());
    ASSERT_NE(in, INVALID_FILE);
    char back[8] = "";
    EXPECT_EQ(fileRead(in, back, sizeof back), 4);
    EXPECT_EQ(std::string(back, 4), "deep");
    fileClose(in);
    EXPECT_TRUE(fileDelete(renamed.c_str()));
    EXPECT_EQ(pathAttributes(renamed.c_str()), INVALID_FILE_ATTRIBUTES);
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        EXPECT_TRUE(removeFolder(level->c_str())) << level->size();
    RemoveDirectoryW(scratchFolder(L"tambdeep").c_str());
}

TEST(FileLayer, ModulePathIsUtf8AndRefusedWhenItDoesNotFit)
{
    char path[1024];
    wchar_t wide[MAX_PATH];
    ASSERT_TRUE(getModulePath(path, sizeof path));
    ASSERT_GE(utf8ToWide(path, wide, MAX_PATH), 0);
    EXPECT_NE(GetFileAttributesW(wide), INVALID_FILE_ATTRIBUTES) << path;
    char small[8] = "#######";
    EXPECT_FALSE(getModulePath(small, sizeof small));
    EXPECT_STREQ(small, "");
}
