// extract.cpp - writing a setup's entries into a folder, never through a
// symbolic link and never outside the folder.
#include "examine.h"

#include <stdio.h>
#include <string.h>

#include "app/filename.h"
#include "app/setuplayout.h"
#include "package/operation.h"
#include "package/package.h"
#include "package/transfer.h"
#include "script.h"
#include "tool.h"
#include "userfiles.h"

static std::string linkRefused(const std::string& target)
{
    return "\"" + target + "\" is a symbolic link; not followed or replaced";
}

// Writes one entry as DIR/name: into a new file of our own, then renamed over
// the name unless that is a symbolic link, so nothing is written through a
// link and nothing outside DIR. Returns an empty string or what went wrong.
static std::string extractOne(const std::string& name, const std::string& folder, std::string& target)
{
    target = joinPath(folder, name);
    if (isSymbolicLink(target))
        return linkRefused(target);
    std::string temp = joinPath(folder, "." + name + "." + unpredictableTag() + ".tmp");
    confirmOverwriteHook = refuseOverwrite;   // exclusive: never opens what is already there
    FileHandle probe = createTargetFile(temp.c_str());
    confirmOverwriteHook = nullptr;
    if (probe == INVALID_FILE)
        return "cannot create a file in \"" + folder + "\": " + lastSystemError();
    fileClose(probe);
    // The file is ours now; the extraction replaces it in place.
    if (!extractToFile(name.c_str(), temp.c_str())) {
        std::string reason = packageReason();
        fileDelete(temp.c_str());   // no half-written file stays behind
        return reason + "; nothing written";
    }
    if (isSymbolicLink(target)) {
        fileDelete(temp.c_str());
        return linkRefused(target);
    }
    if (!fileRename(temp.c_str(), target.c_str())) {
        std::string reason = lastSystemError();
        fileDelete(temp.c_str());
        return "cannot write \"" + target + "\": " + reason;
    }
    return "";
}

static std::vector<std::string> allEntryNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < packageEntryCount(); i++) {
        const PackageEntry* e = packageRecord(i);
        names.push_back(std::string(e->name, strnlen(e->name, ENTRY_NAME_SIZE)));
    }
    return names;
}

// One entry by name; 0, or 1 after saying why it was not written.
static int extractNamed(const char* path, const std::string& name, const std::string& folder)
{
    if (!findEntry(name.c_str(), FIND_DATA | FIND_VALUE)) {
        error("%s: no entry \"%s\"", path, name.c_str());
        return 1;
    }
    if (!isPlainFileName(name.c_str())) {
        error("%s: entry \"%s\" has a name that is no plain file name; skipped", path, name.c_str());
        return 1;
    }
    std::string target;
    std::string problem = extractOne(name, folder, target);
    if (!problem.empty()) {
        error("%s: entry \"%s\": %s", path, name.c_str(), problem.c_str());
        return 1;
    }
    if (!isQuiet())
        printf("%s\n", shown(target, 0).c_str());
    return 0;
}

int extractSetup(const char* path, const std::vector<std::string>& names, const std::string& folder)
{
    if (!openSetup(path))
        return 1;
    if (!isFolder(folder)) {
        std::string reason;
        if (!makeFolder(folder, reason)) {
            closePackage(packageReaderHandle());
            error("%s: cannot create the folder: %s", folder.c_str(), reason.c_str());
            return 1;
        }
    }
    int result = 0;
    for (const std::string& name : names.empty() ? allEntryNames() : names)
        result |= extractNamed(path, name, folder);
    closePackage(packageReaderHandle());
    return result;
}
