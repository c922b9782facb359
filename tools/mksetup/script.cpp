// script.cpp - parsing and checking setup scripts.
#include "script.h"
#include "decoration.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

const char* const decorativeBitmapNames[DECORATION_COUNT] = {
    "BLUE", "DIMENSION", "LOGO", "TAMBERLYN", "TOPSHADOW", "ORANGE", "BLUEWHITE", "WHITEBLUE"};

// The longest Program Files folder a 64-bit Windows gives a 32-bit setup.
static const char* const programFilesForCheck = "C:\\Program Files (x86)";

enum { PATH_LIMIT = 255, SHORTCUT_NAME_LIMIT = 31, UNINSTALL_STRING_LIMIT = 127 };

struct KeyInfo {
    const char* key;
    ScriptValue SetupScript::*field;
    int width;           // characters the configuration field holds; 0: not a text field
};

static const KeyInfo setupKeys[] = {
    {"ProductName", &SetupScript::productName, 31},
    {"ProductVersion", &SetupScript::productVersion, 7},
    {"InstallFolder", &SetupScript::installFolder, 63},
    {"StartMenuSubfolder", &SetupScript::startMenuSubfolder, 63},
    {"RunningWindowClass", &SetupScript::runningWindowClass, 31},
    {"SamplesDescription", &SetupScript::samplesDescription, 39},
    {"StartupArguments", &SetupScript::startupArguments, 15},
    {"UninstallShortcutFormat", &SetupScript::uninstallShortcutFormat, 15},
    {"InstallingLabelFormat", &SetupScript::installingLabelFormat, 31},
    {"BackgroundColor", &SetupScript::backgroundColor, 0},
    {"Stub", &SetupScript::stub, 0},
    {"Output", &SetupScript::output, 0},
};

static std::string trim(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && isspace((unsigned char)s[a]))
        a++;
    while (b > a && isspace((unsigned char)s[b - 1]))
        b--;
    return s.substr(a, b - a);
}

static bool sameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

static bool endsWithNoCase(const std::string& s, const char* suffix)
{
    size_t n = strlen(suffix);
    return s.size() >= n && sameNoCase(s.substr(s.size() - n), suffix);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (name.empty() || name[0] == '/' || (name.size() > 1 && name[1] == ':') || folder.empty())
        return name;
    return folder + "/" + name;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        error = strerror(errno);
        return false;
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > 0x7FFFFFFFu - sizeof buffer) {
            fclose(f);
            error = "larger than 2 GB";
            return false;
        }
    }
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        error = "read error";
        return false;
    }
    return true;
}

struct Context {
    const SetupScript* script;
    std::vector<std::string>* errors;
};

static void fail(Context& c, int line, const std::string& key, const std::string& what)
{
    char prefix[32];
    snprintf(prefix, sizeof prefix, ":%d: ", line);
    c.errors->push_back(c.script->scriptPath + prefix + key + ": " + what);
}

// A name Windows can create as a plain file in one folder, or the reason why not.
static std::string fileNameProblem(const std::string& name)
{
    if (name.empty())
        return "empty file name";
    if (name == "." || name == ".." || name.find("..") != std::string::npos)
        return "\"..\" is not allowed in a file name";
    for (unsigned char ch : name) {
        if (ch == '/' || ch == '\\')
            return "a file name may not contain a path separator";
        if (ch == ':')
            return "a file name may not contain a drive letter or ':'";
        if (ch < 32 || strchr("<>\"|?*", ch))
            return std::string("reserved character '") + (ch < 32 ? std::string("\\x") + std::to_string(ch) : std::string(1, (char)ch)) + "' in file name";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a file name may not end in '.' or a space";
    std::string stem = name.substr(0, name.find('.'));
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
        "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",
        "LPT8", "LPT9"};
    for (const char* device : devices)
        if (sameNoCase(trim(stem), device))
            return std::string("\"") + device + "\" is a reserved device name";
    return "";
}

// The format takes the product name once: exactly one %s, any other % doubled.
static std::string formatProblem(const std::string& format)
{
    int strings = 0;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] != '%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            i++;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == 's') {
            strings++;
            i++;
            continue;
        }
        return "only %s (the product name) and %% may follow '%'";
    }
    if (strings != 1)
        return "must contain %s (the product name) exactly once";
    return "";
}

