// mksetup: script checks with their messages, and build -> list -> verify ->
// extract -> config round trips through the real tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "codepage.h"
#include "decoration.h"
#include "app/filename.h"
#include "coding/littleendian.h"
#include "coding/blockstream_encode.h"
#include "package/configpatch.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"
#include "script.h"
#include "userfiles.h"
#include "testutil.h"

static std::string readText(const std::string& path)
{
    Bytes bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

static void writeText(const std::string& path, const std::string& text)
{
    writeFileBytes(path, Bytes(text.begin(), text.end()));
}

// Offsets in the stand-in stub's headers.
enum { FAKE_PE = 0x80, FAKE_SECTIONS = FAKE_PE + 24 + 0xE0, FAKE_DATA_START = 0x1200 };

// A stand-in for the setup program: the headers of a 32-bit x86 Windows
// program with two sections, code and writable data, and the two marker
// words with room for the payload at offset 5000 of the data; random bytes
// elsewhere. machine and dataFlags make the stubs a builder must refuse.
static Bytes fakeStub(uint16_t machine = 0x14C, uint32_t dataFlags = 0xC0000040)
{
    Bytes stub = randomBytes(5000, 77);
    memset(stub.data(), 0, 0x400);   // headers: no directories, so no certificate table
    stub[0] = 'M';
    stub[1] = 'Z';
    writeLe32(&stub[0x3C], FAKE_PE);
    memcpy(&stub[FAKE_PE], "PE\0\0", 4);
    writeLe16(&stub[FAKE_PE + 4], machine);
    writeLe16(&stub[FAKE_PE + 6], 2);
    writeLe16(&stub[FAKE_PE + 20], 0xE0);
    writeLe16(&stub[FAKE_PE + 24], 0x10B);
    uint8_t marker[8];
    writeLe32(marker, CONFIG_MARKER_1);
    writeLe32(marker + 4, CONFIG_MARKER_2);
    stub.insert(stub.end(), marker, marker + 8);
    stub.insert(stub.end(), CONFIG_PAYLOAD_SIZE, 0);
    Bytes tail = randomBytes(3000, 78);
    stub.insert(stub.end(), tail.begin(), tail.end());
    struct { const char* name; uint32_t start, end, flags; } sections[] = {
        {".text", 0x400, FAKE_DATA_START, 0x60000020},
        {".data", FAKE_DATA_START, (uint32_t)stub.size(), dataFlags},
    };
    for (int i = 0; i < 2; i++) {
        uint8_t* entry = &stub[FAKE_SECTIONS + 40 * i];
        memcpy(entry, sections[i].name, strlen(sections[i].name));
        writeLe32(entry + 16, sections[i].end - sections[i].start);
        writeLe32(entry + 20, sections[i].start);
        writeLe32(entry + 36, sections[i].flags);
    }
    return stub;
}

struct Fixture {
    std::string folder;
    std::string script;
};

// A folder with sources, a stub and a valid script. A line of setupExtra
// replaces the default line of the same key (keeping its line number), "-Key"
// drops it, any other is added at the end of [Setup] (line 10 on). [Setup]
// is line 1; with the default files [Files] is line 11, Main.exe line 12.
static Fixture makeProject(const std::string& tag, const std::string& setupExtra = "",
                           const std::string& filesText = "")
{
    Fixture f;
    f.folder = tempPath(tag);
    EXPECT_EQ(system(("mkdir -p '" + f.folder + "'").c_str()), 0);
    writeFileBytes(f.folder + "/stub.exe", fakeStub());
    writeFileBytes(f.folder + "/Main.exe", randomBytes(30000, 1));
    writeFileBytes(f.folder + "/Readme.txt", textBytes(50000, 2));
    writeFileBytes(f.folder + "/Data.bin", runBytes(70000, 3));
    writeFileBytes(f.folder + "/S1.txt", textBytes(2000, 4));
    writeFileBytes(f.folder + "/Empty.txt", Bytes());
    std::vector<std::string> setup = {"ProductName = Demo", "ProductVersion = 1.0", "InstallFolder = Demo Product",
                                      "RunningWindowClass = DemoWnd", "SamplesDescription = samples",
                                      "StartupShortcut = yes", "Stub = stub.exe", "Program = Main.exe"};
    size_t at = 0;
    while (at < setupExtra.size()) {
        std::string line = setupExtra.substr(at, setupExtra.find('\n', at) - at);
        at += line.size() + 1;
        std::string key = line.substr(0, line.find(' '));
        bool replaced = false;
        if (key[0] == '-') {
            for (std::string& d : setup)
                if (d.substr(0, d.find(' ')) == key.substr(1))
                    d = "; dropped";
            continue;
        }
        for (std::string& d : setup)
            if (d.substr(0, d.find(' ')) == key) {
                d = line;
                replaced = true;
            }
        if (!replaced)
            setup.push_back(line);
    }
    std::string files = filesText.empty() ? "Main.exe = Main.exe\nReadme.txt = Readme.txt\n"
                                            "Data.bin = Data.bin\n[Samples]\nS1.txt = S1.txt\nEmpty.txt = Empty.txt\n"
                                          : filesText;
    std::string text = "[Setup]\n";
    for (const std::string& line : setup)
        text += line + "\n";
    f.script = f.folder + "/setup.ini";
    writeText(f.script, text + "\n[Files]\n" + files);
    return f;
}

static std::vector<std::string> scriptErrors(const Fixture& f)
{
    SetupScript script;
    std::vector<std::string> errors;
    loadScript(f.script, script, errors);
    return errors;
}

TEST(MksetupScript, ValidScriptHasNoErrors)
{
    Fixture f = makeProject("valid");
    EXPECT_EQ(scriptErrors(f), std::vector<std::string>());
}

static std::vector<std::string> scriptWarnings(const Fixture& f)
{
    SetupScript script;
    std::vector<std::string> errors;
    loadScript(f.script, script, errors);
    return script.warnings;
}

static bool anyContains(const std::vector<std::string>& lines, const std::string& fragment)
{
    for (const std::string& line : lines)
        if (line.find(fragment) != std::string::npos)
            return true;
    return false;
}

TEST(MksetupScript, ErrorsNameLineKeyAndProblem)
{
    const std::string base = "Main.exe = Main.exe\n";
    struct Case {
        const char* tag;
        std::string setupExtra;
        std::string files;
        std::string expected;    // ":LINE: error: key: what" fragment
    } cases[] = {
        {"longname", "ProductName = A product name of 32 characters.\n", "", ":2: error: ProductName: \"A product name of 32 characters.\" is 32 characters; at most 31 fit"},
        {"noname", "ProductName =\n", "", ":2: error: [Setup] ProductName: a product name is required"},
        {"control", "ProductName = A\x1b]0;x\x07\n", "", ":2: error: ProductName: \"A\\x1B]0;x\\x07\" holds a control character"},
        {"version", "ProductVersion = 1.0.0.12\n", "", ":3: error: ProductVersion: \"1.0.0.12\" is 8 characters; at most 7 fit"},
        {"folder", "InstallFolder = Demo\\Sub\n", "", ":4: error: InstallFolder: a file name may not contain a path separator"},
        {"pipe", "StartupArguments = |\n", "", ":10: error: StartupArguments: a leading '|' is no argument; write \"StartupShortcut = no\""},
        {"label", "InstallingLabelFormat = Now installing the product %s...\n", "", ":10: error: InstallingLabelFormat: \"Now installing the product %s...\" is 32 characters; at most 31 fit"},
        {"fmt", "UninstallShortcutFormat = Remove\n", "", ":10: error: UninstallShortcutFormat: must contain %s (the product name) exactly once"},
        {"fmt2", "UninstallShortcutFormat = %s %d\n", "", ":10: error: UninstallShortcutFormat: only %s (the product name) and %% may follow '%'"},
        {"colour", "BackgroundColor = blue\n", "", ":10: error: BackgroundColor: \"blue\" is not a colour of the form #RRGGBB"},
        {"unknown", "Colour = #000000\n", "", ":10: error: Colour: unknown key in [Setup]"},
        {"twice", "productName = Again\n", "", ":10: error: productName: given twice (first on line 2)"},
        {"startword", "StartupShortcut = maybe\n", "", ":7: error: StartupShortcut: \"maybe\" is neither yes nor no"},
        {"publisher", "Publisher = " + std::string(64, 'p') + "\n", "", ":10: error: Publisher: \"" + std::string(64, 'p') + "\" is 64 characters; at most 63 fit"},
        {"uninst", "Uninstaller = Remove.exe\n", "", ":10: error: [Setup] Uninstaller Remove.exe: the uninstaller's name must contain \"uninst\", or it would run as an installer"},
        {"uninstexe", "Uninstaller = Uninst.bat\n", "", ":10: error: [Setup] Uninstaller Uninst.bat: the uninstaller's name must end in \".exe\""},
        {"noprogram", "-Program\n", "", ":1: error: [Setup] Program: missing; name the main program, one of the files of [Files]"},
        {"emptyprogram", "Program =\n", "", ":9: error: [Setup] Program: empty; name the main program"},
        {"wrongprogram", "Program = Mian.exe\n", "", ":9: error: Program: \"Mian.exe\" is not a file of [Files] (did you mean \"Main.exe\"?)"},
        {"mainexe", "Program = Main.txt\n", "Main.txt = S1.txt\n", ":9: error: Program: the main program \"Main.txt\" must be an \".exe\""},
        {"sep", "", base + "sub/x.txt = S1.txt\n", ":13: error: [Files] sub/x.txt: a file name may not contain a path separator"},
        {"bslash", "", base + "a\\b.txt = S1.txt\n", ":13: error: [Files] a\\b.txt: a file name may not contain a path separator"},
        {"dotdot", "", base + "..x = S1.txt\n", ":13: error: [Files] ..x: \"..\" is not allowed in a file name"},
        {"drive", "", base + "C:x.txt = S1.txt\n", ":13: error: [Files] C:x.txt: a file name may not contain a drive letter or ':'"},
        {"reserved", "", base + "a?.txt = S1.txt\n", ":13: error: [Files] a?.txt: reserved character '?' in file name"},
        {"device", "", base + "nul.txt = S1.txt\n", ":13: error: [Files] nul.txt: \"NUL\" is a reserved device name"},
        {"device2", "", base + "Com1 = S1.txt\n", ":13: error: [Files] Com1: \"COM1\" is a reserved device name"},
        {"dup", "", base + "main.EXE = S1.txt\n", ":13: error: [Files] main.EXE: duplicate file name (line 12) in the same folder"},
        {"dupuninst", "", base + "uninst.EXE = S1.txt\n", ":13: error: [Files] uninst.EXE: the uninstaller has this name"},
        {"missing", "", base + "Gone.txt = Gone.txt\n", ":13: error: [Files] Gone.txt: cannot read source \"Gone.txt\": No such file or directory"},
        {"nosource", "", base + "NoSource.txt\n", ":13: error: [Files] NoSource.txt: no source file given (name = source path)"},
        {"fourfiles", "", base + "A.txt = S1.txt\nB.txt = S1.txt\nC.txt = S1.txt\n", ":15: error: [Files] C.txt: [Files] holds at most three files, the program included"},
        {"gap", "", base + "[Samples]\nS1.txt = S1.txt\n", ":13: error: [Samples]: samples need exactly three files in [Files]"},
        {"deco", "", base + "[Decoration]\nLOGOS = x.bmp\n", ":14: error: LOGOS: not a decorative bitmap (BLUE, DIMENSION, LOGO, TAMBERLYN, TOPSHADOW, ORANGE, BLUEWHITE, WHITEBLUE) (did you mean \"LOGO\"?)"},
        {"decofile", "", base + "[Decoration]\nLOGO = nothere.bmp\n", ":14: error: [Decoration] LOGO: cannot read \"nothere.bmp\""},
    };
    for (const Case& c : cases) {
        Fixture f = makeProject(std::string("err_") + c.tag, c.setupExtra, c.files);
        std::vector<std::string> errors = scriptErrors(f);
        bool found = false;
        for (const std::string& e : errors)
            found = found || (e.rfind(f.script, 0) == 0 && e.find(c.expected) != std::string::npos);
        EXPECT_TRUE(found) << c.tag << ": expected \"" << c.expected << "\", got:\n"
                           << (errors.empty() ? std::string("(no errors)") : errors[0]);
    }
}

// Findings of a new user's first runs: what a slip of the pen gives.
TEST(MksetupScript, DiagnosesMisspellingsWithoutInventedLines)
{
    // A misspelt section: one error with a suggestion; its keys are not reported again.
    Fixture f = makeProject("section", "", "Main.exe = Main.exe\n[Filez]\nReadme.txt = Readme.txt\nData.bin = Data.bin\n");
    std::vector<std::string> errors = scriptErrors(f);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find(":13: error: [Filez]: unknown section (expected [Setup], [Files], [Samples] or [Decoration]) (did you mean \"Files\"?)"),
              std::string::npos) << errors[0];
    EXPECT_FALSE(anyContains(errors, ":14:") || anyContains(errors, ":15:") || anyContains(errors, "unknown key"));

    // A misspelt required key: a suggestion at its line, and "missing" at the
    // section's header, never at the script's last line.
    f = makeProject("key", "-ProductName\nProductNmae = Demo\n");
    errors = scriptErrors(f);
    EXPECT_TRUE(anyContains(errors, ":10: error: ProductNmae: unknown key in [Setup] (did you mean \"ProductName\"?)"));
    EXPECT_TRUE(anyContains(errors, ":1: error: [Setup] ProductName: missing; a product name is required"));
    int lastLine = 0;
    for (char ch : readText(f.script))
        lastLine += ch == '\n';
    EXPECT_FALSE(anyContains(errors, ":" + std::to_string(lastLine) + ":"));

    // A key with an error gets no warning on top: a misspelt key's error
    // stands for the key it was meant to be; other keys still warn.
    struct Case {
        const char* tag;
        std::string setupExtra;
        std::string error;         // fragment
        std::string notWarned;     // no warning names this
    } cases[] = {
        {"version", "-ProductVersion\nProductVerison = 1.0\n", ":10: error: ProductVerison: unknown key in [Setup] (did you mean \"ProductVersion\"?)", "ProductVersion"},
        {"folder", "-InstallFolder\ninstallfolda = Demo\n", "(did you mean \"InstallFolder\"?)", "InstallFolder"},
        {"args", "StartupShortcut = no\nStartupArguments = |\n", ":10: error: StartupArguments: a leading '|'", "StartupArguments"},
    };
    for (const Case& c : cases) {
        f = makeProject(std::string("followon_") + c.tag, c.setupExtra);
        SetupScript script;
        errors.clear();
        EXPECT_FALSE(loadScript(f.script, script, errors));
        EXPECT_TRUE(anyContains(errors, c.error)) << c.tag << ": " << (errors.empty() ? "" : errors[0]);
        EXPECT_FALSE(anyContains(script.warnings, c.notWarned)) << c.tag << ": " << script.warnings[0];
    }
    f = makeProject("followon_other", "-ProductVersion\nInstalFolder = Demo\n");
    EXPECT_TRUE(anyContains(scriptWarnings(f), ":1: warning: [Setup] ProductVersion: empty"));

    // No [Setup] at all: "missing", with no line.
    f = makeProject("nosetup");
    writeText(f.script, "[Files]\nMain.exe = Main.exe\n");
    errors = scriptErrors(f);
    EXPECT_TRUE(anyContains(errors, f.script + ": error: [Setup] ProductName: missing")) << errors[0];
}

