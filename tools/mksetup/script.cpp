// script.cpp - parsing and checking setup scripts.
#include "script.h"
#include "codepage.h"
#include "decoration.h"
#include "userfiles.h"

#include <algorithm>
#include <ctype.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/bitmapcheck.h"
#include "app/configcheck.h"
#include "app/filename.h"
#include "app/nocase.h"
#include "coding/littleendian.h"

// The longest Program Files folder a 64-bit Windows gives a 32-bit setup.
static const char* const programFilesForCheck = "C:\\Program Files (x86)";

enum { PATH_LIMIT = 255, SHORTCUT_NAME_LIMIT = 31, UNINSTALL_STRING_LIMIT = 127 };

// Errors after which the reading of a script stops: more would only repeat.
enum { ERROR_LIMIT = 20 };

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
    size_t n = limit ? firstCharacters(text, limit).size() : text.size();
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

// The candidate closest to word, or "" when none is close.
static std::string closestWord(const std::string& word, const std::vector<std::string>& candidates)
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
    return bestWord;
}

std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string closest = closestWord(word, candidates);
    return closest.empty() ? "" : " (did you mean \"" + closest + "\"?)";
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

std::string column(const std::string& text, size_t width)
{
    std::string cut = shown(text, width);
    if (characterCount(cut) > width)   // "..." made it longer
        cut = shown(text, width > 3 ? width - 3 : 0);
    size_t count = characterCount(cut);
    return cut + std::string(count < width ? width - count : 0, ' ');
}

std::string joinPath(const std::string& folder, const std::string& name0)
{
    std::string name = name0;
#ifndef _WIN32
    for (char& ch : name)
        if (ch == '\\')
            ch = '/';
#endif
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':') || folder.empty())
        return name;
    return folder + "/" + name;
}

bool isPathInsideFolder(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos)
        return false;   // absolute, a drive, or a stream
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = path.size();
        // Windows drops a part's trailing dots and spaces: "... " is "..".
        std::string part = path.substr(start, end - start);
        if (part.find_first_not_of(". ") == std::string::npos && std::count(part.begin(), part.end(), '.') >= 2)
            return false;
        start = end + 1;
    }
    return true;
}


// A warning waits in pending until the script is read: a key with an error
// gets no warning on top of it (a misspelt key's error stands for the key it
// was meant to be).
struct Context {
    const SetupScript* script;
    std::vector<std::string>* errors;
    std::vector<std::string> erred;                               // subjects with an error
    std::vector<std::pair<std::string, std::string>> pending;     // subject, warning line
};

// The key a message is about, whichever way it is named: "[Setup] ProductName",
// "productname" and "ProductName" are one.
static std::string subjectOf(const std::string& key)
{
    std::string subject = key.compare(0, 8, "[Setup] ") == 0 ? key.substr(8) : key;
    for (char& ch : subject)
        ch = (char)tolower((unsigned char)ch);
    return subject;
}

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
    c.erred.push_back(subjectOf(key));
}

static void warn(Context& c, int line, const std::string& key, const std::string& what)
{
    c.pending.push_back({subjectOf(key), located(c, line, "warning", key, what)});
}

// The warnings about keys without an error, into the script.
static void keepWarnings(Context& c, SetupScript& s)
{
    for (const auto& w : c.pending)
        if (std::find(c.erred.begin(), c.erred.end(), w.first) == c.erred.end())
            s.warnings.push_back(w.second);
}

// The line at which a key that is not there is reported: its section's header, or none.
static int missingAt(const SetupScript& s)
{
    return s.setupLine;
}

