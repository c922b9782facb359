// script.cpp - parsing and checking setup scripts.
#include "script.h"
#include "decoration.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#define access _access
#define R_OK 4
#else
#include <unistd.h>
#endif

#include "coding/littleendian.h"

// The longest Program Files folder a 64-bit Windows gives a 32-bit setup.
static const char* const programFilesForCheck = "C:\\Program Files (x86)";

enum { PATH_LIMIT = 255, SHORTCUT_NAME_LIMIT = 31, UNINSTALL_STRING_LIMIT = 127 };

static size_t fieldIndex(const ConfigField* field)
{
    return (size_t)(field - setupConfigFields);
}

const ScriptValue& scriptField(const SetupScript& script, const char* key)
{
    return script.fields[fieldIndex(findConfigField(key))];
}

static ScriptValue& field(SetupScript& script, const char* key)
{
    return script.fields[fieldIndex(findConfigField(key))];
}

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
    // Names embedded in the configuration are NUL-terminated there.
    if (name.find('\0') != std::string::npos)
        return "reserved character '\\x0' in file name";
    size_t at = 0;
    int problem = ::fileNameProblem(name.c_str(), 0, &at);
    if (problem == NAME_RESERVED_CHARACTER) {
        unsigned char ch = (unsigned char)name[at];
        return std::string("reserved character '") + (ch < 32 ? std::string("\\x") + std::to_string(ch) : std::string(1, (char)ch)) + "' in file name";
    }
    if (problem == NAME_DEVICE) {
        std::string stem = trim(name.substr(0, name.find('.')));
        for (char& c : stem)
            c = (char)toupper((unsigned char)c);
        return "\"" + stem + "\" is a reserved device name";
    }
    return fileNameProblemText(problem);
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

std::string checkBitmap(const std::vector<uint8_t>& image)
{
    int problem = checkBitmapImage(image.data(), image.size(), NULL);
    // Two problems name the value that is wrong.
    if (problem == BITMAP_HEADER_SIZE)
        return "unknown bitmap header size " + std::to_string(readLe32(&image[14]));
    if (problem == BITMAP_DEPTH)
        return "unsupported colour depth " + std::to_string(readLe16(&image[28])) +
               " (use 1, 4, 8 or 24 bits per pixel)";
    return bitmapProblemText(problem);
}