TEST(MksetupScript, WarnsOfValuesThatMakeOddTexts)
{
    EXPECT_EQ(scriptWarnings(makeProject("nowarn")), std::vector<std::string>());
    struct Case {
        const char* tag;
        std::string setupExtra;
        std::string files;
        std::string expected;
    } cases[] = {
        {"version", "ProductVersion =\n", "", ":3: warning: [Setup] ProductVersion: empty: the dialogs show the product name followed by a bare \"V\""},
        {"noversion", "-ProductVersion\n", "", ":1: warning: [Setup] ProductVersion: empty"},
        {"folder", "InstallFolder =\n", "", ":4: warning: [Setup] InstallFolder: empty: the files go straight into Program Files"},
        {"samples", "SamplesDescription =\n", "", ":6: warning: [Setup] SamplesDescription: empty while [Samples] holds files"},
        {"nosamples", "", "Main.exe = Main.exe\n", ":6: warning: SamplesDescription: given, but [Samples] holds no files"},
        {"args", "StartupShortcut = no\nStartupArguments = -min\n", "", ":10: warning: StartupArguments: no Startup shortcut is made"},
        {"argsdefault", "-StartupShortcut\nStartupArguments = -min\n", "", ":10: warning: StartupArguments: no Startup shortcut is made (StartupShortcut is no unless the script says yes)"},
    };
    for (const Case& c : cases) {
        Fixture f = makeProject(std::string("warn_") + c.tag, c.setupExtra, c.files);
        EXPECT_EQ(scriptErrors(f), std::vector<std::string>()) << c.tag;
        EXPECT_TRUE(anyContains(scriptWarnings(f), c.expected)) << c.tag << ": expected " << c.expected;
    }
}

TEST(MksetupScript, StartupShortcutWordAndFileLayout)
{
    // The named files land on the fixed layout: uninstaller, program, the other
    // files, then the samples from the fifth on; "no" is the setup program's '|'.
    Fixture f = makeProject("layout", "StartupShortcut = no\nStartupArguments =\nUninstaller = Remove-Uninst.exe\n",
                            "Readme.txt = Readme.txt\nMain.exe = Main.exe\nData.bin = Data.bin\n[Samples]\nS1.txt = S1.txt\n");
    SetupScript script;
    std::vector<std::string> errors;
    ASSERT_TRUE(loadScript(f.script, script, errors)) << errors[0];
    SetupConfig config;
    fillSetupConfig(script, config);
    const char names[] = "Remove-Uninst.exe\0Main.exe\0Readme.txt\0Data.bin\0S1.txt";
    EXPECT_EQ(memcmp(config.fileNames, names, sizeof names), 0);
    EXPECT_EQ(config.fileCount, 5);
    EXPECT_STREQ(config.startupArguments, "|");

    // A product starts at logon only when its script says so; config names
    // every setup that makes a Startup shortcut.
    struct Case {
        const char* setupExtra;
        const char* arguments;    // as stored
        const char* described;    // in config's script
    } cases[] = {
        {"-StartupShortcut\n", "|", "StartupShortcut = no\n"},
        {"-StartupShortcut\nStartupArguments = -min\n", "|", "StartupShortcut = no\n"},
        {"StartupShortcut = YES\n", "", "StartupShortcut = yes\nStartupArguments =\n"},
        {"StartupShortcut = yes\nStartupArguments = -min\n", "-min", "StartupShortcut = yes\nStartupArguments = -min\n"},
    };
    for (const Case& c : cases) {
        SetupScript one;
        errors.clear();
        ASSERT_TRUE(loadScript(makeProject("startup", c.setupExtra).script, one, errors)) << c.setupExtra;
        fillSetupConfig(one, config);
        EXPECT_STREQ(config.startupArguments, c.arguments) << c.setupExtra;
        EXPECT_NE(describeSetupConfig(config).find(c.described), std::string::npos) << c.setupExtra;
    }
}

TEST(MksetupScript, MessagesEscapeControlsAndCutLongValues)
{
    EXPECT_EQ(shown("a\x1b]0;t\x07z"), "a\\x1B]0;t\\x07z");
    EXPECT_EQ(shown(std::string(100, 'v'), 10), std::string(10, 'v') + "...");
    // A 1 MB value and a terminal escape in the script: every message stays short and plain.
    Fixture f = makeProject("huge", "ProductName = " + std::string(1 << 20, 'x') + "\nColour\x1b]0;pwned\x07 = 1\n");
    std::vector<std::string> errors = scriptErrors(f);
    ASSERT_GE(errors.size(), 2u);
    for (const std::string& e : errors) {
        EXPECT_LT(e.size(), 400u);
        for (char ch : e)
            EXPECT_FALSE((unsigned char)ch < 0x20) << e;
    }
}