// A name Windows can create as a plain file in one folder, or the reason why
// not; stored is the name in the setup's code page.
static std::string fileNameProblem(const std::string& name, const std::string& stored, uint32_t codePage)
{
    // Names embedded in the configuration are NUL-terminated there.
    if (name.find('\0') != std::string::npos)
        return "reserved character '\\x0' in file name";
    size_t at = 0;
    int problem = ::fileNameProblem(stored.c_str(), 0, &at, codePage);
    if (problem == NAME_RESERVED_CHARACTER) {
        unsigned char ch = (unsigned char)stored[at];   // an ASCII character
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", ch);
        return std::string("reserved character '") + (ch < 32 || ch == 0x7F ? std::string(hex) : std::string(1, (char)ch)) + "' in file name";
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

// C0 and C1 controls and DEL (text is UTF-8).
static bool hasControl(const std::string& text)
{
    uint32_t c = 0;
    for (size_t at = 0; at < text.size(); at++)
        if (decodeUtf8(text, at, &c) && (c < 0x20 || (c >= 0x7F && c < 0xA0)))
            return true;
    return false;
}

// "N characters", or "N bytes in code page P" where the two differ.
static std::string sizeText(const std::string& text, const std::string& stored, uint32_t codePage)
{
    if (characterCount(text) == stored.size())
        return std::to_string(stored.size()) + " characters";
    return std::to_string(stored.size()) + " bytes in code page " + std::to_string(codePage);
}

// The text in the setup's code page; an error at its line when a character has no place there.
static bool encode(Context& c, const std::string& text, int line, const std::string& key, std::string& stored)
{
    uint32_t refused = 0;
    if (toCodePage(text, c.script->codePage, stored, &refused))
        return true;
    char point[16];
    snprintf(point, sizeof point, "U+%04X", (unsigned)refused);
    fail(c, line, key, "\"" + shown(text) + "\": the character '" + encodeUtf8(refused) + "' (" + point +
         ") has no place in code page " + std::to_string(c.script->codePage) + " (CodePage)");
    return false;
}

// CodePage, then every keyed text and file name in it.
static void encodeTexts(Context& c, SetupScript& s)
{
    const ScriptValue& page = field(s, "CodePage");
    char* end = nullptr;
    unsigned long number = strtoul(page.text.c_str(), &end, 10);
    bool digits = !page.text.empty() && *end == 0 && isdigit((unsigned char)page.text[0]);
    s.codePage = digits && isSupportedCodePage((uint32_t)number) ? (uint32_t)number : (uint32_t)DEFAULT_CODE_PAGE;
    if (!digits || !isSupportedCodePage((uint32_t)number))
        fail(c, page.line, "CodePage", "\"" + shown(page.text) + "\" is not a code page a setup can use (" +
             supportedCodePagesText() + ")");
    for (const ConfigField& k : setupConfigFields) {
        ScriptValue& v = s.fields[fieldIndex(&k)];
        if (k.key && k.kind == FIELD_TEXT && !encode(c, v.text, v.line, k.key, v.stored))
            v.stored.clear();   // refused: no length error on top
    }
    for (ScriptFile& f : s.files)
        if (!encode(c, f.name, f.line, f.section + " " + shown(f.name), f.stored))
            f.stored.clear();   // refused: no more errors for this name
}

static void checkSetupValues(Context& c, SetupScript& s)
{
    for (const ConfigField& k : setupConfigFields) {
        const ScriptValue& v = s.fields[fieldIndex(&k)];
        size_t fits = (size_t)k.width - 1;
        if (k.key && k.kind == FIELD_TEXT && v.stored.size() > fits)
            fail(c, v.line, k.key, "\"" + shown(v.text) + "\" is " + sizeText(v.text, v.stored, s.codePage) + "; at most " + std::to_string(fits) + " fit");
        else if (k.key && k.kind == FIELD_TEXT && hasControl(v.text))
            fail(c, v.line, k.key, "\"" + shown(v.text) + "\" holds a control character");
    }
    // The version resource holds UTF-16.
    size_t publisherUnits = utf16Of(s.publisher.text).size();
    if (publisherUnits > PUBLISHER_LIMIT)
        fail(c, s.publisher.line, "Publisher", "\"" + shown(s.publisher.text) + "\" is " + std::to_string(publisherUnits) + " characters; at most 63 fit");
    else if (hasControl(s.publisher.text))
        fail(c, s.publisher.line, "Publisher", "\"" + shown(s.publisher.text) + "\" holds a control character");
    const ScriptValue& productName = field(s, "ProductName");
    if (productName.text.empty())
        fail(c, productName.line ? productName.line : missingAt(s), "[Setup] ProductName",
             productName.line ? "a product name is required" : "missing; a product name is required");
    else if (!productName.stored.empty() && !isProductKeyName(productName.stored.c_str(), s.codePage))
        fail(c, productName.line, "ProductName", "\"" + shown(productName.text) +
             "\" holds \"\\\" or \"/\"; it names the uninstall entry's registry key, which must be one key");
    const ScriptValue& windowClass = field(s, "RunningWindowClass");
    if (isSystemWindowClass(windowClass.stored.c_str()))
        fail(c, windowClass.line, "RunningWindowClass", "\"" + shown(windowClass.text) +
             "\" is a window class of the system or of the setup itself; the setup would close those windows "
             "(its own dialogs among them), not the product's");
    if (!s.output.text.empty() && !isPathInsideFolder(s.output.text))
        fail(c, s.output.line, "Output", "\"" + shown(s.output.text) +
             "\": a script writes its setup inside its own folder (no absolute path, no \"..\"); name any other place with -o");
    for (const char* key : {"UninstallShortcutFormat", "InstallingLabelFormat"}) {
        const ScriptValue& f = field(s, key);
        std::string problem = formatProblem(f.text);
        if (!problem.empty())
            fail(c, f.line, key, problem);
    }
    uint32_t colour = 0;
    const ScriptValue& background = field(s, "BackgroundColor");
    if (!background.text.empty() && !parseColour(background.text, colour))
        fail(c, background.line, "BackgroundColor", "\"" + shown(background.text) + "\" is not a colour of the form #RRGGBB");
    // Both name one folder each: the install folder and the Start Menu group's subfolder.
    for (const char* key : {"InstallFolder", "StartMenuSubfolder"}) {
        const ScriptValue& f = field(s, key);
        std::string problem = f.stored.empty() ? "" : fileNameProblem(f.text, f.stored, s.codePage);
        if (!problem.empty())
            fail(c, f.line, key, problem);
    }
    const ScriptValue& arguments = field(s, "StartupArguments");
    if (!arguments.text.empty() && arguments.text[0] == '|')
        fail(c, arguments.line, "StartupArguments", "a leading '|' is no argument; write \"StartupShortcut = no\" for no Startup shortcut");
    if (!sameNoCase(s.startupShortcut.text, "yes") && !sameNoCase(s.startupShortcut.text, "no"))
        fail(c, s.startupShortcut.line, "StartupShortcut", "\"" + shown(s.startupShortcut.text) + "\" is neither yes nor no");
    else if (sameNoCase(s.startupShortcut.text, "no") && !arguments.text.empty())
        warn(c, arguments.line, "StartupArguments", std::string("no Startup shortcut is made (") +
             (s.startupShortcut.line ? "StartupShortcut = no" : "StartupShortcut is no unless the script says yes") +
             "), so its arguments are not used");
}

// Values that the dialogs would show oddly.
static void warnOfOddTexts(Context& c, SetupScript& s)
{
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

// The installed path fits, in bytes of the code page, under the longest
// Program Files folder; reported at InstallFolder when the name alone fits.
static void checkInstalledPath(Context& c, SetupScript& s, const ScriptFile& f, size_t i, const std::string& key)
{
    const ScriptValue& folder = field(s, "InstallFolder");
    bool sample = i >= SAMPLES_FIRST_INDEX;
    size_t withoutFolder = strlen(programFilesForCheck) + (sample ? 8 : 0) + 1 + f.stored.size();
    size_t pathLength = withoutFolder + (folder.stored.empty() ? 0 : 1 + folder.stored.size());
    bool bytesDiffer = characterCount(folder.text) != folder.stored.size() || characterCount(f.name) != f.stored.size();
    bool folderToBlame = folder.line && !folder.stored.empty();
    int line = folderToBlame && withoutFolder <= PATH_LIMIT ? folder.line : f.line;
    std::string where = line == f.line ? key : "InstallFolder";
    std::string of = line == f.line ? "" : " (" + key + ")";
    if (pathLength > PATH_LIMIT)
        fail(c, line, where, "the installed path would be " + std::to_string(pathLength) +
             (bytesDiffer ? " bytes in code page " + std::to_string(s.codePage) : std::string(" characters")) +
             " under " + programFilesForCheck + "; at most 255 fit" + of);
    line = folderToBlame && withoutFolder + 2 <= UNINSTALL_STRING_LIMIT ? folder.line : f.line;
    if (i == 0 && pathLength + 2 > UNINSTALL_STRING_LIMIT)
        fail(c, line, line == f.line ? key : "InstallFolder",
             "the uninstaller's path would not fit the 127 characters of the uninstall command" +
             std::string(line == f.line ? "" : " (" + key + ")"));
}

static void checkFiles(Context& c, SetupScript& s)
{
    if (s.files.size() > MAX_SETUP_FILES)
        fail(c, s.files[MAX_SETUP_FILES].line, s.files[MAX_SETUP_FILES].section,
             "too many files: a setup holds at most " + std::to_string(MAX_SETUP_FILES) +
             " (31 package records: MAIN, 8 bitmaps and the files), the uninstaller included");
    size_t nameBytes = 0;
    for (size_t i = 0; i < s.files.size(); i++) {
        ScriptFile& f = s.files[i];
        std::string key = f.section + " " + shown(f.name);
        nameBytes += f.stored.size() + 1;
        if (nameBytes > sizeof(((SetupConfig*)0)->fileNames) && nameBytes - f.stored.size() - 1 <= sizeof(((SetupConfig*)0)->fileNames))
            fail(c, f.line, key, "the file names exceed the 512 bytes of the name list");
        std::string problem = fileNameProblem(f.name, f.stored, s.codePage);
        if (f.stored.empty() && !f.name.empty())
            continue;   // a character was refused
        if (!problem.empty()) {
            fail(c, f.line, key, problem);
            continue;
        }
        if (i == 0) {
            if (!findNoCase(f.name.c_str(), "uninst"))
                fail(c, f.line, key, "the uninstaller's name must contain \"uninst\", or it would run as an installer");
            if (!endsWithNoCase(f.name.c_str(), ".exe"))
                fail(c, f.line, key, "the uninstaller's name must end in \".exe\"");
        } else {
            if (i == 1 && !endsWithNoCase(f.name.c_str(), ".exe"))
                fail(c, s.program.line, "Program", "the main program \"" + shown(f.name) + "\" must be an \".exe\"");
            std::string reason;
            if (f.source.empty()) {
                fail(c, f.line, key, "no source file given (name = source path)");
            } else if (regularFileSize(f.path, reason) < 0) {
                // Asked without opening: a FIFO must not block, and the build
                // opens each source once, to compress it.
                fail(c, f.line, key, "cannot read source \"" + shown(f.source) + "\": " + reason);
            } else if (!isReadable(f.path, reason)) {
                fail(c, f.line, key, "cannot read source \"" + shown(f.source) + "\": " + reason);
            }
        }
        bool sample = i >= SAMPLES_FIRST_INDEX;
        for (size_t j = 0; j < i; j++)
            if ((s.files[j].name.size() == f.name.size()) && (j >= SAMPLES_FIRST_INDEX) == sample && sameNoCase(s.files[j].name, f.name))
                fail(c, f.line, key, j == 0 ? std::string("the uninstaller has this name") :
                     "duplicate file name (line " + std::to_string(s.files[j].line) + ") in the same folder");
        if (!sample && s.files.size() > SAMPLES_FIRST_INDEX && sameNoCase(f.name, "Samples"))
            fail(c, f.line, key, "\"Samples\" is the folder of the files of [Samples]");
        checkInstalledPath(c, s, f, i, key);
    }
}

// The text a format of one %s gives with the argument ("%%" is "%").
static std::string formatted(const std::string& format, const std::string& argument)
{
    std::string out;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] == '%' && i + 1 < format.size()) {
            out += format[i + 1] == 's' ? argument : format.substr(i + 1, 1);
            i++;
        } else {
            out += format[i];
        }
    }
    return out;
}

