// script.cpp - parsing and checking setup scripts.
#include "script.h"
#include "decoration.h"
#include "userfiles.h"

#include <algorithm>
#include <ctype.h>
#include <stddef.h>
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

#include "app/bitmapcheck.h"
#include "app/filename.h"
#include "app/nocase.h"
#include "coding/littleendian.h"

// The longest Program Files folder a 64-bit Windows gives a 32-bit setup.
static const char* const programFilesForCheck = "C:\\Program Files (x86)";

enum { PATH_LIMIT = 255, SHORTCUT_NAME_LIMIT = 31, UNINSTALL_STRING_LIMIT = 127 };

// The layout gives the uninstaller, the program and two more files to the
// install folder; from SAMPLES_FIRST_INDEX on they go into "Samples".
enum { FILES_SECTION_LIMIT = SAMPLES_FIRST_INDEX - 1 };

static const char* const defaultUninstaller = "Uninst.exe";

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

std::string shown(const std::string& text, size_t limit)
{
    std::string out;
    size_t n = limit && text.size() > limit ? limit : text.size();
    for (size_t i = 0; i < n; i++) {
        unsigned char ch = (unsigned char)text[i];
        if (ch < 0x20 || ch == 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", ch);
            out += escaped;
        } else {
            out += (char)ch;
        }
    }
    if (n < text.size())
        out += "...";
    return out;
}

static std::string lowered(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = (char)tolower((unsigned char)c);
    return out;
}