TEST(MksetupScript, LimitsOfTheFileList)
{
    // 23 files fit (31 records); a 24th does not.
    std::string files = "Main.exe = Main.exe\nA.txt = S1.txt\nB.txt = S1.txt\n[Samples]\n";
    for (int i = 4; i < 24; i++)
        files += "F" + std::to_string(i) + ".txt = S1.txt\n";
    std::vector<std::string> errors = scriptErrors(makeProject("many", "", files));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(":35: error: [Samples]: too many files"), std::string::npos) << errors[0];

    // 512 bytes of names: 17 names of 29 characters plus the first two overflow.
    files = "Main.exe = Main.exe\nA.txt = S1.txt\nB.txt = S1.txt\n[Samples]\n";
    for (int i = 0; i < 17; i++)
        files += std::string(26, (char)('a' + i)) + ".tx = S1.txt\n";
    errors = scriptErrors(makeProject("names", "", files));
    bool found = false;
    for (const std::string& e : errors)
        found = found || e.find("the file names exceed the 512 bytes of the name list") != std::string::npos;
    EXPECT_TRUE(found);

    // Installed paths over 255 characters under C:\Program Files (x86).
    std::string longName(200, 'n');
    errors = scriptErrors(makeProject("path", "InstallFolder = " + std::string(40, 'f') + "\n",
                                      "Main.exe = Main.exe\n" + longName + ".txt = S1.txt\n"));
    found = false;
    for (const std::string& e : errors)
        found = found || e.find("the installed path would be 268 characters") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST(MksetupScript, BitmapsTheLoaderWouldRefuse)
{
    Bytes good(defaultDecoration(1));
    ASSERT_EQ(checkBitmap(good), "");
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
        const char* expected;
    } cases[] = {
        {"magic", 0, {'B', 'A'}, "no \"BM\" header"},
        {"core header", 14, {12, 0, 0, 0}, "12-byte header"},
        {"top-down", 22, {0xFF, 0xFF, 0xFF, 0xFF}, "top-down bitmap"},
        {"rle", 30, {1, 0, 0, 0}, "compressed bitmap"},
        {"16-bit", 28, {16, 0}, "unsupported colour depth 16"},
        {"gap", 10, {0x40, 0x05, 0, 0}, "pixel data does not follow the colour table"},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        memcpy(&bad[c.offset], c.bytes.data(), c.bytes.size());
        EXPECT_NE(checkBitmap(bad).find(c.expected), std::string::npos) << c.what << ": " << checkBitmap(bad);
    }
    Bytes cut(good.begin(), good.end() - 1);
    EXPECT_NE(checkBitmap(cut).find("shorter than its pixel data"), std::string::npos);

    // A palettized replacement with another colour table conflicts with the defaults.
    Bytes otherTable = good;
    otherTable[14 + 40 + 4 * 7] ^= 0xFF;
    Fixture f = makeProject("palette", "", "Main.exe = Main.exe\n[Decoration]\nLOGO = logo.bmp\n");
    writeFileBytes(f.folder + "/logo.bmp", otherTable);
    std::vector<std::string> errors = scriptErrors(f);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("colour table differs"), std::string::npos) << errors[0];
}

// ---- the tool itself ----

