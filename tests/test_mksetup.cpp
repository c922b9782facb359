// mksetup: script checks with their messages, and build -> list -> verify ->
// extract -> config round trips through the real tool.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "decoration.h"
#include "coding/littleendian.h"
#include "package/package.h"
#include "script.h"
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

// Any file with the two marker words and room for the payload serves as a stub.
static Bytes fakeStub()
{
    Bytes stub = randomBytes(5000, 77);
    stub[0] = 'M';
    stub[1] = 'Z';
    uint8_t marker[8];
    writeLe32(marker, CONFIG_MARKER_1);
    writeLe32(marker + 4, CONFIG_MARKER_2);
    stub.insert(stub.end(), marker, marker + 8);
    stub.insert(stub.end(), CONFIG_PAYLOAD_SIZE, 0);
    Bytes tail = randomBytes(3000, 78);
    stub.insert(stub.end(), tail.begin(), tail.end());
    return stub;
}

struct Fixture {
    std::string folder;
    std::string script;
};

// A folder with sources, a stub and a valid script. A line of setupExtra
// replaces the default line of the same key (keeping its line number) or is
// added at the end of [Setup] (line 9 on).
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
                                      "StartupArguments = -min", "Stub = stub.exe"};
    size_t at = 0;
    while (at < setupExtra.size()) {
        std::string line = setupExtra.substr(at, setupExtra.find('\n', at) - at);
        at += line.size() + 1;
        std::string key = line.substr(0, line.find(' '));
        bool replaced = false;
        for (std::string& d : setup)
            if (d.substr(0, d.find(' ')) == key) {
                d = line;
                replaced = true;
            }
        if (!replaced)
            setup.push_back(line);
    }
    std::string files = filesText.empty() ? "Uninst.exe\nMain.exe = Main.exe\nReadme.txt = Readme.txt\n"
                                            "Data.bin = Data.bin\nS1.txt = S1.txt\nEmpty.txt = Empty.txt\n"
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

TEST(MksetupScript, ErrorsNameLineKeyAndProblem)
{
    const std::string base = "Uninst.exe\nMain.exe = Main.exe\n";
    struct Case {
        const char* tag;
        std::string setupExtra;
        std::string files;
        std::string expected;    // ":LINE: key: what" fragment
    } cases[] = {
        {"longname", "ProductName = A product name of 32 characters.\n", "", ":2: ProductName: \"A product name of 32 characters.\" is 32 characters; at most 31 fit"},
        {"noname", "ProductName =\n", "", ":2: ProductName: a product name is required"},
        {"version", "ProductVersion = 1.0.0.12\n", "", ":3: ProductVersion: \"1.0.0.12\" is 8 characters; at most 7 fit"},
        {"folder", "InstallFolder = Demo\\Sub\n", "", ":4: InstallFolder: a file name may not contain a path separator"},
        {"label", "InstallingLabelFormat = Now installing the product %s...\n", "", ":9: InstallingLabelFormat: \"Now installing the product %s...\" is 32 characters; at most 31 fit"},
        {"fmt", "UninstallShortcutFormat = Remove\n", "", ":9: UninstallShortcutFormat: must contain %s (the product name) exactly once"},
        {"fmt2", "UninstallShortcutFormat = %s %d\n", "", ":9: UninstallShortcutFormat: only %s (the product name) and %% may follow '%'"},
        {"colour", "BackgroundColor = blue\n", "", ":9: BackgroundColor: \"blue\" is not a colour of the form #RRGGBB"},
        {"unknown", "Colour = #000000\n", "", ":9: Colour: unknown key in [Setup]"},
        {"twice", "productName = Again\n", "", ":9: productName: given twice (first on line 2)"},
        {"sep", "", base + "sub/x.txt = S1.txt\n", ":13: [Files] sub/x.txt: a file name may not contain a path separator"},
        {"bslash", "", base + "a\\b.txt = S1.txt\n", ":13: [Files] a\\b.txt: a file name may not contain a path separator"},
        {"dotdot", "", base + "..x = S1.txt\n", ":13: [Files] ..x: \"..\" is not allowed in a file name"},
        {"drive", "", base + "C:x.txt = S1.txt\n", ":13: [Files] C:x.txt: a file name may not contain a drive letter or ':'"},
        {"reserved", "", base + "a?.txt = S1.txt\n", ":13: [Files] a?.txt: reserved character '?' in file name"},
        {"device", "", base + "nul.txt = S1.txt\n", ":13: [Files] nul.txt: \"NUL\" is a reserved device name"},
        {"device2", "", base + "Com1 = S1.txt\n", ":13: [Files] Com1: \"COM1\" is a reserved device name"},
        {"dup", "", base + "main.EXE = S1.txt\n", ":13: [Files] main.EXE: duplicate file name (line 12) in the same folder"},
        {"uninst", "", "Remove.exe\nMain.exe = Main.exe\n", ":11: [Files] Remove.exe: the uninstaller's name must contain \"uninst\", or it would run as an installer"},
        {"uninstexe", "", "Uninst.bat\nMain.exe = Main.exe\n", ":11: [Files] Uninst.bat: the uninstaller's name must end in \".exe\""},
        {"uninstsrc", "", "Uninst.exe = Main.exe\nMain.exe = Main.exe\n", ":11: [Files] Uninst.exe: the uninstaller (the first file) has no source: the installer composes it"},
        {"mainexe", "", "Uninst.exe\nMain.txt = S1.txt\n", ":12: [Files] Main.txt: the main program (the second file) must be an \".exe\""},
        {"missing", "", base + "Gone.txt = Gone.txt\n", ":13: [Files] Gone.txt: cannot read source \"Gone.txt\": No such file or directory"},
        {"nosource", "", base + "NoSource.txt\n", ":13: [Files] NoSource.txt: no source file given (name = source path)"},
        {"few", "", "Uninst.exe\n", ":11: [Files]: at least two files are needed"},
        {"deco", "", base + "[Decoration]\nLOGOS = x.bmp\n", ":14: LOGOS: not a decorative bitmap"},
        {"decofile", "", base + "[Decoration]\nLOGO = nothere.bmp\n", ":14: [Decoration] LOGO: cannot read \"nothere.bmp\""},
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

TEST(MksetupScript, LimitsOfTheFileList)
{
    // 23 files fit (31 records); a 24th does not.
    std::string files = "Uninst.exe\nMain.exe = Main.exe\n";
    for (int i = 2; i < 24; i++)
        files += "F" + std::to_string(i) + ".txt = S1.txt\n";
    std::vector<std::string> errors = scriptErrors(makeProject("many", "", files));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(":34: [Files]: too many files"), std::string::npos) << errors[0];

    // 512 bytes of names: 17 names of 29 characters plus the first two overflow.
    files = "Uninst.exe\nMain.exe = Main.exe\n";
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
                                      "Uninst.exe\nMain.exe = Main.exe\n" + longName + ".txt = S1.txt\n"));
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
    Fixture f = makeProject("palette", "", "Uninst.exe\nMain.exe = Main.exe\n[Decoration]\nLOGO = logo.bmp\n");
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