// Every Start Menu shortcut name the files get (shortcutNameFormat) fits, in
// bytes of the code page. A name made of two keys is reported at the key
// that made it too long: the format when the product name fits the default
// one, else the product name.
static void checkShortcutNames(Context& c, const SetupScript& s)
{
    const ScriptValue& product = scriptField(s, "ProductName");
    const ScriptValue& uninstallFormat = scriptField(s, "UninstallShortcutFormat");
    if (!formatProblem(uninstallFormat.text).empty() || product.stored.size() > SHORTCUT_NAME_LIMIT ||
        uninstallFormat.stored.size() >= sizeof(((SetupConfig*)0)->uninstallShortcutFormat))
        return;   // said already
    const char* defaultFormat = findConfigField("UninstallShortcutFormat")->defaultText;
    for (size_t i = 1; i < s.files.size(); i++)
        if (shortcutClashesWithUninstaller(s.files[i].name.c_str(), (int)i, uninstallFormat.text.c_str())) {
            fail(c, uninstallFormat.line, "UninstallShortcutFormat", "\"" + shown(uninstallFormat.text) +
                 "\" gives the uninstaller's shortcut the name of the shortcut of " + s.files[i].section + " " +
                 shown(s.files[i].name) + "; one would replace the other");
            return;
        }
    for (size_t i = 0; i < s.files.size(); i++) {
        const ScriptFile& f = s.files[i];
        bool uninstaller = i == 0;
        const char* format = shortcutNameFormat(f.name.c_str(), (int)i, uninstallFormat.text.c_str());
        if (!format)
            continue;
        std::string storedFormat = uninstaller ? uninstallFormat.stored : format;
        std::string name = formatted(uninstaller ? uninstallFormat.text : format, product.text);
        std::string stored = formatted(storedFormat, product.stored);
        if (stored.size() <= SHORTCUT_NAME_LIMIT)
            continue;
        std::string what = std::string(uninstaller ? "the uninstaller's" : "the Start Menu") + " shortcut name \"" +
                           shown(name) + "\" would be " + sizeText(name, stored, s.codePage) + "; at most 31 fit";
        if (!uninstaller)
            what += " (" + f.section + " " + shown(f.name) + ", line " + std::to_string(f.line) + ")";
        bool formatToBlame = uninstaller && uninstallFormat.line &&
                             formatted(defaultFormat, product.stored).size() <= SHORTCUT_NAME_LIMIT;
        if (formatToBlame)
            fail(c, uninstallFormat.line, "UninstallShortcutFormat", what);
        else
            fail(c, product.line ? product.line : missingAt(s), "ProductName", what);
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
static void arrangeFiles(Context& c, SetupScript& s, std::vector<ScriptFile>& files, std::vector<ScriptFile>& samples,
                         int samplesLine)
{
    const ScriptValue& uninstaller = s.uninstaller;
    s.files.push_back({uninstaller.text, "", "", "", "[Setup] Uninstaller", uninstaller.line ? uninstaller.line : s.setupLine});
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
    s.files.insert(s.files.end(), samples.begin(), samples.end());
}

static std::string joined(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : ", ") + w;
    return out;
}

enum Section { SECTION_NONE, SECTION_SETUP, SECTION_FILES, SECTION_SAMPLES, SECTION_DECORATION, SECTION_SKIPPED };
static const char* const sectionNames[] = {"Setup", "Files", "Samples", "Decoration"};
enum { SECTION_NAMES = sizeof sectionNames / sizeof sectionNames[0] };

// Where the reading of the script's lines stands.
struct Reading {
    Section section;
    std::vector<ScriptFile> files, samples;
    int samplesLine;
    bool seen[DECORATION_COUNT];
};

// A "[Name]" line.
static void startSection(Context& c, SetupScript& s, Reading& r, const std::string& line, int lineNumber)
{
    std::string name = line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : "";
    int found = -1;
    for (int i = 0; i < SECTION_NAMES; i++)
        if (sameNoCase(name, sectionNames[i]))
            found = i;
    r.section = found < 0 ? SECTION_SKIPPED : (Section)(SECTION_SETUP + found);
    if (r.section == SECTION_SETUP && !s.setupLine)
        s.setupLine = lineNumber;
    if (r.section == SECTION_SAMPLES && !r.samplesLine)
        r.samplesLine = lineNumber;
    if (found < 0)   // one error; the section's lines are not reported again
        fail(c, lineNumber, shown(line), "unknown section (expected [Setup], [Files], [Samples] or [Decoration])" +
             didYouMean(name, std::vector<std::string>(sectionNames, sectionNames + SECTION_NAMES)));
}

static void readSetupKey(Context& c, SetupScript& s, const std::string& key, bool hasValue, const std::string& value,
                         int lineNumber)
{
    ScriptValue* found = setupValue(s, key);
    if (!found) {
        fail(c, lineNumber, shown(key), "unknown key in [Setup]" + didYouMean(key, setupKeys()));
        std::string meant = closestWord(key, setupKeys());
        if (!meant.empty())
            c.erred.push_back(subjectOf(meant));
    }
    else if (!hasValue)
        fail(c, lineNumber, shown(key), "missing '=' and value");
    else if (found->line)
        fail(c, lineNumber, shown(key), "given twice (first on line " + std::to_string(found->line) + ")");
    else
        *found = {value, lineNumber, ""};
}

static void readDecorationKey(Context& c, SetupScript& s, Reading& r, const std::string& key, const std::string& value,
                              int lineNumber)
{
    std::vector<std::string> bitmapNames(decorativeBitmapNames, decorativeBitmapNames + DECORATION_COUNT);
    int index = -1;
    for (int i = 0; i < DECORATION_COUNT; i++)
        if (sameNoCase(key, decorativeBitmapNames[i]))
            index = i;
    if (index < 0)
        fail(c, lineNumber, shown(key), "not a decorative bitmap (" + joined(bitmapNames) + ")" +
             didYouMean(key, bitmapNames));
    else if (r.seen[index])
        fail(c, lineNumber, shown(key), "given twice");
    else if (value.empty())
        fail(c, lineNumber, shown(key), "missing bitmap path");
    else {
        r.seen[index] = true;
        s.decoration[index] = {value, lineNumber, ""};
    }
}

// One line of the script, trimmed.
static void readLine(Context& c, SetupScript& s, Reading& r, const std::string& line, int lineNumber)
{
    if (line.empty() || line[0] == ';' || line[0] == '#')
        return;
    if (line[0] == '[') {
        startSection(c, s, r, line, lineNumber);
        return;
    }
    size_t equals = line.find('=');
    std::string key = trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);   // quotes keep leading or trailing spaces
    if (r.section == SECTION_NONE) {
        fail(c, lineNumber, shown(key), "outside any section");
    } else if (r.section == SECTION_SETUP) {
        readSetupKey(c, s, key, equals != std::string::npos, value, lineNumber);
    } else if (r.section == SECTION_FILES || r.section == SECTION_SAMPLES) {
        bool inFiles = r.section == SECTION_FILES;
        ScriptFile f = {key, "", value, joinPath(s.folder, value), inFiles ? "[Files]" : "[Samples]", lineNumber};
        (inFiles ? r.files : r.samples).push_back(f);
    } else if (r.section == SECTION_DECORATION) {
        readDecorationKey(c, s, r, key, value, lineNumber);
    }
}

