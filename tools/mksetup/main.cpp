// mksetup - builds a setup executable from a setup script, and reads one back.
// "mksetup --help" lists the commands, "mksetup help COMMAND" explains one.
// This file holds the command table and the command line it is read by.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "build.h"
#include "compress.h"
#include "coding/blockstream_encode.h"
#include "examine.h"
#include "script.h"
#include "tool.h"
#include "workers.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include "codepage.h"
#endif

#ifndef MKSETUP_VERSION
#define MKSETUP_VERSION "0.0"
#endif

// What a command's options set.
enum OptionSlot { OPTION_OUTPUT, OPTION_STUB, OPTION_JOBS, OPTION_DIRECTORY, OPTION_DEPFILE, OPTION_SLOTS };

struct Option {
    const char* shortName;     // or null
    const char* longName;
    int slot;                  // OptionSlot
    bool jobs;                 // a number of jobs, also written joined ("-j4")
};

struct CommandLine {
    std::string values[OPTION_SLOTS];
    bool given[OPTION_SLOTS];
    int workers;
    std::vector<std::string> operands;
};

struct Command {
    const char* name;
    const char* synopsis;
    const char* help;
    const Option* options;     // ends with a null longName
    const char* operand;       // "script" or "setup": what the first operand is
    bool moreOperands;         // takes operands after the first
    int (*run)(const CommandLine& line);   // null: help
};

static int runBuild(const CommandLine& l)
{
    int workers = l.workers < MAX_WORKERS ? l.workers : MAX_WORKERS;
    return buildSetup(l.operands[0], l.values[OPTION_OUTPUT], l.values[OPTION_STUB], workers, l.values[OPTION_DEPFILE]);
}

static int runList(const CommandLine& l)
{
    return listSetup(l.operands[0].c_str());
}

static int runExtract(const CommandLine& l)
{
    std::vector<std::string> entries(l.operands.begin() + 1, l.operands.end());
    return extractSetup(l.operands[0].c_str(), entries, l.given[OPTION_DIRECTORY] ? l.values[OPTION_DIRECTORY] : ".");
}

static int runVerify(const CommandLine& l)
{
    return verifySetup(l.operands[0].c_str());
}

static int runConfig(const CommandLine& l)
{
    return printConfig(l.operands[0].c_str());
}

static const Option buildOptions[] = {
    {"-o", "--output", OPTION_OUTPUT, false},
    {nullptr, "--stub", OPTION_STUB, false},
    {"-j", "--jobs", OPTION_JOBS, true},
    {nullptr, "--depfile", OPTION_DEPFILE, false},
    {nullptr, nullptr, 0, false},
};
static const Option extractOptions[] = {
    {"-d", "--directory", OPTION_DIRECTORY, false},
    {nullptr, nullptr, 0, false},
};
static const Option noOptions[] = {{nullptr, nullptr, 0, false}};

static const Command commands[] = {
    {"build", "build SCRIPT [-o OUT] [--stub STUB] [-j JOBS] [--depfile D]",
     "Builds a setup executable from a setup script (see docs/script.md).\n"
     "  -o OUT       the setup to write (default: the script's Output, else the\n"
     "               script's name with .exe); never one of the inputs\n"
     "  --stub STUB  the setup program to build from (default: the script's Stub,\n"
     "               else the i686 setup program built into mksetup)\n"
     "  -j JOBS      compress up to JOBS entries at once, each in a worker process\n"
     "               (default: the number of processors; -j 1 compresses them one\n"
     "               after another); the setup is the same for every JOBS\n"
     "  --depfile D  also write the setup's inputs (the script, the stub and every\n"
     "               source) to D as make and ninja read them, for build systems\n"
     "The output is written to a new file beside it and renamed into place only\n"
     "when every step succeeded.\n",
     buildOptions, "script", false, runBuild},
    {"list", "list SETUP", "Lists the package entries of a setup executable.\n", noOptions, "setup", false, runList},
    {"extract", "extract SETUP [NAME...] -d DIR",
     "Extracts entries (all by default) into DIR, which is created when missing.\n"
     "Files are written under their entry names; a symbolic link in DIR is never\n"
     "followed or replaced.\n",
     extractOptions, "setup", true, runExtract},
    {"verify", "verify SETUP", "Decodes every entry and checks every block, the configuration and the bitmaps.\n",
     noOptions, "setup", false, runVerify},
    {"config", "config SETUP",
     "Prints the embedded configuration as a complete script. Saved into the folder\n"
     "that 'mksetup extract SETUP -d DIR' filled, it rebuilds the same setup:\n"
     "  mksetup extract S.exe -d D && mksetup config S.exe > D/setup.ini &&\n"
     "  mksetup build D/setup.ini -o S2.exe      (S2.exe is identical to S.exe)\n"
     "The script names no file but the extracted entries, and no Output. A setup\n"
     "whose names or texts hold control characters, or that the setup program\n"
     "itself would refuse, gets no script: config says why and exits with 1.\n",
     noOptions, "setup", false, runConfig},
    {"help", "help [COMMAND]", "Explains one command, or lists them all.\n", noOptions, nullptr, true, nullptr},
};

