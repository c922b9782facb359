// testutil.cpp - temporary files and generated test data.
#include "testutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

static std::string tempFolder;

static void removeTempFolder()
{
#ifdef _WIN32
    std::string command = "rmdir /s /q \"" + tempFolder + "\" >nul 2>nul";
#else
    std::string command = "rm -rf '" + tempFolder + "'";
#endif
    if (system(command.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", tempFolder.c_str());
}

std::string tempPath(const std::string& name)
{
    if (tempFolder.empty()) {
#ifdef _WIN32
        char base[MAX_PATH];
        DWORD n = GetTempPathA(sizeof base, base);
        if (n == 0 || n >= sizeof base)
            strcpy(base, ".\\");
        tempFolder = std::string(base) + "tambtest" + std::to_string(_getpid());
        _mkdir(tempFolder.c_str());
#else
        const char* base = getenv("TMPDIR");
        tempFolder = std::string(base ? base : "/tmp") + "/tambtest" + std::to_string(getpid());
        mkdir(tempFolder.c_str(), 0755);
#endif
        atexit(removeTempFolder);
    }
#ifdef _WIN32
    return tempFolder + "\\" + name;
#else
    return tempFolder + "/" + name;
#endif
}

void writeFileBytes(const std::string& path, const Bytes& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "cannot create %s\n", path.c_str());
        abort();
    }
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        abort();
    fclose(f);
}

Bytes readFileBytes(const std::string& path)
{
    Bytes bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string textOf(const std::string& path)
{
    if (!fileExists(path))
        return "<missing>";
    Bytes bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

Bytes bytesOf(const char* text)
{
    return Bytes(text, text + strlen(text));
}

Bytes fromHex(const char* hex)
{
    Bytes bytes;
    while (*hex) {
        while (*hex == ' ')
            hex++;
        if (!hex[0] || !hex[1])
            break;
        unsigned value = 0;
        sscanf(hex, "%2x", &value);
        bytes.push_back((uint8_t)value);
        hex += 2;
    }
    return bytes;
}

// xorshift32: the same bytes on every platform and run.
static uint32_t nextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

Bytes randomBytes(size_t count, uint32_t seed)
{
    uint32_t state = seed ? seed : 1;
    Bytes bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = (uint8_t)(nextRandom(state) >> 24);
    return bytes;
}

Bytes textBytes(size_t count, uint32_t seed)
{
    static const char* words[] = {"the", "setup", "program", "installs", "files", "into",
        "a", "folder", "under", "Program", "Files", "and", "registers", "shortcuts",
        "for", "each", "user", "of", "this", "machine", "compressed", "package", "entry",
        "with", "its", "name", "size", "window", "dialog", "progress."};
    const size_t wordCount = sizeof words / sizeof words[0];
    uint32_t state = seed ? seed : 1;
    Bytes bytes;
    bytes.reserve(count + 16);
    size_t lineLength = 0;
    while (bytes.size() < count) {
        const char* word = words[nextRandom(state) % wordCount];
        bytes.insert(bytes.end(), word, word + strlen(word));
        lineLength += strlen(word) + 1;
        bytes.push_back(lineLength > 70 ? '\n' : ' ');
        if (lineLength > 70)
            lineLength = 0;
    }
    bytes.resize(count);
    return bytes;
}

Bytes runBytes(size_t count, uint32_t seed)
{
    uint32_t state = seed ? seed : 1;
    Bytes bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        uint8_t value = (uint8_t)nextRandom(state);
        size_t run = 1 + nextRandom(state) % 700;
        while (run-- && bytes.size() < count)
            bytes.push_back(value);
    }
    return bytes;
}