// The script's defaults before its lines are read.
static void startScript(SetupScript& s, const std::string& path)
{
    s = SetupScript();
    s.scriptPath = path;
    size_t slash = path.find_last_of("/\\");
    s.folder = slash == std::string::npos ? "" : path.substr(0, slash);
    for (const ConfigField& k : setupConfigFields)
        if (k.key)
            s.fields[fieldIndex(&k)] = {k.defaultText, 0, ""};
    s.uninstaller = {defaultUninstaller, 0, ""};
    s.startupShortcut = {"no", 0, ""};   // a product starts at logon only when its vendor says so
    s.codePage = DEFAULT_CODE_PAGE;
}

// The script's bytes as UTF-8 text: a UTF-8 byte-order mark dropped, UTF-16
// with one converted. False after an error for each line that is no UTF-8.
static bool scriptTextOf(Context& c, const std::string& bytes, std::string& text)
{
    bool little = bytes.compare(0, 2, "\xFF\xFE") == 0, big = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (little || big) {
        std::u16string units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned char a = (unsigned char)bytes[i], b = (unsigned char)bytes[i + 1];
            units += (char16_t)(little ? a | b << 8 : a << 8 | b);
        }
        if (bytes.size() % 2 != 0 || !utf8OfUtf16(units, text)) {
            fail(c, 0, little ? "UTF-16 (little-endian)" : "UTF-16 (big-endian)",
                 "the script's byte-order mark says UTF-16, but its text is not; save it as UTF-8");
            return false;
        }
    } else {
        text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    }
    size_t start = 0;
    for (int line = 1; start < text.size() && c.errors->size() < ERROR_LIMIT; line++) {
        size_t end = text.find('\n', start);
        std::string one = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t bad = invalidUtf8At(one);
        if (one.find('\0') != std::string::npos)
            fail(c, line, "encoding", "a NUL byte: a script is UTF-8 (UTF-16 needs its byte-order mark)");
        else if (bad != std::string::npos) {
            char byte[8];
            snprintf(byte, sizeof byte, "0x%02X", (unsigned char)one[bad]);
            fail(c, line, "encoding", std::string("not UTF-8: byte ") + byte + " at byte " + std::to_string(bad + 1) +
                 " of the line; save the script as UTF-8");
        }
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return c.errors->empty();
}