static void printUsage(FILE* out)
{
    fprintf(out, "usage: mksetup [-q] COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const Command& c : commands)
        fprintf(out, "  mksetup %s\n", c.synopsis);
    fprintf(out, "\noptions:\n"
                 "  -h, --help     this text; 'mksetup help COMMAND' or 'COMMAND --help' for one command\n"
                 "  --version      the version of mksetup\n"
                 "  -q, --quiet    print nothing but errors and warnings\n"
                 "\nExit status: 0 success, 1 a problem with the script, a file or a setup,\n"
                 "2 a bad command line.\n");
}

static const Command* findCommand(const std::string& name)
{
    for (const Command& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

static std::string suggestion(const std::string& word)
{
    std::vector<std::string> names;
    for (const Command& c : commands)
        names.push_back(c.name);
    return didYouMean(word, names);
}

// A command-line problem: named, with a pointer to the help. Exit status 2.
static int usageError(const std::string& what, const char* command)
{
    error("%s", what.c_str());
    if (command)
        fprintf(stderr, "try 'mksetup help %s'\n", command);
    else
        fprintf(stderr, "try 'mksetup --help'\n");
    return 2;
}

static int printHelp(const std::string& topic)
{
    if (topic.empty()) {
        printUsage(stdout);
        return 0;
    }
    const Command* c = findCommand(topic);
    if (!c)
        return usageError("unknown command \"" + topic + "\"" + suggestion(topic), nullptr);
    printf("usage: mksetup %s\n\n%s", c->synopsis, c->help);
    return 0;
}

static const Option* findOption(const Command& c, const std::string& word)
{
    for (const Option* o = c.options; o->longName; o++)
        if (word == o->longName || (o->shortName && word == o->shortName))
            return o;
    return nullptr;
}

// Sets one option's value; 0, or the exit status of a usage error.
static int setOption(const Command& c, const Option& o, const std::string& word, const std::string& value,
                     CommandLine& line)
{
    if (o.jobs) {
        char* end = nullptr;
        long n = strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || n < 1 || n > MAX_WORKERS)
            return usageError(word + " needs a number of jobs from 1 to " + std::to_string(MAX_WORKERS) + ", not \"" +
                                  value + "\"", c.name);
        line.workers = (int)n;
    }
    line.values[o.slot] = value;
    line.given[o.slot] = true;
    return 0;
}

// The command's own options, in any order among its operands; 0, or the
// exit status of a usage error.
static int readCommandLine(const Command& c, const std::vector<std::string>& rest, CommandLine& line)
{
    for (size_t i = 0; i < rest.size(); i++) {
        std::string word = rest[i];
        const Option* o = findOption(c, word);
        for (const Option* j = c.options; !o && j->longName; j++)
            if (j->jobs && j->shortName && word.size() > 2 && word.compare(0, 2, j->shortName) == 0) {   // -jN is -j N
                int status = setOption(c, *j, j->shortName, word.substr(2), line);
                if (status)
                    return status;
                word.clear();
            }
        if (word.empty())
            continue;
        if (o) {
            if (i + 1 >= rest.size())
                return usageError(word + " needs a value", c.name);
            int status = setOption(c, *o, word, rest[++i], line);
            if (status)
                return status;
        } else if (word == "--") {
            line.operands.insert(line.operands.end(), rest.begin() + (long)i + 1, rest.end());
            break;
        } else if (word.size() > 1 && word[0] == '-') {
            return usageError("unknown option \"" + word + "\" for " + c.name, c.name);
        } else {
            line.operands.push_back(word);
        }
    }
    if (line.operands.empty())
        return usageError(std::string(c.name) + ": which " + c.operand + "?", c.name);
    if (line.operands.size() > 1 && !c.moreOperands)
        return usageError(std::string(c.name) + " takes one " + c.operand + "; \"" + line.operands[1] +
                              "\" is one too many", c.name);
    return 0;
}

// The arguments after the program's name, as UTF-8: on Windows from the wide
// command line, since argv holds them in the system's code page.
static std::vector<std::string> argumentsOf(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    SetConsoleOutputCP(CP_UTF8);   // what mksetup prints is UTF-8
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; i++) {
        std::string utf8;
        utf8OfUtf16(std::u16string((const char16_t*)wide[i]), utf8);
        args.push_back(utf8);
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

static int runMksetup(int argc, char** argv)
{
    enableCompression();   // entries are added with XFER_COMPRESS
    std::vector<std::string> args = argumentsOf(argc, argv);
    if (args.size() == 4 && args[0] == WORKER_COMMAND)
        return compressWorker(args[1].c_str(), args[2].c_str(), args[3].c_str());
    // Global options anywhere before the command; per-command options anywhere after it.
    std::string command;
    std::vector<std::string> rest;
    bool wantHelp = false;
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help")
            wantHelp = true;
        else if (a == "-q" || a == "--quiet")
            setQuiet(true);
        else if (a == "--version" && command.empty()) {
            printf("mksetup %s\n", MKSETUP_VERSION);
            return 0;
        } else if (command.empty() && a.size() > 1 && a[0] == '-')
            return usageError("unknown option \"" + a + "\"", nullptr);
        else if (command.empty())
            command = a;
        else
            rest.push_back(a);
    }
    const Command* found = command.empty() ? nullptr : findCommand(command);
    if (!command.empty() && !found)
        return usageError("unknown command \"" + command + "\"" + suggestion(command), nullptr);
    if ((found && !found->run) || (wantHelp && !found))
        return printHelp(found && !rest.empty() ? rest[0] : "");
    if (wantHelp)
        return printHelp(found->name);
    if (!found) {
        printUsage(stderr);
        return 2;
    }
    CommandLine line = {};
    line.workers = processorCount();
    int status = readCommandLine(*found, rest, line);
    return status ? status : found->run(line);
}

// No exception ends mksetup without a word (an uncaught one aborts with no
// message): memory running out, or any other failure of the standard
// library, becomes one error line and exit status 1. mksetup itself throws
// none, and takes memory only for what files hold, never for what they claim.
int main(int argc, char** argv)
{
    try {
        return runMksetup(argc, argv);
    } catch (const std::bad_alloc&) {
        error("out of memory");
    } catch (const std::exception& e) {
        error("%s", e.what());
    }
    return 1;
}