// Length of the text that a format of one %s gives with the argument.
static size_t formattedLength(const std::string& format, const std::string& argument)
{
    size_t length = 0;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] == '%' && i + 1 < format.size()) {
            length += format[i + 1] == 's' ? argument.size() : 1;
            i++;
        } else {
            length++;
        }
    }
    return length;
}

static uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

static uint32_t le16(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8;
}

std::string checkBitmap(const std::vector<uint8_t>& image)
{
    if (image.size() < 14 + 40 || le16(image, 0) != 0x4D42)
        return "not a Windows bitmap (no \"BM\" header)";
    uint32_t headerSize = le32(image, 14);
    if (headerSize == 12)
        return "OS/2 bitmap with a 12-byte header; save it as a Windows bitmap";
    if (headerSize < 40 || headerSize > 124)
        return "unknown bitmap header size " + std::to_string(headerSize);
    int32_t width = (int32_t)le32(image, 18);
    int32_t height = (int32_t)le32(image, 22);
    uint32_t bits = le16(image, 28);
    uint32_t compression = le32(image, 30);
    if (height < 0)
        return "top-down bitmap; it must be stored bottom-up (positive height)";
    if (width <= 0 || height == 0 || width > 65535 || height > 65535)
        return "width and height must be 1 to 65535";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return "unsupported colour depth " + std::to_string(bits) + " (use 1, 4, 8 or 24 bits per pixel)";
    if (compression != 0)
        return "compressed bitmap; save it uncompressed";
    uint32_t colours = le32(image, 46) & 0xFFFF;
    if (bits == 24)
        colours = 0;
    else if (colours == 0)
        colours = 1u << bits;
    if (colours > (1u << bits))
        return "more colours than the depth allows";
    uint64_t tableEnd = 14 + (uint64_t)headerSize + 4ull * colours;
    uint64_t stride = (((uint64_t)width * bits + 31) & ~31ull) / 8;
    uint64_t pixelEnd = tableEnd + stride * (uint64_t)height;
    if (le32(image, 10) != tableEnd)
        return "the pixel data does not follow the colour table directly";
    if (pixelEnd > image.size())
        return "the file is shorter than its pixel data";
    return "";
}

std::string bitmapColourTable(const std::vector<uint8_t>& image)
{
    uint32_t headerSize = le32(image, 14);
    uint32_t bits = le16(image, 28);
    if (bits == 24)
        return "";
    uint32_t colours = le32(image, 46) & 0xFFFF;
    if (colours == 0)
        colours = 1u << bits;
    std::string table = std::to_string(headerSize) + "/" + std::to_string(bits) + "/" + std::to_string(colours) + "/";
    table.append((const char*)&image[14 + headerSize], 4 * colours);
    return table;
}

static bool parseColour(const std::string& text, uint32_t& colorRef)
{
    if (text.size() != 7 || text[0] != '#')
        return false;
    for (size_t i = 1; i < 7; i++)
        if (!isxdigit((unsigned char)text[i]))
            return false;
    unsigned long rgb = strtoul(text.c_str() + 1, nullptr, 16);
    colorRef = (uint32_t)((rgb >> 16) & 0xFF) | (uint32_t)(rgb & 0xFF00) | (uint32_t)((rgb & 0xFF) << 16);
    return true;
}

