// examine.cpp - listing a setup, verifying it, printing its configuration.
#include "examine.h"

#include <stdio.h>
#include <string.h>

#include "app/configcheck.h"
#include "app/configfields.h"
#include "app/setupconfig.h"
#include "app/setuplayout.h"
#include "codepage.h"
#include "coding/blockstream.h"
#include "coding/codingerror.h"
#include "coding/lzhuf.h"
#include "package/package.h"
#include "package/packageerror.h"
#include "package/peimage.h"
#include "package/transfer.h"
#include "script.h"
#include "tool.h"
#include "userfiles.h"

int openSetup(const char* path)
{
    // The system's reason first: "no package directory" is for files that are there.
    std::string reason;
    if (regularFileSize(path, reason) < 0) {
        error("%s: cannot open: %s", path, reason.c_str());
        return 0;
    }
    if (openPackage(path) == INVALID_FILE) {
        PackageError e = packageLastError();
        if (e == PACKAGE_BAD_SIGNATURE)
            error("%s: the program's headers name a certificate table, but it does not end the file right after "
                  "the package: changed after signing, or signed without the builder's padding", path);
        else if (e == PACKAGE_NO_DIRECTORY)
            error("%s: no package directory found: not a setup, or its end is cut off or damaged", path);
        else
            error("%s: cannot open: %s", path, packageReason().c_str());
        return 0;
    }
    return 1;
}

static const char* modeName(const PackageEntry* e)
{
    if (e->mode == ENTRY_VALUE)
        return "value";
    return e->mode == ENTRY_STORED ? "stored" : "compressed";
}

int listSetup(const char* path)
{
    if (!openSetup(path))
        return 1;
    printf("%-16s %-5s %-10s %4s %10s %10s %7s %10s\n", "name", "kind", "mode", "key", "stored", "extracted", "ratio", "offset");
    for (int i = 0; i < packageEntryCount(); i++) {
        const PackageEntry* e = packageRecord(i);
        char name[ENTRY_NAME_SIZE + 1];
        memcpy(name, e->name, ENTRY_NAME_SIZE);
        name[ENTRY_NAME_SIZE] = 0;
        if (e->mode == ENTRY_VALUE) {
            printf("%-16s %-5s %-10s %4s %10d\n", shown(name).c_str(), "value", "-", "-", e->inlineLength);
            continue;
        }
        int32_t stored = getLe32(e->storedSize), extracted = getLe32(e->extractedSize);
        printf("%-16s %-5s %-10s 0x%02X %10d %10d %6.1f%% %10d\n", shown(name).c_str(), "data", modeName(e), e->xorKey, stored,
               extracted, extracted ? 100.0 * stored / extracted : 100.0, getLe32(e->dataOffset));
    }
    closePackage(packageReaderHandle());
    return 0;
}

// Reads the content of a data entry of the open package into memory; the
// decoded size must be exactly what the record announces. Memory is taken
// only for what the entry's bytes in the file can give: a stored entry lies
// inside the file, and a compressed one cannot decode to more than
// LZHUF_MOST_BYTES_PER_CODED_BYTE times its stored size, so a record that
// claims more is refused before anything is taken.
static bool readEntry(const char* name, std::vector<uint8_t>& bytes, std::string& problem)
{
    PackageEntry* e = findEntry(name, FIND_DATA);
    if (!e) {
        problem = "missing";
        return false;
    }
    if (!entryDataFits(e)) {
        problem = "its data lies outside the package";
        return false;
    }
    int32_t stored = getLe32(e->storedSize);
    int32_t size = e->mode == ENTRY_STORED ? stored : getLe32(e->extractedSize);
    if (size < 0) {
        problem = "negative size";
        return false;
    }
    if (e->mode != ENTRY_STORED && (int64_t)size > (int64_t)stored * LZHUF_MOST_BYTES_PER_CODED_BYTE) {
        problem = "its record announces " + std::to_string(size) + " bytes, more than its " + std::to_string(stored) +
                  " stored bytes can decode to";
        return false;
    }
    bytes.assign((size_t)size + 1, 0);   // one spare byte: a longer stream must fail, not fit
    if (!extractToMemory(name, bytes.data(), size)) {
        problem = std::string("damaged: its data does not decode (") + codingErrorText(codingLastError()) + ")";
        return false;
    }
    if (e->mode != ENTRY_STORED && totalWritten != getLe32(e->extractedSize)) {
        problem = "decodes to " + std::to_string(totalWritten) + " bytes, not the " + std::to_string(getLe32(e->extractedSize)) + " its record announces";
        return false;
    }
    bytes.resize((size_t)size);
    return true;
}