bool loadScriptText(const std::string& bytes, const std::string& path, SetupScript& s, std::vector<std::string>& errors)
{
    startScript(s, path);
    Context c = {&s, &errors, {}, {}};
    std::string text;
    if (!scriptTextOf(c, bytes, text))
        return false;
    Reading r = {};
    size_t at = 0;
    int lineNumber = 0;
    // Reading stops at the first limit passed: one file more than a setup
    // holds (reported by checkFiles), or ERROR_LIMIT errors. So no check
    // ever sees more than a setup's worth of files, and the time taken grows
    // with the script's size only.
    while (at < text.size() && r.files.size() + r.samples.size() < MAX_SETUP_FILES) {
        if (errors.size() >= ERROR_LIMIT) {
            fail(c, lineNumber, "script", "stopped reading after " + std::to_string(ERROR_LIMIT) + " errors");
            return false;
        }
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        readLine(c, s, r, trim(text.substr(at, end - at)), ++lineNumber);
        at = end + 1;
    }
    arrangeFiles(c, s, r.files, r.samples, r.samplesLine);
    encodeTexts(c, s);
    checkSetupValues(c, s);
    warnOfOddTexts(c, s);
    checkFiles(c, s);
    checkShortcutNames(c, s);
    checkDecoration(c, s);
    keepWarnings(c, s);
    return errors.empty();
}