std::string bitmapColourTable(const std::vector<uint8_t>& image)
{
    BitmapLayout layout;
    if (checkBitmapImage(image.data(), image.size(), &layout) != BITMAP_OK || layout.colours == 0)
        return "";
    uint32_t headerSize = layout.headerSize, bits = layout.bits, colours = layout.colours;
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
    for (const ConfigField& k : setupConfigFields) {
        const ScriptValue& v = s.fields[fieldIndex(&k)];
        size_t fits = (size_t)k.width - 1;
        if (k.key && k.kind == FIELD_TEXT && v.text.size() > fits)
            fail(c, v.line, k.key, "\"" + v.text + "\" is " + std::to_string(v.text.size()) + " characters; at most " + std::to_string(fits) + " fit");
    }
    const ScriptValue& productName = field(s, "ProductName");
    const ScriptValue& shortcutFormat = field(s, "UninstallShortcutFormat");
    if (productName.text.empty())
        fail(c, productName.line, "ProductName", "a product name is required");
    for (const char* key : {"UninstallShortcutFormat", "InstallingLabelFormat"}) {
        const ScriptValue& f = field(s, key);
        std::string problem = formatProblem(f.text);
        if (!problem.empty())
            fail(c, f.line, key, problem);
    }
    if (formatProblem(shortcutFormat.text).empty() &&
        formattedLength(shortcutFormat.text, productName.text) > SHORTCUT_NAME_LIMIT)
        fail(c, shortcutFormat.line, "UninstallShortcutFormat",
             "the uninstaller's shortcut name would exceed 31 characters with this product name");
    uint32_t colour = 0;
    const ScriptValue& background = field(s, "BackgroundColor");
    if (!background.text.empty() && !parseColour(background.text, colour))
        fail(c, background.line, "BackgroundColor", "\"" + background.text + "\" is not a colour of the form #RRGGBB");
    // Both name one folder each: the install folder and the Start Menu group's subfolder.
    for (const char* key : {"InstallFolder", "StartMenuSubfolder"}) {
        const ScriptValue& f = field(s, key);
        std::string problem = f.text.empty() ? "" : fileNameProblem(f.text);
        if (!problem.empty())
            fail(c, f.line, key, problem);
    }
    const std::string& folder = field(s, "InstallFolder").text;

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
            } else if (access(f.path.c_str(), R_OK) != 0) {
                // Asked without opening: the build opens each source once, to compress it.
                fail(c, f.line, key, "cannot read source \"" + f.source + "\": " + strerror(errno));
            }
            if (endsWithNoCase(f.name, ".hlp") && formattedLength("%s Help", productName.text) > SHORTCUT_NAME_LIMIT)
                fail(c, f.line, key, "the help shortcut name \"<product> Help\" would exceed 31 characters");
        }
        bool sample = i >= SAMPLES_FIRST_INDEX;
        for (size_t j = 0; j < i; j++)
            if ((s.files[j].name.size() == f.name.size()) && (j >= SAMPLES_FIRST_INDEX) == sample && sameNoCase(s.files[j].name, f.name))
                fail(c, f.line, key, "duplicate file name (line " + std::to_string(s.files[j].line) + ") in the same folder");
        if (!sample && s.files.size() > SAMPLES_FIRST_INDEX && sameNoCase(f.name, "Samples"))
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
        s.decorationImage[i] = image;
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
    for (const ConfigField& k : setupConfigFields)
        if (k.key)
            s.fields[fieldIndex(&k)] = {k.defaultText, 0};
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
            const ConfigField* configField = findConfigField(key.c_str());
            ScriptValue* found = configField ? &s.fields[fieldIndex(configField)]
                                 : sameNoCase(key, "Stub")   ? &s.stub
                                 : sameNoCase(key, "Output") ? &s.output
                                                             : nullptr;
            if (!found)
                fail(c, lineNumber, key, "unknown key in [Setup]");
            else if (equals == std::string::npos)
                fail(c, lineNumber, key, "missing '=' and value");
            else if (found->line)
                fail(c, lineNumber, key, "given twice (first on line " + std::to_string(found->line) + ")");
            else
                *found = {value, lineNumber};
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
    if (!field(s, "ProductName").line)
        field(s, "ProductName").line = lineNumber;
    checkScript(c, s);
    return errors.empty();
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
    uint8_t* bytes = (uint8_t*)&config;
    for (const ConfigField& k : setupConfigFields) {
        const std::string& text = s.fields[fieldIndex(&k)].text;
        if (k.key && k.kind == FIELD_TEXT) {
            memcpy(bytes + k.offset, text.data(), text.size() < k.width ? text.size() : (size_t)k.width - 1);
        } else if (k.key && k.kind == FIELD_COLOUR) {
            uint32_t colour = 0;
            parseColour(text, colour);
            writeLe32(bytes + k.offset, colour);
        }
    }
    config.fileCount = (int32_t)s.files.size();
    config.backColorBottom = config.backColorTop;   // one colour: the background has no gradient
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
    const uint8_t* bytes = (const uint8_t*)&config;
    std::string out = "[Setup]\n";
    for (const ConfigField& k : setupConfigFields) {
        if (k.key && k.kind == FIELD_TEXT) {
            out += k.key + quoted((const char*)bytes + k.offset, k.width) + "\n";
        } else if (k.key && k.kind == FIELD_COLOUR) {
            uint32_t colour = readLe32(bytes + k.offset);
            char text[16];
            snprintf(text, sizeof text, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
            out += std::string(k.key) + " = " + text + "\n";
        }
    }
    out += "\n[Files]\n";
    out += "; sources are the entry names that 'mksetup extract' writes\n";
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount && at < sizeof config.fileNames; i++) {
        size_t length = strnlen(config.fileNames + at, sizeof config.fileNames - at);
        std::string name(config.fileNames + at, length);
        if (i == 0) {
            out += name + "\n";
        } else {
            char entry[32];
            snprintf(entry, sizeof entry, FILE_ENTRY_FORMAT, (int)i);
            out += name + " = " + entry + "\n";
        }
        at += length + 1;
    }
    return out;
}