static void checkScript(Context& c, SetupScript& s)
{
    for (const KeyInfo& k : setupKeys) {
        const ScriptValue& v = s.*(k.field);
        if (k.width && v.text.size() > (size_t)k.width)
            fail(c, v.line, k.key, "\"" + v.text + "\" is " + std::to_string(v.text.size()) + " characters; at most " + std::to_string(k.width) + " fit");
    }
    if (s.productName.text.empty())
        fail(c, s.productName.line, "ProductName", "a product name is required");
    for (const ScriptValue* f : {&s.uninstallShortcutFormat, &s.installingLabelFormat}) {
        std::string problem = formatProblem(f->text);
        if (!problem.empty())
            fail(c, f->line, f == &s.uninstallShortcutFormat ? "UninstallShortcutFormat" : "InstallingLabelFormat", problem);
    }
    if (formatProblem(s.uninstallShortcutFormat.text).empty() &&
        formattedLength(s.uninstallShortcutFormat.text, s.productName.text) > SHORTCUT_NAME_LIMIT)
        fail(c, s.uninstallShortcutFormat.line, "UninstallShortcutFormat",
             "the uninstaller's shortcut name would exceed 31 characters with this product name");
    uint32_t colour = 0;
    if (!s.backgroundColor.text.empty() && !parseColour(s.backgroundColor.text, colour))
        fail(c, s.backgroundColor.line, "BackgroundColor", "\"" + s.backgroundColor.text + "\" is not a colour of the form #RRGGBB");
    const std::string& folder = s.installFolder.text;
    std::string folderProblem = folder.empty() ? "" : fileNameProblem(folder);
    if (!folderProblem.empty())
        fail(c, s.installFolder.line, "InstallFolder", folderProblem);
    if (!s.startMenuSubfolder.text.empty()) {
        std::string problem = fileNameProblem(s.startMenuSubfolder.text);
        if (!problem.empty())
            fail(c, s.startMenuSubfolder.line, "StartMenuSubfolder", problem);
    }

    // ---- files ----
    if (s.files.size() < 2)
        fail(c, s.files.empty() ? 0 : s.files.back().line, "[Files]",
             "at least two files are needed: the uninstaller (index 0) and the main program (index 1)");
    if (s.files.size() > MAX_SETUP_FILES)
        fail(c, s.files[MAX_SETUP_FILES].line, "[Files]",
             "too many files: a setup holds at most " + std::to_string(MAX_SETUP_FILES) + " (31 package records: MAIN, 8 bitmaps and the files)");
    size_t nameBytes = 0;
    for (size_t i = 0; i < s.files.size(); i++) {
        ScriptFile& f = s.files[i];
        std::string key = "[Files] " + f.name;
        nameBytes += f.name.size() + 1;
        if (nameBytes > sizeof(((SetupConfig*)0)->fileNames) && nameBytes - f.name.size() - 1 <= sizeof(((SetupConfig*)0)->fileNames))
            fail(c, f.line, key, "the file names exceed the 512 bytes of the name list");
        std::string problem = fileNameProblem(f.name);
        if (!problem.empty()) {
            fail(c, f.line, key, problem);
            continue;
        }
        if (i == 0) {
            if (!f.source.empty())
                fail(c, f.line, key, "the uninstaller (the first file) has no source: the installer composes it");
            if (!findNoCase(f.name.c_str(), "uninst"))
                fail(c, f.line, key, "the uninstaller's name must contain \"uninst\", or it would run as an installer");
            if (!endsWithNoCase(f.name, ".exe"))
                fail(c, f.line, key, "the uninstaller's name must end in \".exe\"");
        } else {
            if (i == 1 && !endsWithNoCase(f.name, ".exe"))
                fail(c, f.line, key, "the main program (the second file) must be an \".exe\"");
            if (f.source.empty()) {
                fail(c, f.line, key, "no source file given (name = source path)");
            } else {
                FILE* probe = fopen(f.path.c_str(), "rb");
                if (!probe)
                    fail(c, f.line, key, "cannot read source \"" + f.source + "\": " + strerror(errno));
                else
                    fclose(probe);
            }
            if (endsWithNoCase(f.name, ".hlp") && formattedLength("%s Help", s.productName.text) > SHORTCUT_NAME_LIMIT)
                fail(c, f.line, key, "the help shortcut name \"<product> Help\" would exceed 31 characters");
        }
        bool sample = i >= 4;
        for (size_t j = 0; j < i; j++)
            if ((s.files[j].name.size() == f.name.size()) && (j >= 4) == sample && sameNoCase(s.files[j].name, f.name))
                fail(c, f.line, key, "duplicate file name (line " + std::to_string(s.files[j].line) + ") in the same folder");
        if (!sample && s.files.size() > 4 && sameNoCase(f.name, "Samples"))
            fail(c, f.line, key, "\"Samples\" is the folder of the files from the fifth on");
        size_t pathLength = strlen(programFilesForCheck) + (folder.empty() ? 0 : 1 + folder.size()) +
                            (sample ? 8 : 0) + 1 + f.name.size();
        if (pathLength > PATH_LIMIT)
            fail(c, f.line, key, "the installed path would be " + std::to_string(pathLength) +
                 " characters under " + programFilesForCheck + "; at most 255 fit");
        if (i == 0 && pathLength + 2 > UNINSTALL_STRING_LIMIT)
            fail(c, f.line, key, "the uninstaller's path would not fit the 127 characters of the uninstall command");
    }

    // ---- decoration ----
    // The defaults are palettized with one table, so a replacement with another
    // table must replace every palettized default the setup keeps.
    std::string sharedTable;
    std::string sharedFrom;
    int sharedLine = 0;
    for (int i = 0; i < DECORATION_COUNT; i++) {
        ScriptValue& d = s.decoration[i];
        std::string key = std::string("[Decoration] ") + decorativeBitmapNames[i];
        std::vector<uint8_t> image;
        if (d.text.empty()) {
            image = defaultDecoration(i);
        } else {
            std::string error;
            if (!readWholeFile(joinPath(s.folder, d.text), image, error)) {
                fail(c, d.line, key, "cannot read \"" + d.text + "\": " + error);
                continue;
            }
            std::string problem = checkBitmap(image);
            if (!problem.empty()) {
                fail(c, d.line, key, "\"" + d.text + "\": " + problem);
                continue;
            }
        }
        std::string table = bitmapColourTable(image);
        if (table.empty())
            continue;
        std::string from = std::string(d.text.empty() ? "the default " : "") + decorativeBitmapNames[i];
        if (sharedTable.empty()) {
            sharedTable = table;
            sharedFrom = from;
            sharedLine = d.line;
        } else if (table != sharedTable) {
            if (d.line)
                fail(c, d.line, key, "its colour table differs from " + sharedFrom +
                     "'s; all palettized bitmaps must share one colour table");
            else
                fail(c, sharedLine, key, "the default bitmap's colour table differs from " + sharedFrom +
                     "'s; replace every palettized bitmap, or none");
        }
    }
}