// Edit distance with transpositions ("Nmae" is one step from "Name"), ASCII case ignored.
static size_t editDistance(const std::string& a0, const std::string& b0)
{
    std::string a = lowered(a0), b = lowered(b0);
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); i++)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); j++)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); i++)
        for (size_t j = 1; j <= b.size(); j++) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min(std::min(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates)
{
    if (word.empty() || word.size() > 64)
        return "";
    size_t best = (size_t)-1;
    std::string bestWord;
    for (const std::string& c : candidates) {
        size_t d = editDistance(word, c);
        if (d < best) {
            best = d;
            bestWord = c;
        }
    }
    // Close: a slip or two in a longer word, one in a short one.
    size_t allowed = word.size() <= 4 ? 1 : word.size() <= 8 ? 2 : 3;
    if (best == 0 || best > allowed)
        return "";
    return " (did you mean \"" + bestWord + "\"?)";
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

struct Context {
    const SetupScript* script;
    std::vector<std::string>* errors;
};

static std::string located(const Context& c, int line, const char* kind, const std::string& key,
                           const std::string& what)
{
    std::string at = c.script->scriptPath;
    if (line > 0)
        at += ":" + std::to_string(line);
    return shown(at + ": " + kind + ": " + key + ": " + what, 0);
}

// A problem at a line of the script; line 0 names no line (the key is missing).
static void fail(Context& c, int line, const std::string& key, const std::string& what)
{
    c.errors->push_back(located(c, line, "error", key, what));
}

static void warn(Context& c, int line, const std::string& key, const std::string& what)
{
    const_cast<SetupScript*>(c.script)->warnings.push_back(located(c, line, "warning", key, what));
}

// The line at which a key that is not there is reported: its section's header, or none.
static int missingAt(const SetupScript& s)
{
    return s.setupLine;
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
        return "\"" + shown(stem) + "\" is a reserved device name";
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

static bool hasControl(const std::string& text)
{
    for (char ch : text)
        if ((unsigned char)ch < 0x20 || ch == 0x7F)
            return true;
    return false;
}

static void checkSetupValues(Context& c, SetupScript& s)
{
    for (const ConfigField& k : setupConfigFields) {
        const ScriptValue& v = s.fields[fieldIndex(&k)];
        size_t fits = (size_t)k.width - 1;
        if (k.key && k.kind == FIELD_TEXT && v.text.size() > fits)
            fail(c, v.line, k.key, "\"" + shown(v.text) + "\" is " + std::to_string(v.text.size()) + " characters; at most " + std::to_string(fits) + " fit");
        else if (k.key && k.kind == FIELD_TEXT && hasControl(v.text))
            fail(c, v.line, k.key, "\"" + shown(v.text) + "\" holds a control character");
    }
    if (s.publisher.text.size() > PUBLISHER_LIMIT)
        fail(c, s.publisher.line, "Publisher", "\"" + shown(s.publisher.text) + "\" is " + std::to_string(s.publisher.text.size()) + " characters; at most 63 fit");
    else if (hasControl(s.publisher.text))
        fail(c, s.publisher.line, "Publisher", "\"" + shown(s.publisher.text) + "\" holds a control character");
    const ScriptValue& productName = field(s, "ProductName");
    const ScriptValue& shortcutFormat = field(s, "UninstallShortcutFormat");
    if (productName.text.empty())
        fail(c, productName.line ? productName.line : missingAt(s), "[Setup] ProductName",
             productName.line ? "a product name is required" : "missing; a product name is required");
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
        fail(c, background.line, "BackgroundColor", "\"" + shown(background.text) + "\" is not a colour of the form #RRGGBB");
    // Both name one folder each: the install folder and the Start Menu group's subfolder.
    for (const char* key : {"InstallFolder", "StartMenuSubfolder"}) {
        const ScriptValue& f = field(s, key);
        std::string problem = f.text.empty() ? "" : fileNameProblem(f.text);
        if (!problem.empty())
            fail(c, f.line, key, problem);
    }
    const ScriptValue& arguments = field(s, "StartupArguments");
    if (!arguments.text.empty() && arguments.text[0] == '|')
        fail(c, arguments.line, "StartupArguments", "a leading '|' is no argument; write \"StartupShortcut = no\" for no Startup shortcut");
    if (!sameNoCase(s.startupShortcut.text, "yes") && !sameNoCase(s.startupShortcut.text, "no"))
        fail(c, s.startupShortcut.line, "StartupShortcut", "\"" + shown(s.startupShortcut.text) + "\" is neither yes nor no");
    else if (sameNoCase(s.startupShortcut.text, "no") && !arguments.text.empty())
        warn(c, arguments.line, "StartupArguments", "no Startup shortcut is made (StartupShortcut = no), so its arguments are not used");

    // Values that the dialogs would show oddly.
    const ScriptValue& version = field(s, "ProductVersion");
    if (version.text.empty())
        warn(c, version.line ? version.line : missingAt(s), "[Setup] ProductVersion",
             "empty: the dialogs show the product name followed by a bare \"V\"");
    const ScriptValue& folder = field(s, "InstallFolder");
    if (folder.text.empty())
        warn(c, folder.line ? folder.line : missingAt(s), "[Setup] InstallFolder",
             "empty: the files go straight into Program Files");
    const ScriptValue& samples = field(s, "SamplesDescription");
    bool hasSamples = s.files.size() > SAMPLES_FIRST_INDEX;
    if (hasSamples && samples.text.empty())
        warn(c, samples.line ? samples.line : missingAt(s), "[Setup] SamplesDescription",
             "empty while [Samples] holds files: the finished text does not mention them");
    if (!hasSamples && !samples.text.empty())
        warn(c, samples.line, "SamplesDescription", "given, but [Samples] holds no files: the finished text mentions samples that are not there");
}

static void checkFiles(Context& c, SetupScript& s)
{
    const ScriptValue& productName = field(s, "ProductName");
    const std::string& folder = field(s, "InstallFolder").text;
    if (s.files.size() > MAX_SETUP_FILES)
        fail(c, s.files[MAX_SETUP_FILES].line, s.files[MAX_SETUP_FILES].section,
             "too many files: a setup holds at most " + std::to_string(MAX_SETUP_FILES) +
             " (31 package records: MAIN, 8 bitmaps and the files), the uninstaller included");
    size_t nameBytes = 0;
    for (size_t i = 0; i < s.files.size(); i++) {
        ScriptFile& f = s.files[i];
        std::string key = f.section + " " + shown(f.name);
        nameBytes += f.name.size() + 1;
        if (nameBytes > sizeof(((SetupConfig*)0)->fileNames) && nameBytes - f.name.size() - 1 <= sizeof(((SetupConfig*)0)->fileNames))
            fail(c, f.line, key, "the file names exceed the 512 bytes of the name list");
        std::string problem = fileNameProblem(f.name);
        if (!problem.empty()) {
            fail(c, f.line, key, problem);
            continue;
        }
        if (i == 0) {
            if (!findNoCase(f.name.c_str(), "uninst"))
                fail(c, f.line, key, "the uninstaller's name must contain \"uninst\", or it would run as an installer");
            if (!endsWithNoCase(f.name, ".exe"))
                fail(c, f.line, key, "the uninstaller's name must end in \".exe\"");
        } else {
            if (i == 1 && !endsWithNoCase(f.name, ".exe"))
                fail(c, s.program.line, "Program", "the main program \"" + shown(f.name) + "\" must be an \".exe\"");
            std::string reason;
            if (f.source.empty()) {
                fail(c, f.line, key, "no source file given (name = source path)");
            } else if (regularFileSize(f.path, reason) < 0) {
                // Asked without opening: a FIFO must not block, and the build
                // opens each source once, to compress it.
                fail(c, f.line, key, "cannot read source \"" + shown(f.source) + "\": " + reason);
            } else if (access(f.path.c_str(), R_OK) != 0) {
                fail(c, f.line, key, "cannot read source \"" + shown(f.source) + "\": " + strerror(errno));
            }
            if (endsWithNoCase(f.name, ".hlp") && formattedLength("%s Help", productName.text) > SHORTCUT_NAME_LIMIT)
                fail(c, f.line, key, "the help shortcut name \"<product> Help\" would exceed 31 characters");
        }
        bool sample = i >= SAMPLES_FIRST_INDEX;
        for (size_t j = 0; j < i; j++)
            if ((s.files[j].name.size() == f.name.size()) && (j >= SAMPLES_FIRST_INDEX) == sample && sameNoCase(s.files[j].name, f.name))
                fail(c, f.line, key, j == 0 ? std::string("the uninstaller has this name") :
                     "duplicate file name (line " + std::to_string(s.files[j].line) + ") in the same folder");
        if (!sample && s.files.size() > SAMPLES_FIRST_INDEX && sameNoCase(f.name, "Samples"))
            fail(c, f.line, key, "\"Samples\" is the folder of the files of [Samples]");
        size_t pathLength = strlen(programFilesForCheck) + (folder.empty() ? 0 : 1 + folder.size()) +
                            (sample ? 8 : 0) + 1 + f.name.size();
        if (pathLength > PATH_LIMIT)
            fail(c, f.line, key, "the installed path would be " + std::to_string(pathLength) +
                 " characters under " + programFilesForCheck + "; at most 255 fit");
        if (i == 0 && pathLength + 2 > UNINSTALL_STRING_LIMIT)
            fail(c, f.line, key, "the uninstaller's path would not fit the 127 characters of the uninstall command");
    }
}

static void checkDecoration(Context& c, SetupScript& s)
{
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
            if (!readRegularFile(joinPath(s.folder, d.text), image, error)) {
                fail(c, d.line, key, "cannot read \"" + shown(d.text) + "\": " + error);
                continue;
            }
            std::string problem = checkBitmap(image);
            if (!problem.empty()) {
                fail(c, d.line, key, "\"" + shown(d.text) + "\": " + problem);
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

static std::vector<std::string> setupKeys()
{
    std::vector<std::string> keys;
    for (const ConfigField& k : setupConfigFields)
        if (k.key)
            keys.push_back(k.key);
    for (const char* k : {"Uninstaller", "Program", "StartupShortcut", "Publisher", "Stub", "Output"})
        keys.push_back(k);
    return keys;
}

static ScriptValue* setupValue(SetupScript& s, const std::string& key)
{
    const ConfigField* configField = findConfigField(key.c_str());
    if (configField && configField->key)
        return &s.fields[fieldIndex(configField)];
    struct { const char* key; ScriptValue* value; } own[] = {
        {"Uninstaller", &s.uninstaller}, {"Program", &s.program}, {"StartupShortcut", &s.startupShortcut},
        {"Publisher", &s.publisher},     {"Stub", &s.stub},       {"Output", &s.output},
    };
    for (const auto& o : own)
        if (sameNoCase(key, o.key))
            return o.value;
    return nullptr;
}

// Puts the named files into the layout: the uninstaller, the program, the
// other [Files] entries, then the samples from SAMPLES_FIRST_INDEX on.
static void arrangeFiles(Context& c, SetupScript& s, std::vector<ScriptFile>& files, int filesLine,
                         std::vector<ScriptFile>& samples, int samplesLine)
{
    const ScriptValue& uninstaller = s.uninstaller;
    s.files.push_back({uninstaller.text, "", "", "[Setup] Uninstaller", uninstaller.line ? uninstaller.line : s.setupLine});
    std::vector<std::string> names;
    for (const ScriptFile& f : files)
        names.push_back(f.name);
    size_t program = files.size();
    for (size_t i = 0; i < files.size() && program == files.size(); i++)
        if (sameNoCase(files[i].name, s.program.text))
            program = i;
    if (s.program.text.empty())
        fail(c, s.program.line ? s.program.line : missingAt(s), "[Setup] Program",
             std::string(s.program.line ? "empty" : "missing") + "; name the main program, one of the files of [Files]");
    else if (program == files.size())
        fail(c, s.program.line, "Program", "\"" + shown(s.program.text) + "\" is not a file of [Files]" + didYouMean(s.program.text, names));
    if (program < files.size())
        s.files.push_back(files[program]);
    for (size_t i = 0; i < files.size(); i++)
        if (i != program)
            s.files.push_back(files[i]);
    // The installer puts every file from SAMPLES_FIRST_INDEX on into Samples.
    if (files.size() > FILES_SECTION_LIMIT)
        fail(c, files[FILES_SECTION_LIMIT].line, "[Files] " + shown(files[FILES_SECTION_LIMIT].name),
             "[Files] holds at most three files, the program included; the setup installs every further file into the Samples folder: list it under [Samples]");
    else if (!samples.empty() && files.size() < FILES_SECTION_LIMIT)
        fail(c, samplesLine, "[Samples]",
             "samples need exactly three files in [Files] (the program and two more), since the setup installs files from the fifth on (the uninstaller first) into the Samples folder; [Files] holds " +
             std::to_string(files.size()));
    (void)filesLine;
    s.files.insert(s.files.end(), samples.begin(), samples.end());
}

bool loadScriptText(const std::string& text, const std::string& path, SetupScript& s, std::vector<std::string>& errors)
{
    s = SetupScript();
    s.scriptPath = path;
    size_t slash = path.find_last_of("/\\");
    s.folder = slash == std::string::npos ? "" : path.substr(0, slash);
    for (const ConfigField& k : setupConfigFields)
        if (k.key)
            s.fields[fieldIndex(&k)] = {k.defaultText, 0};
    s.uninstaller = {defaultUninstaller, 0};
    s.startupShortcut = {"yes", 0};
    Context c = {&s, &errors};

    enum { NONE, SETUP, FILES, SAMPLES, DECORATION, SKIPPED } section = NONE;
    static const char* const sectionNames[] = {"Setup", "Files", "Samples", "Decoration"};
    std::vector<ScriptFile> files, samples;
    int filesLine = 0, samplesLine = 0;
    std::vector<std::string> bitmapNames(decorativeBitmapNames, decorativeBitmapNames + DECORATION_COUNT);
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
            int found = -1;
            for (int i = 0; i < 4; i++)
                if (sameNoCase(name, sectionNames[i]))
                    found = i;
            section = found < 0 ? SKIPPED : (decltype(section))(SETUP + found);
            if (section == SETUP && !s.setupLine)
                s.setupLine = lineNumber;
            if (section == FILES && !filesLine)
                filesLine = lineNumber;
            if (section == SAMPLES && !samplesLine)
                samplesLine = lineNumber;
            if (found < 0)   // one error; the section's lines are not reported again
                fail(c, lineNumber, shown(line), "unknown section (expected [Setup], [Files], [Samples] or [Decoration])" +
                     didYouMean(name, std::vector<std::string>(sectionNames, sectionNames + 4)));
            continue;
        }
        size_t equals = line.find('=');
        std::string key = trim(line.substr(0, equals));
        std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);   // quotes keep leading or trailing spaces
        if (section == SKIPPED)
            continue;
        if (section == NONE) {
            fail(c, lineNumber, shown(key), "outside any section");
        } else if (section == SETUP) {
            ScriptValue* found = setupValue(s, key);
            if (!found)
                fail(c, lineNumber, shown(key), "unknown key in [Setup]" + didYouMean(key, setupKeys()));
            else if (equals == std::string::npos)
                fail(c, lineNumber, shown(key), "missing '=' and value");
            else if (found->line)
                fail(c, lineNumber, shown(key), "given twice (first on line " + std::to_string(found->line) + ")");
            else
                *found = {value, lineNumber};
        } else if (section == FILES || section == SAMPLES) {
            ScriptFile f = {key, value, joinPath(s.folder, value), section == FILES ? "[Files]" : "[Samples]", lineNumber};
            (section == FILES ? files : samples).push_back(f);
        } else {
            int index = -1;
            for (int i = 0; i < DECORATION_COUNT; i++)
                if (sameNoCase(key, decorativeBitmapNames[i]))
                    index = i;
            if (index < 0)
                fail(c, lineNumber, shown(key), "not a decorative bitmap (BLUE, DIMENSION, LOGO, TAMBERLYN, TOPSHADOW, ORANGE, BLUEWHITE, WHITEBLUE)" +
                     didYouMean(key, bitmapNames));
            else if (seen[index])
                fail(c, lineNumber, shown(key), "given twice");
            else if (value.empty())
                fail(c, lineNumber, shown(key), "missing bitmap path");
            else {
                seen[index] = true;
                s.decoration[index] = {value, lineNumber};
            }
        }
    }
    arrangeFiles(c, s, files, filesLine, samples, samplesLine);
    checkSetupValues(c, s);
    checkFiles(c, s);
    checkDecoration(c, s);
    return errors.empty();
}

bool loadScript(const std::string& path, SetupScript& s, std::vector<std::string>& errors)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readRegularFile(path, bytes, error)) {
        s = SetupScript();
        s.scriptPath = path;
        errors.push_back(shown(path + ": error: cannot read the script: " + error, 0));
        return false;
    }
    return loadScriptText(std::string(bytes.begin(), bytes.end()), path, s, errors);
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
    // The setup program reads a leading '|' as "no Startup shortcut".
    if (sameNoCase(s.startupShortcut.text, "no")) {
        memset(config.startupArguments, 0, sizeof config.startupArguments);
        config.startupArguments[0] = '|';
    }
    config.fileCount = (int32_t)s.files.size();
    config.backColorBottom = config.backColorTop;   // one colour: the background has no gradient
}

