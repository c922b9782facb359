// fuzz_util.cpp - fuzz files: anonymous memory files on Linux (no disk traffic
// at thousands of runs a second), temporary files elsewhere.
#include "fuzz_util.h"

#include <string.h>

#include <string>

#ifdef __linux__
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static int memoryFiles[FUZZ_SLOTS] = {-1, -1, -1, -1};

static int resetSlot(int slot)
{
    FUZZ_CHECK(slot >= 0 && slot < FUZZ_SLOTS);
    if (memoryFiles[slot] < 0)
        memoryFiles[slot] = memfd_create("tamb-fuzz", 0);
    FUZZ_CHECK(memoryFiles[slot] >= 0);
    FUZZ_CHECK(ftruncate(memoryFiles[slot], 0) == 0);
    FUZZ_CHECK(lseek(memoryFiles[slot], 0, SEEK_SET) == 0);
    return memoryFiles[slot];
}

FileHandle fuzzSource(int slot, const uint8_t* data, size_t size)
{
    int fd = resetSlot(slot);
    FUZZ_CHECK(size == 0 || fileWrite(fd, data, (int32_t)size) == (int32_t)size);
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return (FileHandle)fd;
}

FileHandle fuzzSink(int slot)
{
    return (FileHandle)resetSlot(slot);
}

std::vector<uint8_t> fuzzSinkContents(int slot)
{
    struct stat info;
    FUZZ_CHECK(fstat(memoryFiles[slot], &info) == 0);
    std::vector<uint8_t> bytes((size_t)info.st_size);
    if (!bytes.empty())
        FUZZ_CHECK(pread(memoryFiles[slot], bytes.data(), bytes.size(), 0) == (ssize_t)bytes.size());
    return bytes;
}

#else
#include <process.h>

#include <filesystem>

static FileHandle handles[FUZZ_SLOTS] = {INVALID_FILE, INVALID_FILE, INVALID_FILE, INVALID_FILE};

static std::string slotPath(int slot);

static void removeSlotFiles(void)
{
    for (int slot = 0; slot < FUZZ_SLOTS; slot++) {
        fileClose(handles[slot]);
        handles[slot] = INVALID_FILE;
        fileDelete(slotPath(slot).c_str());
    }
}

static std::string slotPath(int slot)
{
    static std::string folder;
    if (folder.empty()) {
        folder = std::filesystem::temp_directory_path().string();
        atexit(removeSlotFiles);
    }
    // The process id keeps replays that run side by side apart.
    return folder + "/tamb-fuzz-" + std::to_string(_getpid()) + "-" + std::to_string(slot) + ".tmp";
}

static void closeSlot(int slot)
{
    FUZZ_CHECK(slot >= 0 && slot < FUZZ_SLOTS);
    fileClose(handles[slot]);
    handles[slot] = INVALID_FILE;
}

FileHandle fuzzSource(int slot, const uint8_t* data, size_t size)
{
    closeSlot(slot);
    std::string path = slotPath(slot);
    FileHandle file = fileCreate(path.c_str(), 0, nullptr);
    FUZZ_CHECK(file != INVALID_FILE);
    FUZZ_CHECK(size == 0 || fileWrite(file, data, (int32_t)size) == (int32_t)size);
    fileClose(file);
    handles[slot] = fileOpenRead(path.c_str());
    FUZZ_CHECK(handles[slot] != INVALID_FILE);
    return handles[slot];
}

FileHandle fuzzSink(int slot)
{
    closeSlot(slot);
    handles[slot] = fileCreate(slotPath(slot).c_str(), 0, nullptr);
    FUZZ_CHECK(handles[slot] != INVALID_FILE);
    return handles[slot];
}

std::vector<uint8_t> fuzzSinkContents(int slot)
{
    closeSlot(slot);
    FileHandle file = fileOpenRead(slotPath(slot).c_str());
    FUZZ_CHECK(file != INVALID_FILE);
    int32_t size = fileSize(file);
    FUZZ_CHECK(size >= 0);
    std::vector<uint8_t> bytes((size_t)size);
    FUZZ_CHECK(size == 0 || fileRead(file, bytes.data(), size) == size);
    fileClose(file);
    return bytes;
}
#endif
