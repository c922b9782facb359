// script.h - the setup script (INI form) that mksetup builds from: parsing,
// validation with "SCRIPT:LINE: error: key: what is wrong" messages, and the
// configuration block it turns into.
#ifndef MKSETUP_SCRIPT_H
#define MKSETUP_SCRIPT_H

#include <stdint.h>
#include <string>
#include <vector>

#include "app/configfields.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"

enum { PUBLISHER_LIMIT = 63 };       // characters of the version resource's company field
// Bytes of a script: a real one is a few kilobytes; this bounds the time and
// memory that reading one may take.
enum { SCRIPT_LIMIT = 4 << 20 };

struct ScriptValue {
    std::string text;    // UTF-8, as the script gives it
    int line;            // 0: not given in the script
    std::string stored;  // keyed text fields: the text in the setup's code page
};

struct ScriptFile {
    std::string name;    // installed file name, UTF-8
    std::string stored;  // the name in the setup's code page
    std::string source;  // as written; empty for the uninstaller
    std::string path;    // source resolved against the script's folder
    std::string section; // "[Setup] Uninstaller", "[Files]" or "[Samples]", for messages
    int line;
};

struct SetupScript {
    std::string scriptPath;
    std::string folder;                      // of the script, for relative paths
    ScriptValue fields[CONFIG_FIELD_COUNT];  // by setupConfigFields; keyed fields only
    ScriptValue uninstaller, program;        // names: the composed uninstaller, the main program
    ScriptValue startupShortcut;             // "yes" or "no"
    ScriptValue publisher;                   // for the version resource, not the configuration
    ScriptValue stub, output;                // the builder's own keys
    int setupLine;                           // of the [Setup] header; 0: none
    uint32_t codePage;                       // of the configuration's texts (CodePage)
    // In layout order: the uninstaller, the main program, the other [Files]
    // entries, then [Samples] from SAMPLES_FIRST_INDEX on.
    std::vector<ScriptFile> files;
    ScriptValue decoration[DECORATION_COUNT];   // empty text: the default bitmap
    std::vector<uint8_t> decorationImage[DECORATION_COUNT];   // as checked: what the setup gets
    std::vector<std::string> warnings;       // complete lines, as for errors
};

// The value of a configuration key ("ProductName"), as given or by default.
const ScriptValue& scriptField(const SetupScript& script, const char* key);

// Reads and checks a script: UTF-8, with or without a byte-order mark, or
// UTF-16 with one; CRLF or LF. Every text and file name must have a place in
// the code page the script names (CodePage), and every limit counts its
// bytes there. Every problem becomes one line in errors
// ("path:line: error: key: what"), every oddity one line in script.warnings.
// Returns true when the script can be built.
bool loadScript(const std::string& path, SetupScript& script, std::vector<std::string>& errors);
// The same for a script's text; path names it in messages and gives the folder.
bool loadScriptText(const std::string& text, const std::string& path, SetupScript& script,
                    std::vector<std::string>& errors);

// Checks a bitmap image as the setup background's loader takes it
// (checkBitmapImage). Returns an empty string when it is accepted, else what
// is wrong.
std::string checkBitmap(const std::vector<uint8_t>& image);

// The colour table of a palettized bitmap (header size, bit depth, colours and
// table bytes); empty for a 24-bit one. Palettized decorations must agree.
std::string bitmapColourTable(const std::vector<uint8_t>& image);

// Fills the configuration payload from a checked script. progressRange is the
// caller's (the bytes the install will decode).
void fillSetupConfig(const SetupScript& script, SetupConfig& config);

// Why describeSetupConfig cannot print a script that rebuilds this
// configuration, or an empty string: a name or text with a control character
// (its line break would become script lines of the setup's choosing), a name
// that a script line cannot carry as its key, or a configuration that the
// setup program's own check refuses.
std::string rebuildProblem(const SetupConfig& config);

// A complete script that rebuilds a setup of this configuration from what
// 'mksetup extract' writes (entries under their names, MAIN as the stub); it
// names no other file, and no Output. Only for a configuration that
// rebuildProblem finds sound.
std::string describeSetupConfig(const SetupConfig& config);

// Text safe for a terminal: control characters as \xNN, and cut after limit
// characters with "..." (0: no cut).
std::string shown(const std::string& text, size_t limit = 64);

// " (did you mean "X"?)" for the candidate closest to word, or "" when none is close.
std::string didYouMean(const std::string& word, const std::vector<std::string>& candidates);

// text cut or padded with spaces to width characters, for tables.
std::string column(const std::string& text, size_t width);

// Helpers shared with the commands. A script's paths separate folders by
// '/' or '\\' on every system.
std::string joinPath(const std::string& folder, const std::string& name);
// A relative path that stays inside its folder: no absolute path, drive or
// ':', and no part of dots only such as "..". A script's Output must be one.
bool isPathInsideFolder(const std::string& path);

#endif