// Finds and deciphers the configuration embedded in MAIN.
static bool readEmbeddedConfig(SetupConfig& config, std::string& problem)
{
    PackageEntry* main = findEntry(MAIN_ENTRY_NAME, FIND_DATA);
    if (main && (main->mode != ENTRY_STORED || main->xorKey != 0 || getLe32(main->dataOffset) != 0)) {
        problem = "MAIN: must be stored unscrambled at offset 0, or the setup cannot start";
        return false;
    }
    std::vector<uint8_t> image;
    if (!readEntry(MAIN_ENTRY_NAME, image, problem)) {
        problem = "MAIN: " + problem;
        return false;
    }
    int32_t at = getLe32(main->patchOffset);
    if (at < 0 || (size_t)at + 8 + CONFIG_PAYLOAD_SIZE > image.size()) {
        problem = "MAIN: carries no embedded configuration";
        return false;
    }
    ConfigBlock block;
    memcpy(&block, &image[(size_t)at], sizeof block);
    if (block.magic != CONFIG_MAGIC || block.length != CONFIG_PAYLOAD_SIZE) {
        problem = "MAIN: the configuration header is damaged";
        return false;
    }
    if (!decipherSetupConfig((uint8_t*)&block)) {
        problem = "MAIN: the configuration cannot be deciphered";
        return false;
    }
    if (block.payload.payloadPosition != (uint32_t)at + 8) {
        problem = "MAIN: the configuration does not decipher to a readable payload";
        return false;
    }
    config = block.payload;
    terminateConfigText(&config);   // a crafted field may run to its end
    return true;
}

// Names of the file list, or a problem when the list does not hold fileCount names.
static bool fileNamesOf(const SetupConfig& config, std::vector<std::string>& names, std::string& problem)
{
    if (config.fileCount < 2 || config.fileCount > MAX_SETUP_FILES) {
        problem = "configuration: file count " + std::to_string(config.fileCount) + " is out of range";
        return false;
    }
    size_t at = 0;
    for (int32_t i = 0; i < config.fileCount; i++) {
        size_t length = at < sizeof config.fileNames ? strnlen(config.fileNames + at, sizeof config.fileNames - at) : 0;
        if (at + length >= sizeof config.fileNames || length == 0) {
            problem = "configuration: the file list holds fewer names than its count";
            return false;
        }
        names.push_back(std::string(config.fileNames + at, length));
        at += length + 1;
    }
    return true;
}

// Every entry decodes and every block checks; empty, or the first problem.
static std::string entriesProblem()
{
    std::string problem;
    for (int i = 0; i < packageEntryCount() && problem.empty(); i++) {
        const PackageEntry* e = packageRecord(i);
        std::string name(e->name, strnlen(e->name, ENTRY_NAME_SIZE));
        if (e->mode == ENTRY_VALUE)
            continue;
        std::vector<uint8_t> bytes;
        if (!readEntry(name.c_str(), bytes, problem))
            problem = name + ": " + problem;
    }
    return problem;
}

// Every bitmap is there, loads, and the palettized ones share one colour table.
static std::string bitmapsProblem()
{
    std::string sharedTable;
    for (int i = 0; i < DECORATION_COUNT; i++) {
        std::vector<uint8_t> image;
        std::string problem;
        if (!readEntry(decorativeBitmapNames[i], image, problem))
            return std::string(decorativeBitmapNames[i]) + ": " + problem;
        std::string bad = checkBitmap(image);
        if (!bad.empty())
            return std::string(decorativeBitmapNames[i]) + ": " + bad;
        std::string table = bitmapColourTable(image);
        if (!table.empty() && !sharedTable.empty() && table != sharedTable)
            return std::string(decorativeBitmapNames[i]) + ": colour table differs from the other palettized bitmaps";
        if (!table.empty())
            sharedTable = table;
    }
    return "";
}

static void printSignature(const char* path)
{
    FileHandle file = fileOpenRead(path);
    int32_t end;
    PeSignature signature;
    if (findPackageEnd(file, fileSize(file), &end, &signature) == SIGNATURE_AT_END)
        printf("%s: signed: certificate table at offset %d, %d bytes, right after the package\n", path,
               signature.tableOffset, signature.tableSize);
    else
        printf("%s: not signed\n", path);
    fileClose(file);
}

int verifySetup(const char* path)
{
    if (!openSetup(path))
        return 1;
    int count = packageEntryCount();
    std::string problem = entriesProblem();
    SetupConfig config;
    std::vector<std::string> names;
    if (problem.empty() && readEmbeddedConfig(config, problem) && fileNamesOf(config, names, problem)) {
        for (int32_t i = 1; i < config.fileCount && problem.empty(); i++)
            if (!findEntry(entryFileName(i).c_str(), FIND_DATA))
                problem = entryFileName(i) + " (" + storedTextOf(names[(size_t)i], config.codePage) + "): missing";
        // What the setup program checks before it writes anything.
        int index = 0;
        int configProblem = problem.empty() ? setupConfigProblem(&config, &index) : CONFIG_OK;
        if (configProblem != CONFIG_OK)
            problem = std::string("configuration: ") + configProblemText(configProblem) + ": the setup would refuse to install";
        if (problem.empty())
            problem = bitmapsProblem();
    }
    closePackage(packageReaderHandle());
    if (!problem.empty()) {
        error("%s: %s", path, problem.c_str());
        return 1;
    }
    if (isQuiet())
        return 0;
    printf("%s: OK: %d entries, %d files, configuration readable\n", path, count, (int)names.size());
    printSignature(path);
    return 0;
}

int printConfig(const char* path)
{
    if (!openSetup(path))
        return 1;
    SetupConfig config;
    std::string problem;
    bool ok = readEmbeddedConfig(config, problem);
    closePackage(packageReaderHandle());
    if (ok)
        problem = rebuildProblem(config);
    if (!ok || !problem.empty()) {
        error("%s: %s", path, problem.c_str());
        return 1;
    }
    fputs(describeSetupConfig(config).c_str(), stdout);
    return 0;
}