bool loadScript(const std::string& path, SetupScript& s, std::vector<std::string>& errors)
{
    s = SetupScript();
    s.scriptPath = path;
    size_t slash = path.find_last_of("/\\");
    s.folder = slash == std::string::npos ? "" : path.substr(0, slash);
    s.uninstallShortcutFormat = {"Uninstall %s", 0};
    s.installingLabelFormat = {"Installing %s", 0};
    s.backgroundColor = {"#5680AA", 0};
    Context c = {&s, &errors};

    std::vector<uint8_t> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) {
        errors.push_back(path + ": cannot read the script: " + error);
        return false;
    }
    std::string text(bytes.begin(), bytes.end());
    enum { NONE, SETUP, FILES, DECORATION } section = NONE;
    bool seen[DECORATION_COUNT] = {};
    size_t at = 0;
    int lineNumber = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(text.substr(at, end - at));
        at = end + 1;
        lineNumber++;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            std::string name = line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : "";
            if (sameNoCase(name, "Setup"))
                section = SETUP;
            else if (sameNoCase(name, "Files"))
                section = FILES;
            else if (sameNoCase(name, "Decoration"))
                section = DECORATION;
            else
                fail(c, lineNumber, line, "unknown section (expected [Setup], [Files] or [Decoration])");
            continue;
        }
        size_t equals = line.find('=');
        std::string key = trim(line.substr(0, equals));
        std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);   // quotes keep leading or trailing spaces
        if (section == NONE) {
            fail(c, lineNumber, key, "outside any section");
        } else if (section == SETUP) {
            const KeyInfo* found = nullptr;
            for (const KeyInfo& k : setupKeys)
                if (sameNoCase(k.key, key))
                    found = &k;
            if (!found)
                fail(c, lineNumber, key, "unknown key in [Setup]");
            else if (equals == std::string::npos)
                fail(c, lineNumber, key, "missing '=' and value");
            else if ((s.*(found->field)).line)
                fail(c, lineNumber, key, "given twice (first on line " + std::to_string((s.*(found->field)).line) + ")");
            else
                s.*(found->field) = {value, lineNumber};
        } else if (section == FILES) {
            ScriptFile f = {key, value, "", lineNumber};
            f.path = joinPath(s.folder, value);
            s.files.push_back(f);
        } else {
            int index = -1;
            for (int i = 0; i < DECORATION_COUNT; i++)
                if (sameNoCase(key, decorativeBitmapNames[i]))
                    index = i;
            if (index < 0)
                fail(c, lineNumber, key, "not a decorative bitmap (BLUE, DIMENSION, LOGO, TAMBERLYN, TOPSHADOW, ORANGE, BLUEWHITE, WHITEBLUE)");
            else if (seen[index])
                fail(c, lineNumber, key, "given twice");
            else if (value.empty())
                fail(c, lineNumber, key, "missing bitmap path");
            else {
                seen[index] = true;
                s.decoration[index] = {value, lineNumber};
            }
        }
    }
    if (!s.productName.line)
        s.productName.line = lineNumber;
    checkScript(c, s);
    return errors.empty();
}