bool loadScript(const std::string& path, SetupScript& s, std::vector<std::string>& errors)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readRegularFile(path, bytes, error, SCRIPT_LIMIT)) {
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
        if (at + f.stored.size() + 1 > sizeof config.fileNames)
            break;   // refused by the checks before
        memcpy(config.fileNames + at, f.stored.c_str(), f.stored.size() + 1);
        at += f.stored.size() + 1;
    }
    uint8_t* bytes = (uint8_t*)&config;
    for (const ConfigField& k : setupConfigFields) {
        const ScriptValue& v = s.fields[fieldIndex(&k)];
        if (k.key && k.kind == FIELD_TEXT) {
            memcpy(bytes + k.offset, v.stored.data(), v.stored.size() < k.width ? v.stored.size() : (size_t)k.width - 1);
        } else if (k.key && k.kind == FIELD_COLOUR) {
            uint32_t colour = 0;
            parseColour(v.text, colour);
            writeLe32(bytes + k.offset, colour);
        }
    }
    config.codePage = s.codePage;
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

static std::string textOf(const char* bytes, size_t length, uint32_t codePage)
{
    return storedTextOf(std::string(bytes, length), codePage);
}

// A name a script line can carry as its key: the line is trimmed, split at
// its first '=', and read as a section, or skipped as a comment, by its first
// character.
static bool isScriptKey(const std::string& name)
{
    return !name.empty() && name.find('=') == std::string::npos && !isspace((unsigned char)name[0]) &&
           name[0] != '[' && name[0] != ';' && name[0] != '#';
}