TEST(MksetupTool, ReproducibleAndConfigRoundTrip)
{
    Fixture f = makeProject("repro");
    std::string a = f.folder + "/A.exe", b = f.folder + "/B.exe", out;
    ASSERT_EQ(run(tool + " build '" + f.script + "' -o '" + a + "'"), 0);
    ASSERT_EQ(run(tool + " build '" + f.script + "' -o '" + b + "'"), 0);
    EXPECT_EQ(readFileBytes(a), readFileBytes(b));

    // config prints a script that builds the same configuration again.
    ASSERT_EQ(run(tool + " config '" + a + "'", &out), 0) << out;
    EXPECT_NE(out.find("ProductName = Demo\n"), std::string::npos) << out;
    std::string again = out.substr(0, out.find("[Files]")) + "Stub = stub.exe\n\n[Files]\nUninst.exe\n"
                        "Main.exe = Main.exe\nReadme.txt = Readme.txt\nData.bin = Data.bin\nS1.txt = S1.txt\n"
                        "Empty.txt = Empty.txt\n";
    writeText(f.folder + "/again.ini", again);
    std::string c = f.folder + "/C.exe";
    ASSERT_EQ(run(tool + " build '" + f.folder + "/again.ini' -o '" + c + "'", &out), 0) << out;
    EXPECT_EQ(readFileBytes(a), readFileBytes(c));
}

TEST(MksetupTool, FailuresLeaveNothingBehind)
{
    Fixture f = makeProject("fail", "", "Uninst.exe\nMain.exe = Main.exe\nGone.txt = Gone.txt\n");
    std::string setup = f.folder + "/Setup.exe", out;
    EXPECT_EQ(run(tool + " build '" + f.script + "' -o '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("setup.ini:13: [Files] Gone.txt: cannot read source"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(setup));
    EXPECT_FALSE(fileExists(setup + ".tmp"));

    // A stub without markers is refused.
    Fixture g = makeProject("nostub");
    writeFileBytes(g.folder + "/stub.exe", randomBytes(4000, 5));
    EXPECT_EQ(run(tool + " build '" + g.script + "' -o '" + setup + "'", &out), 1);
    EXPECT_NE(out.find("no configuration markers"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(setup));
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
