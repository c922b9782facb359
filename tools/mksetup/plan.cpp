// plan.cpp - resolving the paths, reading the stub and sizing the sources
// before anything is written.
#include "plan.h"

#include <stdio.h>

#include "app/configcheck.h"
#include "app/nocase.h"
#include "coding/littleendian.h"
#include "package/peimage.h"
#include "stub.h"
#include "tool.h"
#include "userfiles.h"
#include "versioninfo.h"

std::string stubShownName(const BuildPlan& plan)
{
    return plan.stubPath.empty() ? std::string("the built-in setup program") : plan.stubPath;
}

// The output next to the script (or as given); the stub as given, named by
// the script, or the one built into mksetup (empty stubPath).
static void resolvePaths(BuildPlan& plan, const std::string& scriptPath, std::string output, std::string stubPath)
{
    const SetupScript& script = plan.script;
    if (output.empty())
        output = script.output.text.empty() ? "" : joinPath(script.folder, script.output.text);
    if (output.empty()) {
        size_t dot = scriptPath.find_last_of('.');
        size_t slash = scriptPath.find_last_of("/\\");
        output = (dot == std::string::npos || (slash != std::string::npos && dot < slash) ? scriptPath : scriptPath.substr(0, dot)) + ".exe";
    }
    plan.stubFromScript = stubPath.empty() && !script.stub.text.empty();
    if (plan.stubFromScript)
        stubPath = joinPath(script.folder, script.stub.text);
    plan.output = output;
    plan.stubPath = stubPath;
}

// The output must not be any file the build reads, by identity: another
// name (a link, "./x", a different case on Windows) is the same file.
static bool outputIsAnInput(const BuildPlan& plan)
{
    FileIdentity out = fileIdentity(plan.output);
    if (!out.exists)
        return false;
    std::vector<std::pair<std::string, std::string>> inputs = {{"the script", plan.script.scriptPath}};
    if (!plan.stubPath.empty())
        inputs.push_back({"the setup program (stub)", plan.stubPath});
    for (size_t i = 1; i < plan.script.files.size(); i++)
        inputs.push_back({plan.script.files[i].section + " " + plan.script.files[i].name, plan.script.files[i].path});
    for (int i = 0; i < DECORATION_COUNT; i++)
        if (!plan.script.decoration[i].text.empty())
            inputs.push_back({std::string("[Decoration] ") + decorativeBitmapNames[i],
                              joinPath(plan.script.folder, plan.script.decoration[i].text)});
    for (const auto& input : inputs)
        if (sameFile(out, fileIdentity(input.second))) {
            error("%s: the output is the same file as %s (\"%s\"); choose another output", plan.output.c_str(),
                  input.first.c_str(), input.second.c_str());
            return true;
        }
    return false;
}

// A problem with the stub: at the script's Stub line when the script named
// it, else at the stub itself.
static void stubError(const BuildPlan& plan, const std::string& what)
{
    const ScriptValue& stub = plan.script.stub;
    if (plan.stubFromScript)
        fprintf(stderr, "%s\n", shown(plan.script.scriptPath + ":" + std::to_string(stub.line) + ": error: Stub: \"" +
                                      stub.text + "\": " + what, 0).c_str());
    else
        error("%s: %s", stubShownName(plan).c_str(), what.c_str());
}

// The stub as given or built in, with its markers: a setup program taken
// from a setup (the MAIN entry that 'extract' writes) carries its
// configuration where the markers were, so they are put back and it builds
// like the stub it came from. It must be a Windows program that keeps the
// markers in its writable data, as the setup program does, and a script's
// Stub a 32-bit x86 one: a script is data, and its Stub must not make the
// output a file of another kind.
static bool readStub(BuildPlan& plan)
{
    std::string reason;
    if (plan.stubPath.empty()) {
        size_t size = 0;
        const uint8_t* stub = embeddedStub(&size);
        if (!size) {
            error("this mksetup was built without a setup program; name one with --stub or Stub =");
            return false;
        }
        plan.stub.assign(stub, stub + size);
    } else if (!readRegularFile(plan.stubPath, plan.stub, reason)) {
        stubError(plan, "cannot read the setup program (stub): " + reason);
        return false;
    }
    long at = findConfigMarkers(plan.stub.data(), plan.stub.size());
    if (at < 0)
        at = findWrittenConfig(plan.stub.data(), plan.stub.size());
    if (at < 0) {
        stubError(plan, "no configuration markers: not a setup program");
        return false;
    }
    // The command line may name the setup program of another machine (the
    // x86_64 build's, for its tests); a script names only the shipped kind.
    int problem = setupImageProblem(plan.stub.data(), (int32_t)plan.stub.size(), (int32_t)at, (int32_t)sizeof(ConfigBlock));
    if (problem == IMAGE_NOT_I386 && !plan.stubFromScript && !plan.stubPath.empty())
        problem = IMAGE_SETUP_PROGRAM;
    if (problem != IMAGE_SETUP_PROGRAM) {
        stubError(plan, problem == IMAGE_NOT_A_PROGRAM ? "not a Windows program (no MZ and PE headers)"
                        : problem == IMAGE_NOT_I386    ? "not a 32-bit x86 Windows program"
                                                       : "its configuration markers lie outside its writable data: not a setup program");
        return false;
    }
    writeLe32(&plan.stub[(size_t)at], CONFIG_MARKER_1);
    writeLe32(&plan.stub[(size_t)at + 4], CONFIG_MARKER_2);
    return true;
}

