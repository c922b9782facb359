// script.h - the setup script (INI form) that mksetup builds from: parsing,
// validation with "SCRIPT:LINE: key: what is wrong" messages, and the
// configuration block it turns into.
#ifndef MKSETUP_SCRIPT_H
#define MKSETUP_SCRIPT_H

#include <stdint.h>
#include <string>
#include <vector>

#include "app/setupconfig.h"
#include "app/setuplayout.h"

struct ScriptValue {
    std::string text;
    int line;            // 0: not given in the script
};

struct ScriptFile {
    std::string name;    // installed file name
    std::string source;  // as written; empty for index 0
    std::string path;    // source resolved against the script's folder
    int line;
};

struct SetupScript {
    std::string scriptPath;
    std::string folder;                      // of the script, for relative paths
    ScriptValue fields[CONFIG_FIELD_COUNT];  // by setupConfigFields; keyed fields only
    ScriptValue stub, output;                // the builder's own keys
    std::vector<ScriptFile> files;
    ScriptValue decoration[DECORATION_COUNT];   // empty text: the default bitmap
    std::vector<uint8_t> decorationImage[DECORATION_COUNT];   // as checked: what the setup gets
};

// The value of a configuration key ("ProductName"), as given or by default.
const ScriptValue& scriptField(const SetupScript& script, const char* key);

// Reads and checks a script. Every problem becomes one line in errors.
// Returns true when the script can be built.
bool loadScript(const std::string& path, SetupScript& script, std::vector<std::string>& errors);

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

// The [Setup] and [Files] sections that reproduce a configuration.
std::string describeSetupConfig(const SetupConfig& config);

// Helpers shared with the commands.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
std::string joinPath(const std::string& folder, const std::string& name);

#endif
