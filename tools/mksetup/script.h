// script.h - the setup script (INI form) that mksetup builds from: parsing,
// validation with "SCRIPT:LINE: key: what is wrong" messages, and the
// configuration block it turns into.
#ifndef MKSETUP_SCRIPT_H
#define MKSETUP_SCRIPT_H

#include <stdint.h>
#include <string>
#include <vector>

#include "setupconfig.h"

enum { DECORATION_COUNT = 8, MAX_SETUP_FILES = 23 };   // 31 records: MAIN, 8 bitmaps, File1..File22

extern const char* const decorativeBitmapNames[DECORATION_COUNT];

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
    ScriptValue productName, productVersion, installFolder, startMenuSubfolder,
        runningWindowClass, samplesDescription, startupArguments,
        uninstallShortcutFormat, installingLabelFormat, backgroundColor, stub, output;
    std::vector<ScriptFile> files;
    ScriptValue decoration[DECORATION_COUNT];   // empty text: the default bitmap
};

// Reads and checks a script. Every problem becomes one line in errors.
// Returns true when the script can be built.
bool loadScript(const std::string& path, SetupScript& script, std::vector<std::string>& errors);

// Checks a bitmap image as the setup background's loader takes it.
// Returns an empty string when it is accepted, else what is wrong.
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