std::string rebuildProblem(const SetupConfig& config)
{
    if (config.fileCount < 2 || config.fileCount > MAX_SETUP_FILES)
        return "configuration: file count " + std::to_string(config.fileCount) + " is out of range";
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount; i++) {
        size_t length = at < sizeof config.fileNames ? strnlen(config.fileNames + at, sizeof config.fileNames - at) : 0;
        if (at + length >= sizeof config.fileNames)
            return "configuration: the file list holds fewer names than its count";
        std::string stored(config.fileNames + at, length);
        std::string name = textOf(config.fileNames + at, length, config.codePage);
        std::string what = "configuration: file " + std::to_string(i) + " \"" + shown(name) + "\": ";
        int problem = fileNameProblem(stored.c_str(), 0, nullptr, config.codePage);
        if (problem != NAME_PLAIN)
            return what + fileNameProblemText(problem) + "; no script printed";
        if (hasControl(name) || (i > 0 && !isScriptKey(name)))
            return what + "a script line cannot carry this name; no script printed";
        at += length + 1;
    }
    for (const ConfigField& k : setupConfigFields) {
        const char* field = (const char*)&config + k.offset;
        if (!k.key || k.kind != FIELD_TEXT)
            continue;
        std::string text = textOf(field, strnlen(field, k.width), config.codePage);
        if (hasControlCharacter(field, config.codePage) || hasControl(text))
            return std::string("configuration: ") + k.key + " \"" + shown(text) + "\" holds a control character; no script printed";
    }
    int problem = setupConfigProblem(&config, nullptr);
    if (problem != CONFIG_OK)
        return std::string("configuration: ") + configProblemText(problem) + "; no script printed";
    return "";
}

