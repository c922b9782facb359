// plan.h - everything a build needs before the package is written: the
// checked script, the stub with its markers and version texts, the sources'
// sizes, the output's path and the configuration.
#ifndef MKSETUP_PLAN_H
#define MKSETUP_PLAN_H

#include <stdint.h>
#include <string>
#include <vector>

#include "app/setupconfig.h"
#include "script.h"

struct AddedFile {
    std::string name, entry;
    int64_t in, out;
};

// Each source is opened once: the stub and the bitmaps were read into memory
// (the bitmaps by the script's checks), the product files are sized without
// opening them and read only as they are compressed.
struct BuildPlan {
    SetupScript script;
    std::string output, stubPath, tempBase, temp;
    bool stubFromScript = false;             // stubPath is the script's Stub =, not --stub
    std::vector<uint8_t> stub;
    std::vector<int64_t> fileSizes;          // by index in script.files; [0] unused
    int64_t totalSize;                       // of the product files
    SetupConfig config;
    std::vector<AddedFile> added;
    std::vector<std::string> tempBitmaps;    // ours: created exclusively, deleted after
    std::string failure;
};

// Loads the script, the stub and the sizes, and fills the configuration.
// Returns 0, or 1 after saying what is wrong.
int planBuild(BuildPlan& plan, const std::string& scriptPath, const std::string& output, const std::string& stubPath);

// The stub's name for messages.
std::string stubShownName(const BuildPlan& plan);

#endif