// " = value", quoted when spaces at either end would otherwise be lost.
static std::string quoted(const std::string& text)
{
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
    std::vector<std::string> names;
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount && at < sizeof config.fileNames; i++) {
        size_t length = strnlen(config.fileNames + at, sizeof config.fileNames - at);
        names.push_back(std::string(config.fileNames + at, length));
        at += length + 1;
    }
    std::string out = "; Rebuilds this setup from what 'mksetup extract' writes into this folder.\n[Setup]\n";
    for (const ConfigField& k : setupConfigFields) {
        std::string text((const char*)bytes + k.offset, k.key ? strnlen((const char*)bytes + k.offset, k.width) : 0);
        if (k.key && k.kind == FIELD_TEXT && k.offset == offsetof(SetupConfig, startupArguments) && !text.empty() && text[0] == '|') {
            out += "StartupShortcut = no\n";
        } else if (k.key && k.kind == FIELD_TEXT) {
            out += k.key + quoted(text) + "\n";
        } else if (k.key && k.kind == FIELD_COLOUR) {
            uint32_t colour = readLe32(bytes + k.offset);
            char rgb[16];
            snprintf(rgb, sizeof rgb, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
            out += std::string(k.key) + " = " + rgb + "\n";
        }
    }
    if (!names.empty())
        out += "Uninstaller" + quoted(names[0]) + "\n";
    if (names.size() > 1)
        out += "Program" + quoted(names[1]) + "\n";
    out += "Stub = " MAIN_ENTRY_NAME "\n";
    for (size_t i = 1; i < names.size(); i++) {
        if (i == 1)
            out += "\n[Files]\n";
        if (i == SAMPLES_FIRST_INDEX)
            out += "\n[Samples]\n";
        char entry[32];
        snprintf(entry, sizeof entry, FILE_ENTRY_FORMAT, (int)i);
        out += names[i] + " = " + entry + "\n";
    }
    out += "\n[Decoration]\n";
    for (int i = 0; i < DECORATION_COUNT; i++)
        out += std::string(decorativeBitmapNames[i]) + " = " + decorativeBitmapNames[i] + "\n";
    return out;
}