std::string describeSetupConfig(const SetupConfig& config)
{
    const uint8_t* bytes = (const uint8_t*)&config;
    std::vector<std::string> names;
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount && at < sizeof config.fileNames; i++) {
        size_t length = strnlen(config.fileNames + at, sizeof config.fileNames - at);
        names.push_back(textOf(config.fileNames + at, length, config.codePage));
        at += length + 1;
    }
    std::string out = "; Rebuilds this setup from what 'mksetup extract' writes into this folder.\n[Setup]\n";
    for (const ConfigField& k : setupConfigFields) {
        const char* field = (const char*)bytes + k.offset;
        std::string text = k.key && k.kind == FIELD_TEXT ? textOf(field, strnlen(field, k.width), config.codePage) : "";
        if (k.key && k.kind == FIELD_TEXT && k.offset == offsetof(SetupConfig, startupArguments) && !text.empty() && text[0] == '|') {
            out += "StartupShortcut = no\n";
        } else if (k.key && k.kind == FIELD_TEXT && k.offset == offsetof(SetupConfig, startupArguments)) {
            out += "StartupShortcut = yes\n" + std::string(k.key) + quoted(text) + "\n";
        } else if (k.key && k.kind == FIELD_TEXT) {
            out += k.key + quoted(text) + "\n";
        } else if (k.key && k.kind == FIELD_COLOUR) {
            uint32_t colour = readLe32(bytes + k.offset);
            char rgb[16];
            snprintf(rgb, sizeof rgb, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
            out += std::string(k.key) + " = " + rgb + "\n";
        } else if (k.key && k.kind == FIELD_NUMBER) {
            std::string number = std::to_string(readLe32(bytes + k.offset));
            if (number != k.defaultText && number != "0")   // 0: an older builder's, rebuilt with the default
                out += std::string(k.key) + " = " + number + "\n";
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
