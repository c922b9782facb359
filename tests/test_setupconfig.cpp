// Configuration block: deciphering rules, the field table, the markers and
// the case-blind search; the layout of a setup executable: plain file names
// and the bitmap check.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/bitmapcheck.h"
#include "app/configcheck.h"
#include "app/configfields.h"
#include "app/filename.h"
#include "app/nocase.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"
#include "coding/littleendian.h"
#include "coding/pc1.h"
#include "testutil.h"

// A block of 8 header bytes, the 1044-byte payload area and 64 bytes that follow it.
static Bytes makeBlock(uint32_t magic, int32_t length, const Bytes& payload)
{
    Bytes block(8 + CONFIG_PAYLOAD_SIZE + 64, 0xEE);
    for (int i = 0; i < 4; i++) {
        block[i] = (uint8_t)(magic >> (8 * i));
        block[4 + i] = (uint8_t)((uint32_t)length >> (8 * i));
    }
    memcpy(block.data() + 8, payload.data(), payload.size());
    return block;
}

TEST(SetupConfig, DecipherFollowsHeader)
{
    const Bytes plain = textBytes(CONFIG_PAYLOAD_SIZE, 9);
    Bytes cipher = plain;
    setKey(nullptr);
    crypt(cipher.data(), (int32_t)cipher.size(), 1);

    struct Case {
        uint32_t magic;
        int32_t length;
        int expectedResult;
        int32_t expectedPlainBytes;   // leading payload bytes that come out deciphered
    } cases[] = {
        {CONFIG_MAGIC, 1044, 1, 1044},
        {CONFIG_MAGIC, 100, 1, 100},
        {CONFIG_MAGIC, 1, 1, 1},
        {CONFIG_MAGIC, 0, 0, 0},
        {CONFIG_MAGIC, -5, 0, 0},
        {CONFIG_MAGIC, 2048, 0, 0},
        {CONFIG_MAGIC, 2047, 1, 1044},   // never past the payload area
        {CONFIG_MAGIC, 1045, 1, 1044},
        {CONFIG_MARKER_1, 1044, 0, 0},   // an unwritten stub
        {0x12345678u, 1044, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes block = makeBlock(c.magic, c.length, cipher);
        if (c.magic == CONFIG_MARKER_1)
            for (int i = 0; i < 4; i++)
                block[4 + i] = (uint8_t)(CONFIG_MARKER_2 >> (8 * i));
        const Bytes before = block;
        EXPECT_EQ(decipherSetupConfig(block.data()), c.expectedResult) << c.length;
        Bytes expected = before;
        memcpy(expected.data() + 8, plain.data(), (size_t)c.expectedPlainBytes);
        EXPECT_EQ(block, expected) << "magic " << std::hex << c.magic << std::dec << " length " << c.length;
    }
}

TEST(SetupConfig, FieldsReadAfterDeciphering)
{
    ConfigBlock block;
    memset(&block, 0, sizeof block);
    strcpy(block.payload.productName, "Tamberlyn");
    memcpy(block.payload.fileNames, "Uninst.exe\0Tamb.exe\0", 20);
    block.payload.fileCount = 2;
    block.payload.progressRange = 123456;
    setKey(nullptr);
    crypt((uint8_t*)&block.payload, CONFIG_PAYLOAD_SIZE, 1);
    block.magic = CONFIG_MAGIC;
    block.length = CONFIG_PAYLOAD_SIZE;

    ASSERT_EQ(decipherSetupConfig((uint8_t*)&block), 1);
    EXPECT_STREQ(block.payload.productName, "Tamberlyn");
    EXPECT_STREQ(block.payload.fileNames + 11, "Tamb.exe");
    EXPECT_EQ(block.payload.fileCount, 2);
    EXPECT_EQ(block.payload.progressRange, 123456);
}

TEST(SetupConfig, FindNoCase)
{
    struct Case {
        const char* text;
        const char* pattern;
        int expected;
    } cases[] = {
        {"C:\\Program Files\\Tamb\\Uninst.exe", "uninst", 23},
        {"C:\\UNINSTALL.EXE", "uninst", 4},
        {"C:\\tmp\\MyUninstaller.exe", "uninst", 10},
        {"C:\\Downloads\\Install.exe", "uninst", 0},
        {"D:\\UnInstallers\\Setup.exe", "uninst", 4},   // a folder name counts too
        {"uninst", "uninst", 1},
        {"uninst", "UNINSTALL", 0},                      // pattern longer than text
        {"abc", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"aaab", "aab", 2},
        {"xUNINS", "uninst", 0},                         // cut at the end of the text
        {"[@`{", "{", 4},                                // only letters fold
        {"@", "`", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findNoCase(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
}

// ---- the field table ----

TEST(SetupConfigFields, CoverThePayloadInLayoutOrder)
{
    // Every byte belongs to exactly one field: a field left out or a width
    // that disagrees with the structure shows as a gap or an overlap.
    uint32_t next = 0;
    for (const ConfigField& field : setupConfigFields) {
        EXPECT_EQ(field.offset, next) << (field.key ? field.key : "(no key)");
        next = field.offset + field.width;
    }
    EXPECT_EQ(next, (uint32_t)CONFIG_PAYLOAD_SIZE);

    struct Case {
        const char* key;
        size_t offset, width;
    } keyed[] = {
        {"ProductName", offsetof(SetupConfig, productName), 32},
        {"productversion", offsetof(SetupConfig, productVersion), 8},
        {"INSTALLFOLDER", offsetof(SetupConfig, installFolderName), 64},
        {"StartMenuSubfolder", offsetof(SetupConfig, startMenuSubfolder), 64},
        {"RunningWindowClass", offsetof(SetupConfig, runningWindowClass), 32},
        {"SamplesDescription", offsetof(SetupConfig, samplesDescription), 40},
        {"StartupArguments", offsetof(SetupConfig, startupArguments), 16},
        {"UninstallShortcutFormat", offsetof(SetupConfig, uninstallShortcutFormat), 16},
        {"InstallingLabelFormat", offsetof(SetupConfig, installingLabelFormat), 32},
        {"BackgroundColor", offsetof(SetupConfig, backColorTop), 4},
    };
    for (const Case& c : keyed) {
        const ConfigField* field = findConfigField(c.key);
        ASSERT_NE(field, nullptr) << c.key;
        EXPECT_EQ(field->offset, c.offset) << c.key;
        EXPECT_EQ(field->width, c.width) << c.key;
    }
    for (const char* unknown : {"", "Product", "ProductNameX", "fileCount", "Stub"})
        EXPECT_EQ(findConfigField(unknown), nullptr) << unknown;
}

TEST(SetupConfigFields, DamagedTextEndsInsideEveryTextField)
{
    SetupConfig config;
    memset(&config, 'x', sizeof config);
    terminateConfigText(&config);
    const char* texts[] = {config.fileNames, config.productName, config.productVersion, config.titleText,
                           config.subtitleText, config.footerText, config.installFolderName,
                           config.startMenuSubfolder, config.runningWindowClass, config.samplesDescription,
                           config.startupArguments, config.uninstallShortcutFormat, config.installingLabelFormat};
    size_t widths[] = {512, 32, 8, 64, 64, 64, 64, 64, 32, 40, 16, 16, 32};
    for (size_t i = 0; i < sizeof widths / sizeof widths[0]; i++)
        EXPECT_EQ(strnlen(texts[i], widths[i]), widths[i] - 1) << "text field " << i;
    // Numbers are left as they are.
    const uint8_t* bytes = (const uint8_t*)&config;
    EXPECT_EQ(readLe32(bytes + offsetof(SetupConfig, fileCount)), 0x78787878u);
    EXPECT_EQ(readLe32(bytes + offsetof(SetupConfig, progressRange)), 0x78787878u);
    EXPECT_EQ(readLe32(bytes), 0x78787878u);
}

TEST(SetupConfig, MarkersAreFoundWhereThePayloadFits)
{
    // The bytes an unwritten stub carries, as stored.
    const uint8_t marker[8] = {0x31, 0x55, 0x4C, 0x47, 0x32, 0x55, 0x4C, 0x47};
    Bytes image(100 + 8 + CONFIG_PAYLOAD_SIZE, 0);
    memcpy(&image[100], marker, 8);
    EXPECT_EQ(findConfigMarkers(image.data(), image.size()), 100);
    EXPECT_EQ(findConfigMarkers(image.data(), image.size() - 1), -1) << "no room for the payload";
    memcpy(&image[40], marker, 8);
    EXPECT_EQ(findConfigMarkers(image.data(), image.size()), 40) << "the first one counts";
    image[44] ^= 1;
    EXPECT_EQ(findConfigMarkers(image.data(), image.size()), 100) << "both words must match";
}

// ---- plain file names ----

TEST(SetupLayout, PlainFileNames)
{
    struct Case {
        const char* name;
        int problem;
    } cases[] = {
        {"Uninst.exe", NAME_PLAIN},
        {"Read me.txt", NAME_PLAIN},
        {" leading space.txt", NAME_PLAIN},
        {"a.b.c", NAME_PLAIN},
        {"CONSOLE.txt", NAME_PLAIN},      // only the whole stem names a device
        {"COM10", NAME_PLAIN},
        {"COMA", NAME_PLAIN},
        {"CONINX", NAME_PLAIN},
        {"DOCUMENTS~1.TXT", NAME_PLAIN},   // too long for an alias
        {"DOCU~1.HTML", NAME_PLAIN},
        {"A~B-1.TXT", NAME_PLAIN},         // '~' not followed by letters and digits only
        {"Tilde~", NAME_PLAIN},
        {"a~b.c.d", NAME_PLAIN},
        {"LPT0.txt", NAME_DEVICE},
        {"COM0", NAME_DEVICE},
        {"CONIN$", NAME_DEVICE},
        {"conout$.txt", NAME_DEVICE},
        {"COM\xb9.txt", NAME_DEVICE},      // COM¹ in code page 1252
        {"LPT\xb2.log", NAME_DEVICE},
        {"lpt\xb3", NAME_DEVICE},
        {"DOCU~ABT.TXT", NAME_SHORT_ALIAS},   // the shapes short names take
        {"DOCUME~1.TXT", NAME_SHORT_ALIAS},
        {"do8a2b~1", NAME_SHORT_ALIAS},
        {"PROGR~12", NAME_SHORT_ALIAS},
        {"PROGRA~12", NAME_PLAIN},        // nine characters: no short name
        {"del\x7f.txt", NAME_RESERVED_CHARACTER},
        {"line\nbreak.txt", NAME_RESERVED_CHARACTER},
        {"esc\x1b[31m", NAME_RESERVED_CHARACTER},
        {"", NAME_EMPTY},
        {".", NAME_TRAILING_DOT_OR_SPACE},
        {"..", NAME_DOT_DOT},
        {"...", NAME_DOT_DOT},
        {"..hidden.txt", NAME_DOT_DOT},   // refused everywhere, so no reader differs
        {"a..b", NAME_DOT_DOT},
        {". .", NAME_TRAILING_DOT_OR_SPACE},
        {"name.", NAME_TRAILING_DOT_OR_SPACE},
        {"name ", NAME_TRAILING_DOT_OR_SPACE},
        {"..\\..\\Windows\\win.ini", NAME_DOT_DOT},
        {"Samples\\Sample1.txt", NAME_SEPARATOR},
        {"sub/x.txt", NAME_SEPARATOR},
        {"\\\\server\\share\\x", NAME_SEPARATOR},
        {"C:autoexec.bat", NAME_DRIVE},
        {"file.txt:stream", NAME_DRIVE},
        {"a?.txt", NAME_RESERVED_CHARACTER},
        {"a*", NAME_RESERVED_CHARACTER},
        {"tab\there", NAME_RESERVED_CHARACTER},
        {"pipe|", NAME_RESERVED_CHARACTER},
        {"CON", NAME_DEVICE},
        {"nul.txt", NAME_DEVICE},
        {"Com1", NAME_DEVICE},
        {"lpt9.log", NAME_DEVICE},
        {"AUX .txt", NAME_DEVICE},
        {"prn.tar.gz", NAME_DEVICE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileNameProblem(c.name, 0, nullptr), c.problem) << "\"" << c.name << "\"";
        EXPECT_EQ(isPlainFileName(c.name), c.problem == NAME_PLAIN) << "\"" << c.name << "\"";
        EXPECT_EQ(fileNameProblemText(c.problem)[0] == 0, c.problem == NAME_PLAIN) << c.problem;
    }
    size_t at = 99;
    EXPECT_EQ(fileNameProblem("ab<c", 0, &at), NAME_RESERVED_CHARACTER);
    EXPECT_EQ(at, 2u);
    EXPECT_EQ(fileNameProblem("12345", 5, nullptr), NAME_PLAIN);
    EXPECT_EQ(fileNameProblem("123456", 5, nullptr), NAME_TOO_LONG);

    // Superscripts by the name's code page: 949 has them as two bytes, the
    // other double-byte code pages have none.
    EXPECT_EQ(fileNameProblem("COM\xa9\xf6.txt", 0, nullptr, 949), NAME_DEVICE);
    EXPECT_EQ(fileNameProblem("COM\xa9\xf9.txt", 0, nullptr, 949), NAME_PLAIN);
    EXPECT_EQ(fileNameProblem("COM\xb9.txt", 0, nullptr, 932), NAME_PLAIN);   // a katakana in 932
    EXPECT_EQ(fileNameProblem("COM\xb9.txt", 0, nullptr, 1252), NAME_DEVICE);
}

// The one text rule of every configuration text: no control character,
// character by character in the text's code page.
TEST(SetupLayout, TextsHoldNoControlCharacters)
{
    struct Case {
        const char* text;
        uint32_t codePage;
        int control;
    } cases[] = {
        {"", 0, 0},
        {"Caf\xe9 Notes", 1252, 0},
        {"line\r\nbreak", 1252, 1},
        {"\x1b]0;title\x07", 0, 1},
        {"tab\there", 1252, 1},
        {"del\x7f", 1252, 1},
        {"\x83\x7f", 932, 0},      // after a lead byte, as the name rule reads it
        {"\x83", 932, 0},           // a lead byte at the end stands alone
        {"\x95\x5c\x8e\xa6", 932, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hasControlCharacter(c.text, c.codePage), c.control) << c.text;
}

// ---- the bitmap check ----

// A bottom-up 8-bit bitmap of width x height with a colour table of colours
// entries (0: the full 256) and the pixel data right after it.
static Bytes makeBitmap(uint32_t width, uint32_t height, uint32_t colours)
{
    uint32_t tableEntries = colours ? colours : 256;
    uint32_t rowSize = (width + 3) & ~3u;
    uint32_t bitsOffset = 14 + 40 + 4 * tableEntries;
    Bytes image(bitsOffset + rowSize * height, 0x11);
    memset(image.data(), 0, 54);
    image[0] = 'B';
    image[1] = 'M';
    writeLe32(&image[2], (uint32_t)image.size());
    writeLe32(&image[10], bitsOffset);
    writeLe32(&image[14], 40);
    writeLe32(&image[18], width);
    writeLe32(&image[22], height);
    writeLe16(&image[26], 1);
    writeLe16(&image[28], 8);
    writeLe32(&image[46], colours);
    return image;
}

// The installer's check before it writes anything: each class of bad name or
// count is refused, whatever the builder would have let through.
TEST(SetupLayout, ConfigurationCheck)
{
    struct Case {
        const char* names;        // '|' between names
        int count;
        const char* folder;
        const char* subfolder;
        const char* product;
        int problem;
        int index;                // for CONFIG_FILE_NAME
    };
    const Case cases[] = {
        {"Uninst.exe|Demo.exe|Help.hlp|A.txt|S1.txt", 5, "Demo Product", "", "Demo", CONFIG_OK, 0},
        {"UNINSTALL.EXE|Demo.exe", 2, "", "Tools", "Demo", CONFIG_OK, 0},
        {"Uninst.exe", 1, "Demo", "", "Demo", CONFIG_FILE_COUNT, 0},
        {"Uninst.exe|Demo.exe", 0, "Demo", "", "Demo", CONFIG_FILE_COUNT, 0},
        {"Uninst.exe|Demo.exe", -3, "Demo", "", "Demo", CONFIG_FILE_COUNT, 0},
        {"Uninst.exe|Demo.exe", MAX_SETUP_FILES + 1, "Demo", "", "Demo", CONFIG_FILE_COUNT, 0},
        {"Uninst.exe|Demo.exe", 3, "Demo", "", "Demo", CONFIG_FILE_NAME, 2},   // the list ends early
        {"Uninst.exe|..\\..\\evil.txt", 2, "Demo", "", "Demo", CONFIG_FILE_NAME, 1},
        {"Uninst.exe|Demo.exe|../x.txt", 3, "Demo", "", "Demo", CONFIG_FILE_NAME, 2},
        {"Uninst.exe|Demo.exe...", 2, "Demo", "", "Demo", CONFIG_FILE_NAME, 1},
        {"Uninst.exe|Demo.exe|C:x.txt", 3, "Demo", "", "Demo", CONFIG_FILE_NAME, 2},
        {"Uninst.exe|Demo.exe|a|b|NUL.txt", 5, "Demo", "", "Demo", CONFIG_FILE_NAME, 4},
        {"..\\Uninst.exe|Demo.exe", 2, "Demo", "", "Demo", CONFIG_FILE_NAME, 0},
        {"Setup.exe|Demo.exe", 2, "Demo", "", "Demo", CONFIG_UNINSTALLER_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "Demo", "", "", CONFIG_PRODUCT_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "..\\..\\windows\\system32", "", "Demo", CONFIG_FOLDER_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "Demo.", "", "Demo", CONFIG_FOLDER_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "C:\\Windows", "", "Demo", CONFIG_FOLDER_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "Demo", "Tools\\More", "Demo", CONFIG_FOLDER_NAME, 0},
        {"Uninst.exe|Demo.exe", 2, "Demo", "..", "Demo", CONFIG_FOLDER_NAME, 0},
    };
    for (const Case& c : cases) {
        SetupConfig config;
        memset(&config, 0, sizeof config);
        std::string names = c.names;
        for (char& ch : names)
            if (ch == '|')
                ch = 0;
        memcpy(config.fileNames, names.data(), names.size());
        config.fileCount = c.count;
        strcpy(config.installFolderName, c.folder);
        strcpy(config.startMenuSubfolder, c.subfolder);
        strcpy(config.productName, c.product);
        int index = -1;
        EXPECT_EQ(setupConfigProblem(&config, &index), c.problem) << c.names << " / " << c.folder << " / " << c.subfolder;
        if (c.problem == CONFIG_FILE_NAME) {
            EXPECT_EQ(index, c.index) << c.names;
        }
    }

    // A full list whose last name runs to the end of the field without its
    // NUL is no name.
    SetupConfig config;
    memset(&config, 0, sizeof config);
    strcpy(config.productName, "Demo");
    memcpy(config.fileNames, "Uninst.exe\0", 11);
    memset(config.fileNames + 11, 'a', sizeof config.fileNames - 11);
    config.fileCount = 2;
    int index = -1;
    EXPECT_EQ(setupConfigProblem(&config, &index), CONFIG_FILE_NAME);
    EXPECT_EQ(index, 1);
    config.fileNames[sizeof config.fileNames - 1] = 0;
    EXPECT_EQ(setupConfigProblem(&config, nullptr), CONFIG_OK);
}

// The rest of the installer's check, one field changed from a sound
// configuration at a time: texts, the product name as a registry key name,
// the uninstaller's shortcut, the running-window class, names that a folder
// may already hold under another name.
TEST(SetupLayout, ConfigurationCheckOfTextsKeysAndClasses)
{
    struct Case {
        const char* what;
        size_t offset;             // of the text field to set
        const char* text;
        int problem;
    } cases[] = {
        {"sound", offsetof(SetupConfig, productName), "Demo", CONFIG_OK},
        {"932 0x5C", offsetof(SetupConfig, productName), "\x95\x5c\x8e\xa6", CONFIG_OK},
        {"product \\", offsetof(SetupConfig, productName), "AC\\DC", CONFIG_PRODUCT_NAME},
        {"product alone \\", offsetof(SetupConfig, productName), "\\", CONFIG_PRODUCT_NAME},
        {"product /", offsetof(SetupConfig, productName), "AC/DC", CONFIG_PRODUCT_NAME},
        {"product line", offsetof(SetupConfig, productName), "A\nB", CONFIG_TEXT},
        {"version escape", offsetof(SetupConfig, productVersion), "1\x1b[2J", CONFIG_TEXT},
        {"label CR", offsetof(SetupConfig, installingLabelFormat), "Installing %s\r", CONFIG_TEXT},
        {"samples DEL", offsetof(SetupConfig, samplesDescription), "x\x7f", CONFIG_TEXT},
        {"uninstall = program", offsetof(SetupConfig, uninstallShortcutFormat), "%s", CONFIG_SHORTCUT_NAME},
        {"uninstall = help", offsetof(SetupConfig, uninstallShortcutFormat), "%s help", CONFIG_SHORTCUT_NAME},
        {"uninstall own", offsetof(SetupConfig, uninstallShortcutFormat), "Remove %s", CONFIG_OK},
        {"class dialog", offsetof(SetupConfig, runningWindowClass), "#32770", CONFIG_WINDOW_CLASS},
        {"class atom", offsetof(SetupConfig, runningWindowClass), "#1", CONFIG_WINDOW_CLASS},
        {"class button", offsetof(SetupConfig, runningWindowClass), "BUTTON", CONFIG_WINDOW_CLASS},
        {"class progress", offsetof(SetupConfig, runningWindowClass), "msctls_progress32", CONFIG_WINDOW_CLASS},
        {"class setup", offsetof(SetupConfig, runningWindowClass), "TambSetupClass", CONFIG_WINDOW_CLASS},
        {"class own", offsetof(SetupConfig, runningWindowClass), "DemoWnd", CONFIG_OK},
        {"class none", offsetof(SetupConfig, runningWindowClass), "", CONFIG_OK},
        {"folder alias", offsetof(SetupConfig, installFolderName), "PROGRA~1", CONFIG_FOLDER_NAME},
        {"folder device", offsetof(SetupConfig, installFolderName), "CONOUT$", CONFIG_FOLDER_NAME},
        {"folder line", offsetof(SetupConfig, installFolderName), "Demo\r\n", CONFIG_TEXT},
    };
    for (const Case& c : cases) {
        SetupConfig config;
        memset(&config, 0, sizeof config);
        const char names[] = "Uninst.exe\0Demo.exe\0Demo.hlp\0Readme.txt";
        memcpy(config.fileNames, names, sizeof names);
        config.fileCount = 4;
        config.codePage = 932;
        strcpy(config.productName, "Demo");
        strcpy(config.installFolderName, "Demo");
        strcpy(config.uninstallShortcutFormat, "Uninstall %s");
        strcpy(config.installingLabelFormat, "Installing %s");
        memset((char*)&config + c.offset, 0, 16);
        strcpy((char*)&config + c.offset, c.text);
        int index = -1;
        int problem = setupConfigProblem(&config, &index);
        EXPECT_EQ(problem, c.problem) << c.what;
        if (c.problem == CONFIG_SHORTCUT_NAME) {
            EXPECT_EQ(index, strstr(c.text, "elp") ? 2 : 1) << c.what;
        }
        if (c.problem == CONFIG_TEXT) {
            EXPECT_EQ(setupConfigFields[index].offset, c.offset) << c.what;
        }
    }
    // Names the setup cannot install: device names and short alias shapes.
    for (const char* name : {"CONIN$", "CONOUT$.txt", "COM0", "LPT\xb2.log", "DOCU~ABT.TXT", "Read\nme.txt"}) {
        SetupConfig config;
        memset(&config, 0, sizeof config);
        std::string names = std::string("Uninst.exe") + '\0' + "Demo.exe" + '\0' + name;
        memcpy(config.fileNames, names.data(), names.size());
        config.fileCount = 3;
        config.codePage = 1252;
        strcpy(config.productName, "Demo");
        int index = -1;
        EXPECT_EQ(setupConfigProblem(&config, &index), CONFIG_FILE_NAME) << name;
        EXPECT_EQ(index, 2) << name;
    }
}

TEST(SetupLayout, BitmapCheckAcceptsWhatThePainterReadsSafely)
{
    Bytes good = makeBitmap(5, 3, 16);
    BitmapLayout layout = {};
    ASSERT_EQ(checkBitmapImage(good.data(), good.size(), &layout), BITMAP_OK);
    EXPECT_EQ(layout.width, 5u);
    EXPECT_EQ(layout.height, 3u);
    EXPECT_EQ(layout.colours, 16u);
    EXPECT_EQ(layout.imageSize, 8u * 3);          // rows of whole 32-bit words
    EXPECT_EQ(layout.bitsOffset, 14u + 40 + 64);

    Bytes full = makeBitmap(4, 2, 0);             // 0 colours used: the whole table
    ASSERT_EQ(checkBitmapImage(full.data(), full.size(), &layout), BITMAP_OK);
    EXPECT_EQ(layout.colours, 256u);

    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
        int expected;
    } cases[] = {
        {"magic", 0, {'B', 'A'}, BITMAP_NOT_BM},
        {"core header", 14, {12, 0, 0, 0}, BITMAP_CORE_HEADER},
        {"header 39", 14, {39, 0, 0, 0}, BITMAP_HEADER_SIZE},
        {"header 125", 14, {125, 0, 0, 0}, BITMAP_HEADER_SIZE},
        {"top-down", 22, {0xFD, 0xFF, 0xFF, 0xFF}, BITMAP_TOP_DOWN},
        {"width 0", 18, {0, 0, 0, 0}, BITMAP_DIMENSIONS},
        {"width 65536", 18, {0, 0, 1, 0}, BITMAP_DIMENSIONS},
        {"height 0", 22, {0, 0, 0, 0}, BITMAP_DIMENSIONS},
        {"16 bits", 28, {16, 0}, BITMAP_DEPTH},
        {"rle8", 30, {1, 0, 0, 0}, BITMAP_COMPRESSED},
        {"bitfields", 30, {3, 0, 0, 0}, BITMAP_COMPRESSED},
        {"257 colours", 46, {1, 1, 0, 0}, BITMAP_COLOURS},
        {"gap before pixels", 10, {0x80, 0, 0, 0}, BITMAP_PIXEL_OFFSET},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        memcpy(&bad[c.offset], c.bytes.data(), c.bytes.size());
        int problem = checkBitmapImage(bad.data(), bad.size(), nullptr);
        EXPECT_EQ(problem, c.expected) << c.what;
        EXPECT_NE(bitmapProblemText(problem)[0], 0) << c.what;
    }
    EXPECT_EQ(checkBitmapImage(good.data(), good.size() - 1, nullptr), BITMAP_SHORT);
    EXPECT_EQ(checkBitmapImage(good.data(), 53, nullptr), BITMAP_NOT_BM) << "shorter than both headers";
    // Only the low 16 bits of the colour count count.
    Bytes high = good;
    high[48] = 0x01;
    EXPECT_EQ(checkBitmapImage(high.data(), high.size(), nullptr), BITMAP_OK);
}
