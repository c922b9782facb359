// driver.cpp - entry of the end-to-end test driver.
//
//   driver scenario NAME --stage DIR --decor DIR --shots DIR
//       runs one scenario; one line per check; exit 0 when every check held,
//       1 when one failed, 2 on a wrong command line
//   driver load-library NAME
//       loads a DLL by the plain search order (a scenario starts a copy of
//       the driver with this to show that a planted DLL would be found)
//   driver list
//       the scenarios' names
//   driver bench-install SETUP
//       clicks a full install through (bench/install_span.sh times it)
//   driver bench-cancel SETUP CYCLES FOLDER
//       Cancel and No CYCLES times while the setup installs, then Cancel and
//       Yes; prints the latencies in ms of the question, the resumed install,
//       the rollback (FOLDER, the install folder, gone) and the setup's end
#include "driver.h"
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { RUN_OK = 0, RUN_FAILED = 1, RUN_USAGE = 2 };

Setting setting;

// The table comes from scenarios.txt, the list CMake makes the tests from.
#define SCENARIO(name, function, depth) void function(void);
#include "scenario_table.h"
#undef SCENARIO
static const Scenario scenarios[] = {
#define SCENARIO(name, function, depth) {name, function, depth},
#include "scenario_table.h"
#undef SCENARIO
};
static const int scenarioCount = sizeof scenarios / sizeof scenarios[0];

static const Scenario* findScenario(const char* name)
{
    for (int i = 0; i < scenarioCount; i++)
        if (strcmp(scenarios[i].name, name) == 0)
            return &scenarios[i];
    return NULL;
}

static int usage(const char* what)
{
    fprintf(stderr, "driver: %s\nusage: driver scenario NAME --stage DIR --decor DIR --shots DIR | "
                    "driver load-library NAME | driver list | driver bench-install SETUP | "
                    "driver bench-cancel SETUP CYCLES FOLDER\n", what);
    return RUN_USAGE;
}

// The driver sees windows and the screen in real pixels: Wine maps the
// positions and sizes of a window made at another DPI for a program that is
// not aware of it (a setup at 144 DPI would look two thirds its size).
static void seeRealPixels(void)
{
    typedef BOOL(WINAPI * SetContext)(HANDLE);
    SetContext setContext = (SetContext)(void (*)(void))GetProcAddress(GetModuleHandleA("user32.dll"),
                                                                     "SetProcessDpiAwarenessContext");
    const HANDLE perMonitor = (HANDLE)(INT_PTR)-3;   // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
    if (!setContext || !setContext(perMonitor))
        note("the driver could not be made aware of the DPI: window sizes may be scaled");
}

static int runScenario(int argc, char** argv)
{
    if (argc < 1)
        return usage("scenario needs NAME");
    const Scenario* scenario = findScenario(argv[0]);
    if (!scenario)
        return usage("no such scenario");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--stage") == 0)
            setting.stage = argv[i + 1];
        else if (strcmp(argv[i], "--decor") == 0)
            setting.decor = argv[i + 1];
        else if (strcmp(argv[i], "--shots") == 0)
            setting.shots = argv[i + 1];
        else
            return usage("unknown option");
    }
    if (setting.stage.empty() || setting.decor.empty() || setting.shots.empty() || argc % 2 == 0)
        return usage("scenario needs --stage, --decor and --shots");
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    setting.self = self;
    setting.wide = sizeof(void*) == 8;
    makeFolders(setting.shots);
    seeRealPixels();
    if (FAILED(CoInitialize(NULL)))
        return usage("CoInitialize failed");
    note("scenario %s (%s driver)", scenario->name, setting.wide ? "64-bit" : "32-bit");
    DWORD started = GetTickCount();
    scenario->run();
    if (failureCount() == 0 && passCount() == 0)
        fail("the scenario checked nothing");
    if (failureCount() > 0) {
        describeDialogs();
        Image screen;
        screenshot("failure", NULL, &screen);
    }
    note("scenario %s: %d checks held, %d failed, %lu ms", scenario->name, passCount(), failureCount(),
         (unsigned long)(GetTickCount() - started));
    CoUninitialize();
    return failureCount() ? RUN_FAILED : RUN_OK;
}

int main(int argc, char** argv)
{
    // Texts go out byte for byte: no CR added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc >= 3 && strcmp(argv[1], "scenario") == 0)
        return runScenario(argc - 2, argv + 2);
    if (argc == 3 && strcmp(argv[1], "load-library") == 0) {
        HMODULE module = LoadLibraryA(argv[2]);
        char path[MAX_PATH] = "";
        if (module)
            GetModuleFileNameA(module, path, MAX_PATH);
        printf("%s\n", module ? path : "(not loaded)");
        return module ? RUN_OK : RUN_FAILED;
    }
    if (argc == 2 && strcmp(argv[1], "list") == 0) {
        for (int i = 0; i < scenarioCount; i++)
            printf("%s\n", scenarios[i].name);
        return RUN_OK;
    }
    if (argc == 3 && strcmp(argv[1], "bench-install") == 0)
        return benchInstall(argv[2]);
    if (argc == 5 && strcmp(argv[1], "bench-cancel") == 0)
        return benchCancel(argv[2], atoi(argv[3]), argv[4]);
    return usage("unknown command");
}