static void copyField(char* field, size_t size, const std::string& text)
{
    memset(field, 0, size);
    memcpy(field, text.data(), text.size() < size ? text.size() : size - 1);
}

void fillSetupConfig(const SetupScript& s, SetupConfig& config)
{
    memset(&config, 0, sizeof config);
    size_t at = 0;
    for (const ScriptFile& f : s.files) {
        if (at + f.name.size() + 1 > sizeof config.fileNames)
            break;   // refused by the checks before
        memcpy(config.fileNames + at, f.name.c_str(), f.name.size() + 1);
        at += f.name.size() + 1;
    }
    copyField(config.productName, sizeof config.productName, s.productName.text);
    copyField(config.productVersion, sizeof config.productVersion, s.productVersion.text);
    copyField(config.installFolderName, sizeof config.installFolderName, s.installFolder.text);
    copyField(config.startMenuSubfolder, sizeof config.startMenuSubfolder, s.startMenuSubfolder.text);
    copyField(config.runningWindowClass, sizeof config.runningWindowClass, s.runningWindowClass.text);
    copyField(config.samplesDescription, sizeof config.samplesDescription, s.samplesDescription.text);
    copyField(config.startupArguments, sizeof config.startupArguments, s.startupArguments.text);
    copyField(config.uninstallShortcutFormat, sizeof config.uninstallShortcutFormat, s.uninstallShortcutFormat.text);
    copyField(config.installingLabelFormat, sizeof config.installingLabelFormat, s.installingLabelFormat.text);
    config.fileCount = (int32_t)s.files.size();
    uint32_t colour = 0;
    parseColour(s.backgroundColor.text, colour);
    config.backColorTop = colour;
    config.backColorBottom = colour;
}

// " = value", quoted when spaces at either end would otherwise be lost.
static std::string quoted(const char* field, size_t size)
{
    std::string text(field, strnlen(field, size));
    if (text.empty())
        return " =";
    if (isspace((unsigned char)text.front()) || isspace((unsigned char)text.back()) ||
        (text.front() == '"' && text.back() == '"'))
        return " = \"" + text + "\"";
    return " = " + text;
}

std::string describeSetupConfig(const SetupConfig& config)
{
    char colour[16];
    snprintf(colour, sizeof colour, "#%02X%02X%02X", config.backColorTop & 0xFF,
             (config.backColorTop >> 8) & 0xFF, (config.backColorTop >> 16) & 0xFF);
    std::string out = "[Setup]\n";
    out += "ProductName" + quoted(config.productName, sizeof config.productName) + "\n";
    out += "ProductVersion" + quoted(config.productVersion, sizeof config.productVersion) + "\n";
    out += "InstallFolder" + quoted(config.installFolderName, sizeof config.installFolderName) + "\n";
    out += "StartMenuSubfolder" + quoted(config.startMenuSubfolder, sizeof config.startMenuSubfolder) + "\n";
    out += "RunningWindowClass" + quoted(config.runningWindowClass, sizeof config.runningWindowClass) + "\n";
    out += "SamplesDescription" + quoted(config.samplesDescription, sizeof config.samplesDescription) + "\n";
    out += "StartupArguments" + quoted(config.startupArguments, sizeof config.startupArguments) + "\n";
    out += "UninstallShortcutFormat" + quoted(config.uninstallShortcutFormat, sizeof config.uninstallShortcutFormat) + "\n";
    out += "InstallingLabelFormat" + quoted(config.installingLabelFormat, sizeof config.installingLabelFormat) + "\n";
    out += std::string("BackgroundColor = ") + colour + "\n";
    out += "\n[Files]\n";
    out += "; sources are the entry names that 'mksetup extract' writes\n";
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount && at < sizeof config.fileNames; i++) {
        size_t length = strnlen(config.fileNames + at, sizeof config.fileNames - at);
        std::string name(config.fileNames + at, length);
        if (i == 0)
            out += name + "\n";
        else
            out += name + " = File" + std::to_string(i) + "\n";
        at += length + 1;
    }
    return out;
}