static int run(const std::string& command, std::string* output = nullptr)
{
    std::string full = command + " > " + tempPath("out.txt") + " 2> " + tempPath("err.txt");
    int status = system(full.c_str());
    if (output)
        *output = readText(tempPath("out.txt")) + readText(tempPath("err.txt"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static const std::string tool = MKSETUP_PATH;

TEST(MksetupTool, BuildListVerifyExtractRoundTrip)
{
    Fixture f = makeProject("roundtrip");
    std::string setup = f.folder + "/Setup.exe", out;
    ASSERT_EQ(run(tool + " build '" + f.script + "' -o '" + setup + "'", &out), 0) << out;
    EXPECT_NE(out.find("total"), std::string::npos);

    ASSERT_EQ(run(tool + " list '" + setup + "'", &out), 0) << out;
    for (const char* name : {"MAIN", "File1", "File5", "BLUE", "WHITEBLUE"})
        EXPECT_NE(out.find(name), std::string::npos) << name;

    ASSERT_EQ(run(tool + " verify '" + setup + "'", &out), 0) << out;
    EXPECT_NE(out.find("OK"), std::string::npos);

    std::string dir = f.folder + "/x";
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    ASSERT_EQ(run(tool + " extract '" + setup + "' -d '" + dir + "'", &out), 0) << out;
    const char* sources[] = {"Main.exe", "Readme.txt", "Data.bin", "S1.txt", "Empty.txt"};
    for (int i = 1; i <= 5; i++)
        EXPECT_EQ(readFileBytes(dir + "/File" + std::to_string(i)), readFileBytes(f.folder + "/" + sources[i - 1])) << i;
    Bytes main = readFileBytes(dir + "/MAIN");
    Bytes stub = fakeStub();
    ASSERT_EQ(main.size(), stub.size());
    // The configuration went over the marker; everything else is the stub.
    size_t differing = 0;
    for (size_t i = 0; i < main.size(); i++)
        differing += main[i] != stub[i];
    EXPECT_GT(differing, 900u);
    EXPECT_EQ(Bytes(main.begin(), main.begin() + 5000), Bytes(stub.begin(), stub.begin() + 5000));
    EXPECT_EQ(Bytes(main.end() - 3000, main.end()), Bytes(stub.end() - 3000, stub.end()));

    // The embedded configuration as the setup program will read it.
    ASSERT_NE(openPackage(setup.c_str()), INVALID_FILE);
    ConfigBlock block;
    memcpy(&block, &main[5000], sizeof block);
    ASSERT_EQ(decipherSetupConfig((uint8_t*)&block), 1);
    EXPECT_STREQ(block.payload.productName, "Demo");
    EXPECT_EQ(block.payload.fileCount, 6);
    EXPECT_EQ(block.payload.payloadPosition, 5008u);
    EXPECT_EQ(block.payload.progressRange, 30000 + 50000 + 70000 + 2000 + 0);
    EXPECT_EQ(memcmp(block.payload.fileNames, "Uninst.exe\0Main.exe\0Readme.txt\0", 31), 0);
    closePackage(packageReaderHandle());
}

// Runs the tool with stdout and stderr kept apart (timeout: a blocking read
// fails the test instead of hanging it).
struct ToolRun {
    int status;
    std::string out, err;
};

static ToolRun runSplit(const std::string& arguments)
{
    std::string full = "timeout 30 " + tool + " " + arguments + " > " + tempPath("o.txt") + " 2> " + tempPath("e.txt");
    int status = system(full.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(tempPath("o.txt")), readText(tempPath("e.txt"))};
}

static std::string q(const std::string& path)
{
    return "'" + path + "'";
}

TEST(MksetupTool, ConfigOutputRebuildsTheSameSetup)
{
    // Through a fake stub (MAIN carries its configuration: the markers come
    // back) and through the built-in setup program.
    for (bool builtIn : {false, true}) {
        Fixture f = makeProject(builtIn ? "config_builtin" : "config_stub", builtIn ? "-Stub\n" : "");
        std::string a = f.folder + "/A.exe", dir = f.folder + "/extracted", b = f.folder + "/B.exe";
        ToolRun r = runSplit("build " + q(f.script) + " -o " + q(a));
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(runSplit("-q extract " + q(a) + " -d " + q(dir)).status, 0);
        r = runSplit("config " + q(a));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("ProductName = Demo\n"), std::string::npos) << r.out;
        writeText(dir + "/setup.ini", r.out);
        r = runSplit("build " + q(dir + "/setup.ini") + " -o " + q(b));
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        EXPECT_EQ(readFileBytes(a), readFileBytes(b)) << (builtIn ? "built-in" : "stub");
        // The setup program taken from the setup carries this script's version texts: no warning.
        if (builtIn) {
            EXPECT_EQ(r.err, "");
        }
        // The same script and inputs give the same bytes.
        ASSERT_EQ(runSplit("-q build " + q(f.script) + " -o " + q(b)).status, 0);
        EXPECT_EQ(readFileBytes(a), readFileBytes(b));
    }
}

TEST(MksetupTool, CommandLineConventions)
{
    Fixture f = makeProject("cli");
    std::string setup = f.folder + "/S.exe";
    struct Case {
        std::string arguments;
        int status;
        const char* onStdout;    // fragment, or null
        const char* onStderr;
    } cases[] = {
        {"--help", 0, "usage: mksetup", nullptr},
        {"-h", 0, "mksetup extract SETUP", nullptr},
        {"help", 0, "commands:", nullptr},
        {"help build", 0, "usage: mksetup build SCRIPT", nullptr},
        {"build --help", 0, "--stub STUB", nullptr},
        {"extract -h", 0, "created when missing", nullptr},
        {"--version", 0, "mksetup ", nullptr},
        {"", 2, nullptr, "usage: mksetup"},
        {"bogus x", 2, nullptr, "error: unknown command \"bogus\""},
        {"biuld x", 2, nullptr, "(did you mean \"build\"?)"},
        {"help lsit", 2, nullptr, "(did you mean \"list\"?)"},
        {"--frob list x", 2, nullptr, "error: unknown option \"--frob\""},
        {"build " + q(f.script) + " --frob", 2, nullptr, "error: unknown option \"--frob\" for build"},
        {"build " + q(f.script) + " -o", 2, nullptr, "error: -o needs a value"},
        {"build", 2, nullptr, "error: build: which script?"},
        {"-q build " + q(f.script) + " -o " + q(setup), 0, "", nullptr},   // stderr: the fake stub's warning
        {"--stub " + q(f.folder + "/stub.exe") + " -o " + q(setup) + " build " + q(f.script), 2, nullptr, "unknown option \"--stub\""},
        {"build -o " + q(setup) + " " + q(f.script), 0, "total", nullptr},
    };
    for (const Case& c : cases) {
        ToolRun r = runSplit(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.err;
        if (c.onStdout) {
            EXPECT_TRUE(*c.onStdout ? r.out.find(c.onStdout) != std::string::npos : r.out.empty()) << c.arguments << ": " << r.out;
        }
        if (c.onStderr) {
            EXPECT_TRUE(*c.onStderr ? r.err.find(c.onStderr) != std::string::npos : r.err.empty()) << c.arguments << ": " << r.err;
        }
    }
    // Options in any order: the folder before the setup.
    std::string dir = f.folder + "/x";
    ToolRun r = runSplit("extract -d " + q(dir) + " " + q(setup) + " File1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(dir + "/File1"), readFileBytes(f.folder + "/Main.exe"));
}

TEST(MksetupTool, DiagnosesGiveTheRealReason)
{
    Fixture f = makeProject("reasons");
    std::string setup = f.folder + "/S.exe";
    ASSERT_EQ(runSplit("-q build " + q(f.script) + " -o " + q(setup)).status, 0);
    struct Case {
        std::string arguments;
        const char* expected;
    } cases[] = {
        {"list " + q(f.folder + "/missing.exe"), "missing.exe: cannot open: No such file or directory"},
        {"verify " + q(f.folder + "/missing.exe"), "cannot open: No such file or directory"},
        {"list " + q(f.folder + "/Main.exe"), "no package directory found"},
        {"extract " + q(setup) + " -d " + q(f.folder + "/Main.exe/sub"), "Main.exe/sub: cannot create the folder: Not a directory"},
        {"build " + q(f.folder + "/nothere.ini"), "nothere.ini: error: cannot read the script: No such file or directory"},
    };
    for (const Case& c : cases) {
        ToolRun r = runSplit(c.arguments);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.arguments << ": " << r.err;
        EXPECT_EQ(r.err.find("damaged or cut short"), std::string::npos) << r.err;
    }
    // Damaged data is named as such, with the codec's reason.
    Bytes flipped = readFileBytes(setup);
    flipped[fakeStub().size() + 200] ^= 0x40;
    writeFileBytes(f.folder + "/Flipped.exe", flipped);
    ToolRun damaged = runSplit("extract " + q(f.folder + "/Flipped.exe") + " File1 -d " + q(f.folder + "/d"));
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("entry \"File1\": the entry is damaged"), std::string::npos) << damaged.err;
    EXPECT_NE(damaged.err.find("checksum"), std::string::npos) << damaged.err;
    EXPECT_FALSE(fileExists(f.folder + "/d/File1"));

    // A missing folder is created.
    std::string dir = f.folder + "/new";
    ToolRun r = runSplit("extract " + q(setup) + " -d " + q(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(dir + "/File2"), readFileBytes(f.folder + "/Readme.txt"));
}

// Adversarial runs: the output never replaces an input, no file of the
// user's is deleted or written through a link, nothing blocks on a FIFO.
TEST(MksetupTool, SafeWithTheUsersFiles)
{
    Fixture f = makeProject("safe");
    ASSERT_EQ(system(("ln '" + f.folder + "/Readme.txt' '" + f.folder + "/hardlink.txt' && ln -s Data.bin '" +
                      f.folder + "/symlink.bin'").c_str()), 0);
    const char* inputs[] = {"Main.exe", "Readme.txt", "setup.ini", "stub.exe", "hardlink.txt", "symlink.bin", "./S1.txt"};
    for (const char* name : inputs) {
        std::string path = f.folder + "/" + name;
        Bytes before = readFileBytes(path);
        ToolRun r = runSplit("build " + q(f.script) + " -o " + q(path));
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find("the output is the same file as"), std::string::npos) << name << ": " << r.err;
        EXPECT_EQ(readFileBytes(path), before) << name;
    }

    // A file of the user's named like a temporary file stays; a link planted
    // there is not written through.
    std::string out = f.folder + "/Out.exe";
    writeText(out + ".tmp", "the user's notes");
    ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readText(out + ".tmp"), "the user's notes");
    ASSERT_EQ(system(("rm '" + out + ".tmp' && ln -s '" + f.folder + "/victim.txt' '" + out + ".tmp'").c_str()), 0);
    writeText(f.folder + "/victim.txt", "keep");
    ASSERT_EQ(runSplit("-q build " + q(f.script) + " -o " + q(out)).status, 0);
    EXPECT_EQ(readText(f.folder + "/victim.txt"), "keep");
    std::string listing;
    ASSERT_EQ(run("ls -a '" + f.folder + "'", &listing), 0);
    EXPECT_EQ(listing.find("Out.exe."), listing.find("Out.exe.tmp")) << "a temporary file stayed behind:\n" << listing;

    // extract never writes through a link in its folder, and writes the rest.
    std::string dir = f.folder + "/x";
    ASSERT_EQ(system(("mkdir '" + dir + "' && ln -s '" + f.folder + "/victim.txt' '" + dir + "/File1'").c_str()), 0);
    r = runSplit("extract " + q(out) + " -d " + q(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File1\" is a symbolic link; not followed or replaced"), std::string::npos) << r.err;
    EXPECT_EQ(readText(f.folder + "/victim.txt"), "keep");
    EXPECT_EQ(readFileBytes(dir + "/File2"), readFileBytes(f.folder + "/Readme.txt"));

    // Sources that are not regular files: refused at once.
    ASSERT_EQ(system(("mkfifo '" + f.folder + "/fifo'").c_str()), 0);
    struct Case {
        const char* tag;
        std::string setupExtra, files;
        const char* expected;
    } cases[] = {
        {"fifo", "", "Main.exe = Main.exe\nPipe.txt = fifo\n", "[Files] Pipe.txt: cannot read source \"fifo\": not a regular file"},
        {"zero", "", "Main.exe = Main.exe\nZero.txt = /dev/zero\n", "cannot read source \"/dev/zero\": not a regular file"},
        {"deco", "", "Main.exe = Main.exe\n[Decoration]\nLOGO = fifo\n", "[Decoration] LOGO: cannot read \"fifo\": not a regular file"},
        {"stub", "Stub = fifo\n", "", "setup.ini:8: error: Stub: \"fifo\": cannot read the setup program (stub): not a regular file"},
    };
    for (const Case& c : cases) {
        Fixture g = makeProject(std::string("safe_") + c.tag, c.setupExtra, c.files);
        ASSERT_EQ(system(("mkfifo '" + g.folder + "/fifo'").c_str()), 0);
        r = runSplit("build " + q(g.script) + " -o " + q(g.folder + "/S.exe"));
        EXPECT_EQ(r.status, 1) << c.tag;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.tag << ": " << r.err;
        EXPECT_FALSE(fileExists(g.folder + "/S.exe"));
    }
    r = runSplit("build " + q(f.folder + "/fifo"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read the script: not a regular file"), std::string::npos) << r.err;
}

TEST(MksetupTool, FailuresLeaveNothingBehind)
{
    Fixture f = makeProject("fail", "", "Main.exe = Main.exe\nGone.txt = Gone.txt\n");
    std::string setup = f.folder + "/Setup.exe", out;
    EXPECT_EQ(run(tool + " build '" + f.script + "' -o '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("setup.ini:13: error: [Files] Gone.txt: cannot read source"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(setup));

    // A stub without markers is refused.
    Fixture g = makeProject("nostub");
    writeFileBytes(g.folder + "/stub.exe", randomBytes(4000, 5));
    EXPECT_EQ(run(tool + " build '" + g.script + "' -o '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("no configuration markers"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(setup));
    std::string listing;
    ASSERT_EQ(run("ls -a '" + g.folder + "'", &listing), 0);
    EXPECT_EQ(listing.find(".tmp"), std::string::npos) << listing;
}

// The files a build left in the folder that are none of the ones named.
static std::string strayFiles(const std::string& folder)
{
    std::string listing;
    EXPECT_EQ(run("ls -a " + q(folder), &listing), 0);
    std::string stray;
    size_t at = 0;
    while (at < listing.size()) {
        std::string name = listing.substr(at, listing.find('\n', at) - at);
        at += name.size() + 1;
        if (name.find(".tmp") != std::string::npos || name.find(".part") != std::string::npos)
            stray += name + " ";
    }
    return stray;
}

// build --depfile names every input of the setup as make and ninja read
// them, and a depfile that cannot be written fails the build, leaving no setup.
TEST(MksetupTool, DepfileNamesEveryInput)
{
    Fixture f = makeProject("dep files", "", "Main.exe = Main.exe\nRead me.txt = Readme.txt\nData.bin = Data.bin\n"
                                             "[Samples]\nS1.txt = S1.txt\n[Decoration]\nLOGO = $logo#1.bmp\n");
    writeFileBytes(f.folder + "/$logo#1.bmp", defaultDecoration(2));
    std::string setup = f.folder + "/Setup.exe", depfile = f.folder + "/Setup.d";
    ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(setup) + " --depfile " + q(depfile));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string folder;
    for (char ch : f.folder)
        folder += ch == ' ' ? std::string("\\ ") : std::string(1, ch);
    std::string expected = folder + "/Setup.exe: \\\n";
    for (const char* input : {"setup.ini", "stub.exe", "Main.exe", "Readme.txt", "Data.bin", "S1.txt"})
        expected += "  " + folder + "/" + input + " \\\n";
    expected += "  " + folder + "/$$logo\\#1.bmp\n";
    EXPECT_EQ(readText(depfile), expected);

    std::string elsewhere = f.folder + "/Other.exe";
    r = runSplit("-q build " + q(f.script) + " -o " + q(elsewhere) + " --depfile " + q(f.folder + "/no/Setup.d"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(f.folder + "/no/Setup.d: cannot write the depfile into the folder \"" + f.folder + "/no\""),
              std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(elsewhere));
    EXPECT_EQ(strayFiles(f.folder), "");
}

// A stub taken from an earlier setup (its MAIN, as extract writes it) builds
// the same setup as the stub it came from: its version fields name the new
// product. A stub without the fields is built from with a warning at the
// place that named it.
TEST(MksetupTool, AStubFromAnEarlierSetupNamesTheNewProduct)
{
    Fixture f = makeProject("reuse", "-Stub\nPublisher = Earlier Publisher\nProductName = Earlier\n");
    std::string earlier = f.folder + "/Earlier.exe", dir = f.folder + "/x";
    ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(earlier));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(runSplit("-q extract " + q(earlier) + " MAIN -d " + q(dir)).status, 0);
    std::string script = readText(f.script);
    for (const char* publisher : {"Earlier Publisher", "Another Publisher"}) {
        std::string text = script;
        text.replace(text.find("Earlier Publisher"), 17, publisher);
        text.replace(text.find("ProductName = Earlier"), 21, "ProductName = Demo");
        writeText(f.script, text);
        std::string fresh = f.folder + "/Fresh.exe", reused = f.folder + "/Reused.exe";
        ASSERT_EQ(runSplit("-q build " + q(f.script) + " -o " + q(fresh)).status, 0);
        r = runSplit("-q build " + q(f.script) + " -o " + q(reused) + " --stub " + q(dir + "/MAIN"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << publisher;
        EXPECT_TRUE(readFileBytes(reused) == readFileBytes(fresh)) << publisher;
    }
    // Nothing of the earlier product's texts is left in the setup.
    Bytes reused = readFileBytes(f.folder + "/Reused.exe");
    const uint8_t word[] = {'E', 0, 'a', 0, 'r', 0, 'l', 0, 'i', 0, 'e', 0, 'r', 0};
    EXPECT_EQ(std::search(reused.begin(), reused.end(), word, word + sizeof word), reused.end());

    // The fixture's stub has no version fields: said at Stub's line, or at --stub.
    Fixture g = makeProject("reuse_nofields");
    r = runSplit("-q build " + q(g.script) + " -o " + q(g.folder + "/S.exe"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(g.script + ":8: warning: Stub: \"" + g.folder + "/stub.exe\" has no version fields"), std::string::npos) << r.err;
    r = runSplit("-q build " + q(g.script) + " -o " + q(g.folder + "/S.exe") + " --stub " + q(g.folder + "/stub.exe"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: --stub: \"" + g.folder + "/stub.exe\" has no version fields"), std::string::npos) << r.err;
}

// Messages name the output the user gave and its folder, never a temporary
// file; the errors come before any warning.
TEST(MksetupTool, MessagesNameWhatTheUserNamed)
{
    Fixture f = makeProject("named");
    struct Case {
        std::string output, folder;
        const char* reason;
    } cases[] = {
        {f.folder + "/nonexistent/dir/x.exe", f.folder + "/nonexistent/dir", "No such file or directory"},
        {f.folder + "/Main.exe/x.exe", f.folder + "/Main.exe", "Not a directory"},
    };
    for (const Case& c : cases) {
        ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(c.output));
        EXPECT_EQ(r.status, 1) << c.output;
        EXPECT_NE(r.err.find("error: " + c.output + ": cannot write the setup into the folder \"" + c.folder + "\": " + c.reason),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(".tmp"), std::string::npos) << r.err;
    }
    if (geteuid() != 0) {   // root writes anywhere
        std::string locked = f.folder + "/locked";
        ASSERT_EQ(system(("mkdir " + q(locked) + " && chmod 555 " + q(locked)).c_str()), 0);
        ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(locked + "/x.exe"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(locked + "/x.exe: cannot write the setup into the folder \"" + locked + "\": Permission denied"),
                  std::string::npos) << r.err;
        EXPECT_EQ(strayFiles(locked), "");
    }
    Fixture g = makeProject("named_order", "ProductVersion =\nColour = #000000\n");
    ToolRun r = runSplit("build " + q(g.script));
    EXPECT_EQ(r.status, 1);
    size_t error = r.err.find(": error: Colour:"), warning = r.err.find(": warning: [Setup] ProductVersion");
    ASSERT_NE(error, std::string::npos) << r.err;
    ASSERT_NE(warning, std::string::npos) << r.err;
    EXPECT_LT(error, warning) << r.err;
}

TEST(MksetupTool, WorkersWriteTheSameSetupAsOneProcess)
{
    // More entries (five files, eight bitmaps) than workers, and files of each size class.
    Fixture f = makeProject("jobs");
    std::string one = f.folder + "/One.exe";
    ToolRun r = runSplit("-q build " + q(f.script) + " -o " + q(one) + " -j 1");
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes expected = readFileBytes(one);
    ASSERT_GT(expected.size(), 50000u);
    for (const char* jobs : {"-j 2", "-j4", "--jobs 13", "-j 64", ""}) {
        std::string many = f.folder + "/Many.exe";
        r = runSplit("-q build " + q(f.script) + " -o " + q(many) + " " + jobs);
        ASSERT_EQ(r.status, 0) << jobs << ": " << r.err;
        EXPECT_TRUE(readFileBytes(many) == expected) << jobs;
        EXPECT_EQ(strayFiles(f.folder), "") << jobs;
        EXPECT_EQ(runSplit("-q verify " + q(many)).status, 0) << jobs;
    }
    // An output file whose name looks like the joined option is still the output.
    std::string out;
    EXPECT_EQ(run("cd " + q(f.folder) + " && " + tool + " -q build setup.ini -o -j3.exe -j2", &out), 0) << out;
    EXPECT_TRUE(readFileBytes(f.folder + "/-j3.exe") == expected);
    for (const char* bad : {"-j 0", "-j", "-j x", "-j 65", "--jobs -1", "-j2x"}) {
        r = runSplit("build " + q(f.script) + " -o " + q(f.folder + "/Bad.exe") + " " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("-j"), std::string::npos) << bad << ": " << r.err;
    }
}

TEST(MksetupTool, AFailedWorkerLeavesNothingBehind)
{
    // Sources that pass the checks before the build but cannot be compressed:
    // one that reads shorter than its size (as a file that shrinks would), and
    // one nobody may read (root reads it all the same).
    struct Case {
        std::string tag, source;
    };
    std::vector<Case> cases;
    std::string shortRead = "/sys/devices/system/cpu/online";   // 4096 bytes by its size, a few by reading
    if (fileExists(shortRead))
        cases.push_back({"jobs_short", shortRead});
    if (geteuid() != 0)
        cases.push_back({"jobs_unreadable", ""});
    if (cases.empty())
        GTEST_SKIP() << "no source here reads short or unreadable";
    for (const Case& c : cases) {
        for (const char* jobs : {"-j 1", "-j 3"}) {
            std::string source = c.source.empty() ? tempPath(c.tag) + "/Locked.bin" : c.source;
            Fixture f = makeProject(c.tag, "", "Main.exe = Main.exe\nReadme.txt = Readme.txt\nBad.bin = " + source +
                                                   "\n[Samples]\nData.bin = Data.bin\n");
            if (c.source.empty()) {
                writeFileBytes(source, randomBytes(1000, 9));
                ASSERT_EQ(system(("chmod 000 " + q(source)).c_str()), 0);
            }
            std::string setup = f.folder + "/Setup.exe";
            ToolRun r = runSplit("build " + q(f.script) + " -o " + q(setup) + " " + jobs);
            EXPECT_EQ(r.status, 1) << c.tag << " " << jobs;
            EXPECT_NE(r.err.find("error: " + source + ": could not be read and compressed"), std::string::npos)
                << c.tag << " " << jobs << ": " << r.err;
            EXPECT_FALSE(fileExists(setup)) << c.tag << " " << jobs;
            EXPECT_EQ(strayFiles(f.folder), "") << c.tag << " " << jobs;
            if (c.source.empty()) {
                EXPECT_EQ(system(("chmod 600 " + q(source)).c_str()), 0);
            }
        }
    }
}

TEST(MksetupTool, DamagedSetupsFailVerify)
{
    Fixture f = makeProject("damaged");
    std::string setup = f.folder + "/Setup.exe", out;
    ASSERT_EQ(run(tool + " build '" + f.script + "' -o '" + setup + "'"), 0);
    Bytes good = readFileBytes(setup);

    Bytes cut(good.begin(), good.end() - 7);
    writeFileBytes(setup, cut);
    EXPECT_EQ(run(tool + " verify '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("no package directory found"), std::string::npos) << out;

    // A flipped byte inside a compressed entry fails its block check.
    Bytes flipped = good;
    flipped[fakeStub().size() + 200] ^= 0x40;
    writeFileBytes(setup, flipped);
    EXPECT_EQ(run(tool + " verify '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("File1: damaged"), std::string::npos) << out;

    // The configuration's bytes damaged: MAIN still stores, but no longer reads.
    Bytes config = good;
    config[5000 + 8 + 1] ^= 0x01;   // the stored payload position
    writeFileBytes(setup, config);
    EXPECT_EQ(run(tool + " verify '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("MAIN"), std::string::npos) << out;
}

// The documentation's complete example is the demo's script, and it builds
// (in a copy of the repository's layout, with a stand-in for the demo program).
TEST(MksetupTool, DocumentedExampleBuilds)
{
    const std::string source = TAMB_SOURCE_DIR;
    std::string docs = readText(source + "/docs/script.md");
    size_t start = docs.find("```ini\n");
    ASSERT_NE(start, std::string::npos);
    start += 7;
    std::string example = docs.substr(start, docs.find("```", start) - start);
    EXPECT_EQ(example, readText(source + "/examples/demo/setup.ini"));

    std::string root = tempPath("docs_example"), demo = root + "/examples/demo";
    ASSERT_EQ(system(("mkdir -p '" + demo + "' '" + root + "/build/win32/examples/demo'").c_str()), 0);
    for (const char* name : {"Help.txt", "License.txt", "Sample1.txt", "Sample2.txt", "Pattern.bmp"})
        writeFileBytes(demo + "/" + name, readFileBytes(source + "/examples/demo/" + name));
    writeFileBytes(root + "/build/win32/examples/demo/Demo.exe", randomBytes(20000, 9));
    writeText(demo + "/setup.ini", example);
    ToolRun r = runSplit("build " + q(demo + "/setup.ini") + " -o " + q(root + "/Demo.exe"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");   // no warnings either
    r = runSplit("verify " + q(root + "/Demo.exe"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("7 files"), std::string::npos) << r.out;
}

// ---- international text: the script is UTF-8, the setup holds one code page ----

// Every code page family through the system's converter, and back; a
// character the code page cannot hold is refused, never replaced by a
// look-alike (no "e" for "é", no 0x5C for the yen sign, no decomposed
// Vietnamese letter).
TEST(MksetupCodePage, ConvertsEachFamilyAndRefusesWhatDoesNotFit)
{
    struct Case {
        uint32_t codePage;
        const char* utf8;
        const char* bytes;       // null: refused
        uint32_t refused;        // the code point named then
    } cases[] = {
        {1252, "Caf\xc3\xa9 \xe2\x82\xac", "Caf\xe9 \x80", 0},
        {1252, "\xd0\xb6", nullptr, 0x436},                      // Cyrillic zhe
        {1252, "\xf0\x9f\x98\x80", nullptr, 0x1F600},            // past U+FFFF
        {1250, "\xc5\x81\xc3\xb3" "d\xc5\xba", "\xa3\xf3" "d\x9f", 0},
        {1251, "\xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5", "\xca\xe0\xf4\xe5", 0},
        {1251, "Caf\xc3\xa9", nullptr, 0xE9},
        {1253, "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1", "\xd9\xec\xdd\xe3\xe1", 0},
        {1254, "\xc4\x9f", "\xf0", 0},
        {1255, "\xd7\xa9", "\xf9", 0},
        {1256, "\xd8\xb9", "\xda", 0},
        {1257, "\xc4\x81", "\xe2", 0},
        {1258, "\xc4\x91", "\xf0", 0},
        {1258, "\xe1\xba\xbf", nullptr, 0x1EBF},                 // only as two characters
        {874, "\xe0\xb8\x81", "\xa1", 0},
        {932, "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\xe8\xa1\xa8\xe7\xa4\xba", "\x83\x5c\x83\x74\x83\x67\x95\x5c\x8e\xa6", 0},
        {932, "\xc2\xa5", nullptr, 0xA5},                         // the yen sign is not 0x5C
        {932, "\xed\x95\x9c", nullptr, 0xD55C},                   // Hangul
        {936, "\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4", 0},
        {949, "\xed\x95\x9c\xea\xb5\xad", "\xc7\xd1\xb1\xb9", 0},
        {950, "\xe4\xb8\xad\xe6\x96\x87", "\xa4\xa4\xa4\xe5", 0},
        {437, "a", nullptr, 'a'},                                  // not a code page a setup uses
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + c.utf8);
        std::string out, back;
        uint32_t refused = 0;
        bool ok = toCodePage(c.utf8, c.codePage, out, &refused);
        ASSERT_EQ(ok, c.bytes != nullptr) << refused;
        if (!ok) {
            EXPECT_EQ(refused, c.refused);
            continue;
        }
        EXPECT_EQ(out, c.bytes);
        EXPECT_TRUE(fromCodePage(out, c.codePage, back));
        EXPECT_EQ(back, c.utf8);
    }
    // Bytes that are no character of the code page are said so when read back.
    std::string back;
    EXPECT_FALSE(fromCodePage("\x81", 1252, back));
    EXPECT_FALSE(fromCodePage("\x85\x40\x80", 932, back));   // 0x80 stands alone in no character of 932
}

// The plain-file-name rule by characters: the second byte of a double-byte
// character is no separator, a real backslash still is.
TEST(MksetupCodePage, FileNameRuleReadsLeadBytes)
{
    const char* soft = "\x83\x5c\x83\x74\x83\x67\x95\x5c\x8e\xa6.txt";   // "ソフト表示.txt" in 932
    EXPECT_EQ(fileNameProblem(soft, 0, nullptr, 932), NAME_PLAIN);
    EXPECT_EQ(fileNameProblem(soft, 0, nullptr, 1252), NAME_SEPARATOR);   // the same bytes are two names in 1252
    EXPECT_EQ(fileNameProblem("\x83\x5c\\x", 0, nullptr, 932), NAME_SEPARATOR);
    EXPECT_EQ(fileNameProblem("\xa4\x7c.txt", 0, nullptr, 950), NAME_PLAIN);   // '|' as a second byte
    EXPECT_EQ(fileNameProblem("a|b", 0, nullptr, 950), NAME_RESERVED_CHARACTER);
    EXPECT_FALSE(isLeadByte(0xA0, 932));
    EXPECT_TRUE(isLeadByte(0xE0, 932));
    EXPECT_FALSE(isLeadByte(0x83, 1251));
}

// The script's encodings and every limit in bytes of the code page, each at
// the line of the key that made it too long.
TEST(MksetupScript, EncodingsCodePagesAndLimitsInBytes)
{
    const std::string cafe = "Caf\xc3\xa9 Notes", creme = "Cr\xc3\xa8me Software";
    std::string hyo100;
    for (int i = 0; i < 100; i++)
        hyo100 += "\xe8\xa1\xa8";   // 表: two bytes in 932
    struct Case {
        const char* tag;
        std::string setupExtra;
        std::string files;
        std::string expected;    // error fragment; empty: builds
    } cases[] = {
        {"french", "ProductName = " + cafe + "\nInstallFolder = " + creme + "\nUninstallShortcutFormat = D\xc3\xa9sinstaller %s\n",
         "Main.exe = Main.exe\nM\xc3\xbcller.txt = S1.txt\n", ""},
        {"cyrillic", "CodePage = 1251\nProductName = \xd0\x9a\xd0\xb0\xd1\x84\xd0\xb5\n", "", ""},
        {"refused", "CodePage = 1251\nProductName = " + cafe + "\n", "",
         ":2: error: ProductName: \"" + cafe + "\": the character '\xc3\xa9' (U+00E9) has no place in code page 1251"},
        {"refusedname", "CodePage = 1251\n", "Main.exe = Main.exe\nM\xc3\xbcller.txt = S1.txt\n",
         ":14: error: [Files] M\xc3\xbcller.txt: \"M\xc3\xbcller.txt\": the character '\xc3\xbc' (U+00FC) has no place in code page 1251"},
        {"badpage", "CodePage = 437\n", "", ":10: error: CodePage: \"437\" is not a code page a setup can use"},
        {"japanese", "CodePage = 932\nInstallFolder = \xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\xe8\xa1\xa8\xe7\xa4\xba\n",
         "Main.exe = Main.exe\n\xe8\xa1\xa8.txt = S1.txt\n", ""},
        {"bytes932", "CodePage = 932\nProductVersion = \xe7\x89\x88\xe7\x89\x88\xe7\x89\x88\xe7\x89\x88\n", "",
         ":3: error: ProductVersion: \"\xe7\x89\x88\xe7\x89\x88\xe7\x89\x88\xe7\x89\x88\" is 8 bytes in code page 932; at most 7 fit"},
        // 16 UTF-8 bytes, 15 of code page 1252: it fits.
        {"fits1252", "UninstallShortcutFormat = D\xc3\xa9sinstaller %s\n", "", ""},
        {"c1control", "ProductName = A\xc2\x85\n", "", ":2: error: ProductName: \"A\xc2\x85\" holds a control character"},
        // A long product name with the default format: the product name's line.
        {"derived", "ProductName = " + std::string(22, 'p') + "\n", "",
         ":2: error: ProductName: the uninstaller's shortcut name \"Uninstall " + std::string(22, 'p') + "\" would be 32 characters; at most 31 fit"},
        // A product name that fits the default format: the format's line.
        {"derivedformat", "ProductName = " + std::string(21, 'p') + "\nUninstallShortcutFormat = Remove all %s\n", "",
         ":10: error: UninstallShortcutFormat: the uninstaller's shortcut name \"Remove all " + std::string(21, 'p') + "\" would be 32 characters"},
        {"derived932", "CodePage = 932\nProductName = \xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\n", "",
         ":2: error: ProductName: the uninstaller's shortcut name \"Uninstall \xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\xe8\xa1\xa8\" would be 32 bytes in code page 932; at most 31 fit"},
        // A path too long by the folder: the folder's line, in bytes of the code page.
        {"path932", "CodePage = 932\nInstallFolder = " + std::string(40, 'f') + "\n", "Main.exe = Main.exe\n" + hyo100 + ".txt = S1.txt\n",
         ":4: error: InstallFolder: the installed path would be 268 bytes in code page 932 under C:\\Program Files (x86); at most 255 fit ([Files] "},
        {"help", "ProductName = " + std::string(27, 'p') + "\n", "Main.exe = Main.exe\nManual.hlp = S1.txt\n",
         ":2: error: ProductName: the Start Menu shortcut name \"" + std::string(27, 'p') + " Help\" would be 32 characters; at most 31 fit ([Files] Manual.hlp, line 13)"},
    };
    for (const Case& c : cases) {
        Fixture f = makeProject(std::string("intl_") + c.tag, c.setupExtra, c.files);
        std::vector<std::string> errors = scriptErrors(f);
        if (c.expected.empty()) {
            EXPECT_EQ(errors, std::vector<std::string>()) << c.tag;
            continue;
        }
        EXPECT_TRUE(anyContains(errors, c.expected)) << c.tag << ": expected \"" << c.expected << "\", got:\n"
                                                     << (errors.empty() ? std::string("(no errors)") : errors[0]);
    }
}

// The same script saved as UTF-8 with and without a byte-order mark, with
// CRLF, and as UTF-16 of either byte order, gives the same configuration;
// bytes that are not UTF-8 are refused at their line.
TEST(MksetupScript, ReadsUtf8AndUtf16AndRefusesOtherBytes)
{
    Fixture f = makeProject("encodings", "ProductName = Caf\xc3\xa9 Notes\n");
    const std::string utf8 = readText(f.script);
    std::string crlf;
    for (char ch : utf8)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    std::u16string units = utf16Of(crlf);
    std::string little = "\xff\xfe", big = "\xfe\xff";
    for (char16_t u : units) {
        little += (char)(u & 0xFF);
        little += (char)(u >> 8);
        big += (char)(u >> 8);
        big += (char)(u & 0xFF);
    }
    SetupConfig expected;
    {
        SetupScript script;
        std::vector<std::string> errors;
        ASSERT_TRUE(loadScriptText(utf8, f.script, script, errors)) << errors[0];
        fillSetupConfig(script, expected);
        EXPECT_STREQ(expected.productName, "Caf\xe9 Notes");
        EXPECT_EQ(expected.codePage, 1252u);
    }
    for (const std::string& text : {"\xef\xbb\xbf" + utf8, crlf, "\xef\xbb\xbf" + crlf, little, big}) {
        SetupScript script;
        std::vector<std::string> errors;
        ASSERT_TRUE(loadScriptText(text, f.script, script, errors)) << errors[0];
        SetupConfig config;
        fillSetupConfig(script, config);
        EXPECT_EQ(memcmp(&config, &expected, sizeof config), 0);
    }
    struct Case {
        std::string text;
        std::string expected;
    } refused[] = {
        {"[Setup]\nProductName = Caf\xe9\n", ":2: error: encoding: not UTF-8: byte 0xE9 at byte 18 of the line"},
        {"[Setup]\nProductName = \xc0\xaf\n", ":2: error: encoding: not UTF-8: byte 0xC0"},          // overlong '/'
        {"[Setup]\nProductName = \xed\xa0\x80\n", ":2: error: encoding: not UTF-8: byte 0xED"},      // a surrogate
        {std::string("[\0S\0", 4), ":1: error: encoding: a NUL byte"},                                  // UTF-16 without its mark
        {"\xff\xfe[\0\x00\xd8", "UTF-16 (little-endian): the script's byte-order mark says UTF-16, but its text is not"},
    };
    for (const Case& c : refused) {
        SetupScript script;
        std::vector<std::string> errors;
        EXPECT_FALSE(loadScriptText(c.text, f.script, script, errors));
        EXPECT_TRUE(anyContains(errors, c.expected)) << c.expected << "\ngot: " << (errors.empty() ? "" : errors[0]);
    }
}

// config prints UTF-8 and the code page, so extract + config + build gives
// the same setup; the build table aligns UTF-8 names by characters; a
// source path may separate its folders by a backslash.
TEST(MksetupTool, InternationalSetupsRebuildAndShowUtf8)
{
    const std::string hyo = "\xe8\xa1\xa8\xe7\xa4\xba";   // 表示: 0x5C second byte in 932
    Fixture f = makeProject("intl_tool", "CodePage = 932\nProductName = " + hyo + "\nInstallFolder = " + hyo + "\n",
                            "Main.exe = Main.exe\n" + hyo + ".txt = sub\\S1.txt\n");
    ASSERT_EQ(system(("mkdir -p '" + f.folder + "/sub' && cp '" + f.folder + "/S1.txt' '" + f.folder + "/sub/'").c_str()), 0);
    std::string a = f.folder + "/A.exe", dir = f.folder + "/extracted", b = f.folder + "/B.exe";
    ToolRun r = runSplit("build " + q(f.script) + " -o " + q(a));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n" + hyo + ".txt" + std::string(24 - 6, ' ') + " File2 "), std::string::npos) << r.out;
    ASSERT_EQ(runSplit("-q extract " + q(a) + " -d " + q(dir)).status, 0);
    r = runSplit("config " + q(a));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("[Setup]\nCodePage = 932\nProductName = " + hyo + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n" + hyo + ".txt = File2\n"), std::string::npos) << r.out;
    writeText(dir + "/setup.ini", r.out);
    r = runSplit("build " + q(dir + "/setup.ini") + " -o " + q(b));
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(readFileBytes(a), readFileBytes(b));
    // The configuration holds code page 932 bytes and names its code page.
    Bytes main = readFileBytes(dir + "/MAIN");
    ConfigBlock block;
    memcpy(&block, &main[5000], sizeof block);
    ASSERT_EQ(decipherSetupConfig((uint8_t*)&block), 1);
    EXPECT_EQ(block.payload.codePage, 932u);
    EXPECT_STREQ(block.payload.productName, "\x95\x5c\x8e\xa6");
    EXPECT_EQ(memcmp(block.payload.fileNames, "Uninst.exe\0Main.exe\0\x95\x5c\x8e\xa6.txt\0", 25), 0);
}

// The international examples (a UTF-8 script with BOM and CRLF in code page
// 1252, one in 1251, one in 932) build without a word.
TEST(MksetupTool, InternationalExamplesBuild)
{
    const std::string source = TAMB_SOURCE_DIR;
    std::string root = tempPath("intl_examples"), demo = root + "/examples/demo";
    ASSERT_EQ(system(("mkdir -p '" + demo + "' '" + root + "/examples/international' '" + root +
                      "/build/win32/examples/demo'").c_str()), 0);
    for (const char* name : {"Help.txt", "License.txt", "Sample1.txt", "Sample2.txt"})
        writeFileBytes(demo + "/" + name, readFileBytes(source + "/examples/demo/" + name));
    writeFileBytes(root + "/build/win32/examples/demo/Demo.exe", randomBytes(20000, 9));
    for (const char* script : {"french", "russian", "japanese"}) {
        std::string path = root + "/examples/international/" + script + ".ini";
        writeFileBytes(path, readFileBytes(source + "/examples/international/" + script + ".ini"));
        ToolRun r = runSplit("build " + q(path) + " -o " + q(root + "/" + script + ".exe"));
        EXPECT_EQ(r.status, 0) << script << ": " << r.err;
        EXPECT_EQ(r.err, "") << script;
    }
}

// ---- untrusted input: setups made by others, scripts from many hands ----

// A sound configuration of three files, as the builder would fill it.
static SetupConfig craftedConfig()
{
    SetupConfig config;
    memset(&config, 0, sizeof config);
    const char names[] = "Uninst.exe\0Demo.exe\0Readme.txt";
    memcpy(config.fileNames, names, sizeof names);
    config.fileCount = 3;
    config.codePage = 1252;
    strcpy(config.productName, "Crafted");
    strcpy(config.productVersion, "1.0");
    strcpy(config.installFolderName, "Crafted");
    strcpy(config.uninstallShortcutFormat, "Uninstall %s");
    strcpy(config.installingLabelFormat, "Installing %s");
    config.backColorTop = config.backColorBottom = 0x00AA8056;
    return config;
}

// An entry as a crafted setup holds it: bytes compressed as the builder
// does, with the extracted size its record claims (-1: the true one).
struct CraftedEntry {
    std::string name;
    Bytes bytes;
    int32_t claimed;
};

// Writes a setup with the project's package writer, as another tool could:
// MAIN with config embedded, then the entries (default: File1, File2 and
// the eight default bitmaps).
static void writeCraftedSetup(const std::string& path, const SetupConfig& config,
                              std::vector<CraftedEntry> entries = {})
{
    if (entries.empty()) {
        entries.push_back({"File1", randomBytes(3000, 5), -1});
        entries.push_back({"File2", textBytes(4000, 6), -1});
        for (int i = 0; i < DECORATION_COUNT; i++)
            entries.push_back({decorativeBitmapNames[i], defaultDecoration(i), -1});
    }
    enableCompression();
    Bytes stub = fakeStub();
    SetupConfig payload = config;
    ASSERT_NE(createPackage(path.c_str()), INVALID_FILE);
    setConfigPatch((uint8_t*)&payload, CONFIG_PAYLOAD_SIZE, PATCH_ENCIPHER | PATCH_STORE_POSITION);
    ASSERT_EQ(addMemory(stub.data(), (int32_t)stub.size(), MAIN_ENTRY_NAME, XFER_PATCH), 1);
    for (const CraftedEntry& e : entries) {
        std::string raw = tempPath("crafted.raw"), coded = tempPath("crafted.lzh");
        writeFileBytes(raw, e.bytes);
        FileHandle in = fileOpenRead(raw.c_str()), out = fileCreate(coded.c_str(), 0, nullptr);
        ASSERT_EQ(compressStream(in, out, (int32_t)e.bytes.size()), 1);
        fileClose(in);
        fileClose(out);
        int32_t claimed = e.claimed >= 0 ? e.claimed : (int32_t)e.bytes.size();
        ASSERT_EQ(addPrecompressed(coded.c_str(), e.name.c_str(), claimed), 1) << e.name;
    }
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);
}

// Runs the tool within 64 MB of address space and 10 seconds; no run may
// end by a signal (an uncaught exception aborts) or by the time limit.
static ToolRun runBounded(const std::string& arguments)
{
    writeText(tempPath("bounded.sh"), "ulimit -v 65536\nexec timeout 10 " + tool + " " + arguments + " > " +
                                          tempPath("o.txt") + " 2> " + tempPath("e.txt") + "\n");
    int status = system(("bash " + tempPath("bounded.sh")).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(tempPath("o.txt")), readText(tempPath("e.txt"))};
}

// The names in a folder, sorted, one a line.
static std::string listing(const std::string& folder)
{
    std::string out;
    EXPECT_EQ(run("ls -A " + q(folder), &out), 0);
    return out;
}

// Setups made by others, each with one claim or layout our builder never
// writes, examined by every command within the memory and time limits:
// each says what is wrong (or shows the setup safely), and nothing lands
// outside the extraction folder.
TEST(MksetupUntrusted, HostileSetupsAreExaminedSafely)
{
    const int32_t huge = 0x7FFFFFFF;
    struct Case {
        const char* tag;
        void (*change)(SetupConfig&);
        std::vector<CraftedEntry> entries;    // empty: the sound ones
        const char* verifyProblem;            // null: verify passes
        const char* configProblem;            // null: config prints the script
    } cases[] = {
        {"sound", [](SetupConfig&) {}, {}, nullptr, nullptr},
        {"claim", [](SetupConfig&) {}, {{"File1", textBytes(120000, 7), huge}, {"File2", Bytes(10, 'x'), -1}},
         "File1: its record announces 2147483647 bytes, more than its", nullptr},
        {"bitmapclaim", [](SetupConfig&) {}, {{"File1", Bytes(10, 'a'), -1}, {"File2", Bytes(10, 'b'), -1},
                                               {"BLUE", runBytes(200000, 8), huge}},
         "BLUE: its record announces 2147483647 bytes", nullptr},
        {"shortclaim", [](SetupConfig&) {}, {{"File1", textBytes(5000, 7), 6000}, {"File2", Bytes(10, 'x'), -1}},
         "File1: decodes to 5000 bytes, not the 6000 its record announces", nullptr},
        {"nameline", [](SetupConfig& c) { memcpy(c.fileNames + 20, "x\nstolen.txt", 13); }, {},
         "configuration: a file name is no plain file name", "reserved character in file name; no script printed"},
        {"productescape", [](SetupConfig& c) { strcpy(c.productName, "A\x1b]0;pwned\x07"); }, {},
         "configuration: a text holds a control character", "ProductName \"A\\x1B]0;pwned\\x07\" holds a control character"},
        {"labelbreak", [](SetupConfig& c) { strcpy(c.installingLabelFormat, "%s\r\nOutput = ../x.exe"); }, {},
         "configuration: a text holds a control character", "InstallingLabelFormat"},
        {"equals", [](SetupConfig& c) { memcpy(c.fileNames + 20, "a = b", 6); }, {}, nullptr,
         "a script line cannot carry this name"},
        {"section", [](SetupConfig& c) { memcpy(c.fileNames + 20, "[Setup]", 8); }, {}, nullptr,
         "a script line cannot carry this name"},
        {"device", [](SetupConfig& c) { memcpy(c.fileNames + 20, "CONIN$", 7); }, {},
         "a file name is no plain file name", "a reserved device name"},
        {"alias", [](SetupConfig& c) { memcpy(c.fileNames + 20, "DOCU~ABT.TXT", 13); }, {},
         "a file name is no plain file name", "short (8.3) alias"},
        {"backslash", [](SetupConfig& c) { strcpy(c.productName, "AC\\DC"); }, {},
         "the product name is empty or holds", "the product name is empty or holds"},
        {"dialogclass", [](SetupConfig& c) { strcpy(c.runningWindowClass, "#32770"); }, {},
         "names a class of the system", "names a class of the system"},
        {"shortcut", [](SetupConfig& c) { strcpy(c.uninstallShortcutFormat, "%s"); }, {},
         "another file's shortcut name", "another file's shortcut name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        std::string folder = tempPath(std::string("hostile_") + c.tag), setup = folder + "/S.exe", dir = folder + "/x";
        ASSERT_EQ(system(("mkdir -p " + q(folder)).c_str()), 0);
        SetupConfig config = craftedConfig();
        c.change(config);
        writeCraftedSetup(setup, config, c.entries);
        std::string before = listing(folder);

        ToolRun r = runBounded("list " + q(setup));
        EXPECT_EQ(r.status, 0) << r.err;
        for (char ch : r.out)
            EXPECT_TRUE((unsigned char)ch >= 0x20 || ch == '\n') << r.out;

        r = runBounded("verify " + q(setup));
        EXPECT_EQ(r.status, c.verifyProblem ? 1 : 0) << r.err;
        if (c.verifyProblem) {
            EXPECT_NE(r.err.find(c.verifyProblem), std::string::npos) << r.err;
        }

        r = runBounded("config " + q(setup));
        EXPECT_EQ(r.status, c.configProblem ? 1 : 0) << r.err;
        if (c.configProblem) {
            EXPECT_NE(r.err.find(c.configProblem), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_EQ(r.out.find("Output"), std::string::npos) << r.out;
        }
        for (char ch : r.out + r.err)
            EXPECT_TRUE((unsigned char)ch >= 0x20 || ch == '\n') << r.out << r.err;

        r = runBounded("extract " + q(setup) + " -d " + q(dir));
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << " " << r.err;
        EXPECT_EQ(listing(folder), before + "x\n");   // nothing but the folder asked for
        EXPECT_EQ(strayFiles(dir), "");
    }
}

// extract writes entries only under names that are plain file names.
TEST(MksetupUntrusted, ExtractRefusesEntryNamesWithControls)
{
    std::string folder = tempPath("hostile_entries"), setup = folder + "/S.exe", dir = folder + "/x";
    ASSERT_EQ(system(("mkdir -p " + q(folder)).c_str()), 0);
    writeCraftedSetup(setup, craftedConfig(),
                      {{"File1", Bytes(10, 'a'), -1}, {"File2\x7f", Bytes(10, 'b'), -1}, {"CONOUT$", Bytes(10, 'c'), -1}});
    ToolRun r = runBounded("extract " + q(setup) + " -d " + q(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("entry \"File2\\x7F\" has a name that is no plain file name; skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("entry \"CONOUT$\" has a name that is no plain file name"), std::string::npos) << r.err;
    EXPECT_EQ(listing(dir), "File1\nMAIN\n");
}

// The documented rebuild (extract, config into the folder, build) of a
// setup whose names carry script lines: config refuses, so the build has
// nothing to steal with, and nothing is read or written outside the folder.
TEST(MksetupUntrusted, InjectedScriptLinesNeverReachABuild)
{
    std::string folder = tempPath("injection"), dir = folder + "/work", setup = folder + "/S.exe";
    ASSERT_EQ(system(("mkdir -p " + q(folder + "/secret")).c_str()), 0);
    writeText(folder + "/secret/id_rsa", "the user's key");
    SetupConfig config = craftedConfig();
    const char names[] = "Uninst.exe\0Demo.exe\0x.txt = File2\nstolen.txt = ../secret/id_rsa\n[Setup]\nOutput = ../pwned.exe\n;";
    memcpy(config.fileNames, names, sizeof names);
    writeCraftedSetup(setup, config);
    ASSERT_EQ(runBounded("-q extract " + q(setup) + " -d " + q(dir)).status, 0);
    ToolRun r = runBounded("config " + q(setup));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no script printed"), std::string::npos) << r.err;
    writeText(dir + "/setup.ini", r.out);
    r = runBounded("build " + q(dir + "/setup.ini"));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fileExists(folder + "/pwned.exe"));
    EXPECT_FALSE(fileExists(dir + "/setup.exe"));
    EXPECT_EQ(listing(folder), "S.exe\nsecret\nwork\n");

    // What config printed before: the build refuses the output outside the
    // folder at its line, whatever the script's other lines say.
    writeText(dir + "/setup.ini", "[Setup]\nProductName = P\nProductVersion = 1\nInstallFolder = P\nProgram = File1.exe\n"
                                  "Stub = MAIN\nOutput = ../pwned.exe\n[Files]\nFile1.exe = File1\nstolen.txt = ../secret/id_rsa\n");
    r = runBounded("build " + q(dir + "/setup.ini"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("setup.ini:7: error: Output: \"../pwned.exe\": a script writes its setup inside its own folder"),
              std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(folder + "/pwned.exe"));
}

// Scripts are data: each hostile script is refused at its line, and the
// files it aims at stay as they were.
TEST(MksetupUntrusted, HostileScriptsAreRefusedAtTheirLines)
{
    const std::string sh = "#!/bin/sh\necho owned\n";
    struct Case {
        const char* tag;
        std::string setupExtra, files;
        const char* expected;
    } cases[] = {
        {"shellstub", "Stub = evil-stub.sh\nOutput = victim.profile\n", "",
         ":8: error: Stub: \"evil-stub.sh\": not a Windows program (no MZ and PE headers)"},
        {"x64stub", "Stub = x64.exe\n", "", ":8: error: Stub: \"x64.exe\": not a 32-bit x86 Windows program"},
        {"readonlystub", "Stub = readonly.exe\n", "",
         ":8: error: Stub: \"readonly.exe\": its configuration markers lie outside its writable data"},
        {"parent", "Output = ../victim/.profile\n", "", ":10: error: Output: \"../victim/.profile\": a script writes its setup inside its own folder"},
        {"dots", "Output = sub/.../x.exe\n", "", ":10: error: Output: \"sub/.../x.exe\""},
        {"absolute", "Output = /tmp/x.exe\n", "", ":10: error: Output: \"/tmp/x.exe\""},
        {"drive", "Output = C:x.exe\n", "", ":10: error: Output: \"C:x.exe\""},
        {"uninst", "Output = Product-Uninstall-Setup.exe\n", "",
         ":10: error: Output: \"Product-Uninstall-Setup.exe\": its name holds \"uninst\": the setup would run as the uninstaller"},
        {"backslash", "ProductName = AC\\DC\n", "", ":2: error: ProductName: \"AC\\DC\" holds \"\\\" or \"/\""},
        {"slash", "ProductName = /\n", "", ":2: error: ProductName: \"/\" holds"},
        {"dialogclass", "RunningWindowClass = #32770\n", "", ":5: error: RunningWindowClass: \"#32770\" is a window class of the system"},
        {"buttonclass", "RunningWindowClass = button\n", "", ":5: error: RunningWindowClass: \"button\" is a window class"},
        {"commonclass", "RunningWindowClass = SysListView32\n", "", ":5: error: RunningWindowClass"},
        {"shortcut", "UninstallShortcutFormat = %s\n", "",
         ":10: error: UninstallShortcutFormat: \"%s\" gives the uninstaller's shortcut the name of the shortcut of [Files] Main.exe"},
        {"helpshortcut", "UninstallShortcutFormat = %s HELP\n", "Main.exe = Main.exe\nMain.hlp = S1.txt\n",
         ":10: error: UninstallShortcutFormat: \"%s HELP\" gives the uninstaller's shortcut the name of the shortcut of [Files] Main.hlp"},
        {"conin", "", "Main.exe = Main.exe\nCONIN$ = S1.txt\n", ":13: error: [Files] CONIN$: \"CONIN$\" is a reserved device name"},
        {"conout", "", "Main.exe = Main.exe\nCONOUT$.txt = S1.txt\n", ":13: error: [Files] CONOUT$.txt: \"CONOUT$\" is a reserved device name"},
        {"com0", "", "Main.exe = Main.exe\ncom0 = S1.txt\n", ":13: error: [Files] com0: \"COM0\" is a reserved device name"},
        {"comsup", "", "Main.exe = Main.exe\nCOM\xc2\xb9.txt = S1.txt\n", ":13: error: [Files] COM\xc2\xb9.txt: \"COM\xc2\xb9\" is a reserved device name"},
        {"lptsup", "", "Main.exe = Main.exe\nLPT\xc2\xb2.log = S1.txt\n", ":13: error: [Files] LPT\xc2\xb2.log: \"LPT\xc2\xb2\" is a reserved device name"},
        {"alias", "", "Main.exe = Main.exe\nDocumentation-long.txt = S1.txt\nDOCU~ABT.TXT = S1.txt\n",
         ":14: error: [Files] DOCU~ABT.TXT: shaped like a short (8.3) alias"},
        {"aliasfolder", "InstallFolder = PROGRA~1\n", "", ":4: error: InstallFolder: shaped like a short (8.3) alias"},
        {"del", "", "Main.exe = Main.exe\nA\x7f.txt = S1.txt\n", ":13: error: [Files] A\\x7F.txt: reserved character '\\x7F' in file name"},
        {"environ", "", "Main.exe = Main.exe\nEnv.txt = /proc/self/environ\n",
         ":13: error: [Files] Env.txt: cannot read source \"/proc/self/environ\": its size says 0 bytes, but reading it gives more"},
        {"mem", "", "Main.exe = Main.exe\nMem.bin = /proc/self/mem\n", ":13: error: [Files] Mem.bin: cannot read source \"/proc/self/mem\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        Fixture f = makeProject(std::string("hostile_") + c.tag, c.setupExtra, c.files);
        writeText(f.folder + "/evil-stub.sh", sh + "# " + std::string((const char*)fakeStub().data() + 5000, 8) +
                                                  std::string(CONFIG_PAYLOAD_SIZE, '#') + "\n");
        writeFileBytes(f.folder + "/x64.exe", fakeStub(0x8664));
        writeFileBytes(f.folder + "/readonly.exe", fakeStub(0x14C, 0x40000040));
        writeText(f.folder + "/victim.profile", "the user's profile");
        std::string before = listing(f.folder);
        ToolRun r = runBounded("build " + q(f.script));
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(f.script + c.expected), std::string::npos) << r.err;
        EXPECT_EQ(listing(f.folder), before);
        EXPECT_EQ(readText(f.folder + "/victim.profile"), "the user's profile");
        EXPECT_FALSE(fileExists(f.folder + "/../victim/.profile"));
    }

    // The command line names any place: -o and --stub are the user's own.
    Fixture f = makeProject("hostile_cli", "-Stub\n");
    std::string elsewhere = tempPath("hostile_cli_out");
    ASSERT_EQ(system(("mkdir -p " + q(elsewhere)).c_str()), 0);
    ToolRun r = runBounded("-q build " + q(f.script) + " -o " + q(f.folder + "/../hostile_cli_out/S.exe") + " --stub " +
                           q(f.folder + "/stub.exe"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fileExists(elsewhere + "/S.exe"));
    r = runBounded("build " + q(f.script) + " -o " + q(elsewhere + "/Uninstall.exe"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Uninstall.exe: its name holds \"uninst\": the setup would run as the uninstaller"), std::string::npos) << r.err;
    writeFileBytes(f.folder + "/x64.exe", fakeStub(0x8664));
    r = runBounded("-q build " + q(f.script) + " -o " + q(elsewhere + "/S64.exe") + " --stub " + q(f.folder + "/x64.exe"));
    EXPECT_EQ(r.status, 0) << r.err;
    writeFileBytes(f.folder + "/readonly.exe", fakeStub(0x14C, 0x40000040));
    r = runBounded("build " + q(f.script) + " --stub " + q(f.folder + "/readonly.exe"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("readonly.exe: its configuration markers lie outside its writable data"), std::string::npos) << r.err;
    r = runBounded("build " + q(f.script) + " --stub " + q(f.folder + "/Readme.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Readme.txt: no configuration markers"), std::string::npos) << r.err;
}

// The script reader stops at the first limit it passes, so time grows with
// the script's size: a [Samples] of 200,000 lines (which took hours when
// every name was compared with every other) is refused at its 24th file, a
// flood of bad lines after 20 errors, and a script larger than any real one
// before it is read.
TEST(MksetupUntrusted, ScriptReadingStopsAtItsLimits)
{
    std::string samples = "Main.exe = Main.exe\nA.txt = S1.txt\nB.txt = S1.txt\n[Samples]\n";
    for (int i = 0; i < 200000; i++)
        samples += "F" + std::to_string(i) + ".txt = S1.txt\n";
    Fixture f = makeProject("limit_files", "", samples);
    ToolRun r = runBounded("build " + q(f.script));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("setup.ini:35: error: [Samples]: too many files"), std::string::npos) << r.err.substr(0, 400);
    EXPECT_LT(r.err.size(), 2000u);

    std::string flood = "[Setup]\n";
    for (int i = 0; i < 200000; i++)
        flood += "Colour" + std::to_string(i) + " = 1\n";
    f = makeProject("limit_errors");
    writeText(f.script, flood);
    r = runBounded("build " + q(f.script));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error: script: stopped reading after 20 errors"), std::string::npos) << r.err.substr(0, 400);
    EXPECT_LT(r.err.size(), 4000u);

    f = makeProject("limit_size");
    writeText(f.script, readText(f.script) + "; " + std::string(SCRIPT_LIMIT, 'x') + "\n");
    r = runBounded("build " + q(f.script));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read the script: larger than 4 MB"), std::string::npos) << r.err;
}

// A NUL byte in a path is refused, never cut short to the part before it.
TEST(MksetupUntrusted, PathsWithANulByteAreRefused)
{
    Fixture f = makeProject("nulpath");
    std::string cut = f.folder + "/Readme.txt" + std::string(1, '\0') + "junk";
    std::string reason;
    EXPECT_EQ(regularFileSize(cut, reason), -1);
    EXPECT_EQ(reason, "the path holds a NUL byte");
    Bytes bytes;
    EXPECT_FALSE(readRegularFile(cut, bytes, reason));
    EXPECT_FALSE(isReadable(cut, reason));
    EXPECT_FALSE(fileIdentity(cut).exists);
    EXPECT_FALSE(makeFolder(f.folder + "/new" + std::string(1, '\0') + "x", reason));
    EXPECT_FALSE(isFolder(f.folder + std::string(1, '\0')));
    // A source named so in a script: refused at its line.
    SetupScript script;
    std::vector<std::string> errors;
    EXPECT_FALSE(loadScriptText("[Setup]\nProductName = P\nProgram = Main.exe\nStub = stub.exe\n[Files]\nMain.exe = Main.exe\n"
                                "Readme.txt = Readme.txt" + std::string(1, '\0') + "junk\n",
                                f.script, script, errors));
    EXPECT_TRUE(anyContains(errors, ":7: error:")) << (errors.empty() ? "" : errors[0]);
}