// The file's properties and the system's prompts name the product.
static bool writeStubVersion(BuildPlan& plan)
{
    const SetupScript& script = plan.script;
    VersionTexts texts;
    texts.productName = scriptField(script, "ProductName").text;
    texts.productVersion = scriptField(script, "ProductVersion").text;
    texts.description = texts.productName + " Setup";
    texts.company = script.publisher.text;
    if (!hasVersionFields(plan.stub)) {
        // Named where the user named the stub: the script's line, or --stub.
        std::string at = script.stub.line && plan.stubFromScript
                             ? script.scriptPath + ":" + std::to_string(script.stub.line) + ": warning: Stub: "
                             : "warning: --stub: ";
        fprintf(stderr, "%s\n", shown(at + "\"" + plan.stubPath + "\" has no version fields: the setup file's properties will not name the product", 0).c_str());
        return true;
    }
    std::string versionProblem = writeVersionTexts(plan.stub, texts);
    if (!versionProblem.empty()) {
        error("%s: %s", stubShownName(plan).c_str(), versionProblem.c_str());
        return false;
    }
    return true;
}

static bool sizeSources(BuildPlan& plan)
{
    const SetupScript& script = plan.script;
    plan.totalSize = 0;
    plan.fileSizes.assign(script.files.size(), 0);
    for (size_t i = 1; i < script.files.size(); i++) {
        const ScriptFile& f = script.files[i];
        std::string reason;
        int64_t size = regularFileSize(f.path, reason);
        if (size == 0 && !readsEmpty(f.path, reason))
            size = -1;
        if (size < 0) {
            fprintf(stderr, "%s\n", shown(script.scriptPath + ":" + std::to_string(f.line) + ": error: " + f.section + " " + f.name +
                                          ": cannot read source \"" + f.source + "\": " + reason, 0).c_str());
            return false;
        }
        plan.fileSizes[i] = size;
        plan.totalSize += size;
    }
    if (plan.totalSize > 0x7FFFFFFF) {
        error("%s: the files add up to more than 2 GB", script.scriptPath.c_str());
        return false;
    }
    return true;
}

int planBuild(BuildPlan& plan, const std::string& scriptPath, const std::string& output, const std::string& stubPath)
{
    std::vector<std::string> errors;
    bool loaded = loadScript(scriptPath, plan.script, errors);
    // The errors first: what stops the build is read before any remark.
    for (const std::string& e : errors)
        fprintf(stderr, "%s\n", e.c_str());
    for (const std::string& w : plan.script.warnings)
        fprintf(stderr, "%s\n", w.c_str());
    if (!loaded)
        return 1;
    resolvePaths(plan, scriptPath, output, stubPath);
    if (isFolder(plan.output)) {
        error("%s: is a folder; name the setup file to write", plan.output.c_str());
        return 1;
    }
    // The setup program runs as the uninstaller under any name with "uninst".
    size_t slash = plan.output.find_last_of("/\\");
    if (findNoCase(plan.output.c_str() + (slash == std::string::npos ? 0 : slash + 1), "uninst")) {
        std::string what = "its name holds \"uninst\": the setup would run as the uninstaller";
        if (output.empty() && plan.script.output.line)
            fprintf(stderr, "%s\n", shown(scriptPath + ":" + std::to_string(plan.script.output.line) + ": error: Output: \"" +
                                          plan.script.output.text + "\": " + what, 0).c_str());
        else
            error("%s: %s", plan.output.c_str(), what.c_str());
        return 1;
    }
    if (outputIsAnInput(plan) || !readStub(plan) || !writeStubVersion(plan) || !sizeSources(plan))
        return 1;
    fillSetupConfig(plan.script, plan.config);
    plan.config.progressRange = (int32_t)plan.totalSize;   // every file is decoded, so the bar ends full
    // The script's checks refuse all of this at its lines; the setup
    // program's own check has the last word, so no setup we write fails it.
    int problem = setupConfigProblem(&plan.config, nullptr);
    if (problem != CONFIG_OK) {
        error("%s: the setup program would refuse this configuration: %s", scriptPath.c_str(), configProblemText(problem));
        return 1;
    }
    return 0;
}
