// fuzz_script - any bytes read as a setup script: parsing and checking never
// crash, every message is one line of printable text, and a script that
// passes fills a configuration whose name list holds its files.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "script.h"

enum { SCRIPT_MAX_INPUT = 1 << 16 };

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > SCRIPT_MAX_INPUT)
        return 0;
    // Relative sources resolve under a folder that does not exist: nothing is read.
    SetupScript script;
    std::vector<std::string> errors;
    bool ok = loadScriptText(std::string((const char*)data, size), "/nonexistent-fuzz/setup.ini", script, errors);
    FUZZ_CHECK(ok == errors.empty());
    std::vector<std::string> lines = errors;
    lines.insert(lines.end(), script.warnings.begin(), script.warnings.end());
    for (const std::string& line : lines) {
        FUZZ_CHECK(!line.empty());
        for (char ch : line)
            FUZZ_CHECK((unsigned char)ch >= 0x20 && ch != 0x7F);
    }
    if (ok) {
        FUZZ_CHECK(script.files.size() >= 2 && script.files.size() <= MAX_SETUP_FILES);
        SetupConfig config;
        fillSetupConfig(script, config);
        FUZZ_CHECK(config.fileCount == (int32_t)script.files.size());
        size_t at = 0;
        for (const ScriptFile& f : script.files) {
            FUZZ_CHECK(at + f.name.size() < sizeof config.fileNames);
            FUZZ_CHECK(memcmp(config.fileNames + at, f.name.c_str(), f.name.size() + 1) == 0);
            at += f.name.size() + 1;
        }
        FUZZ_CHECK(!describeSetupConfig(config).empty());
    }
    return 0;
}
