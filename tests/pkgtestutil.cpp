// pkgtestutil.cpp - hand-built packages and the package test fixture.
#include "pkgtestutil.h"

#include <string.h>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/fileio.h"
#include "coding/pc1.h"
#include "package/transfer.h"
#include "package/writer.h"

// Package tests compress entries (XFER_COMPRESS): the transfer engine reaches
// the encoder once it is enabled, before any test runs.
static const int compressionEnabled = (enableCompression(), 1);

static void put32(uint8_t* at, int32_t value)
{
    putLe32(at, (uint32_t)value);
}

Bytes recordBytes(const RawEntry& entry)
{
    Bytes record(ENTRY_SIZE, 0);
    record[0] = (uint8_t)entry.inlineLength;
    record[1] = entry.mode;
    record[2] = entry.xorKey;
    memcpy(&record[3], entry.name.data(), entry.name.size() < 16 ? entry.name.size() : 16);
    put32(&record[19], entry.dataOffset);
    put32(&record[23], entry.storedSize);
    put32(&record[27], entry.extractedSize);
    put32(&record[31], entry.patchOffset);
    record[35] = ENTRY_SIZE;
    put32(&record[36], (int32_t)ENTRY_MAGIC);
    if (entry.mode == ENTRY_VALUE && !entry.value.empty())
        memcpy(&record[23], entry.value.data(), entry.value.size() < 16 ? entry.value.size() : 16);
    return record;
}

RawEntry& RawPackage::addStored(const std::string& name, const Bytes& content, uint8_t key)
{
    RawEntry entry;
    entry.name = name;
    entry.xorKey = key;
    entry.dataOffset = (int32_t)data.size();
    entry.storedSize = entry.extractedSize = (int32_t)content.size();
    Bytes stored = xorAll(content, key);
    data.insert(data.end(), stored.begin(), stored.end());
    records.push_back(entry);
    return records.back();
}

RawEntry& RawPackage::addCompressed(const std::string& name, const Bytes& content)
{
    Bytes coded = compressBytes(content);
    RawEntry entry;
    entry.name = name;
    entry.mode = ENTRY_COMPRESSED;
    entry.dataOffset = (int32_t)data.size();
    entry.storedSize = (int32_t)coded.size();
    entry.extractedSize = (int32_t)content.size();
    data.insert(data.end(), coded.begin(), coded.end());
    records.push_back(entry);
    return records.back();
}

RawEntry& RawPackage::addValue(const std::string& name, const Bytes& value)
{
    RawEntry entry;
    entry.name = name;
    entry.mode = ENTRY_VALUE;
    entry.inlineLength = (int8_t)value.size();
    entry.value = value;
    entry.patchOffset = 0;
    records.push_back(entry);
    return records.back();
}

Bytes RawPackage::bytes() const
{
    Bytes directory;
    for (size_t i = records.size(); i-- > 0;) {   // newest record first
        Bytes record = recordBytes(records[i]);
        if (i == 0)
            record[0] = (uint8_t)(countByte >= 0 ? countByte : (int)records.size());
        directory.insert(directory.end(), record.begin(), record.end());
    }
    setKey(PC1_DIRECTORY_KEY);
    crypt(directory.data(), (int32_t)directory.size(), 1);
    Bytes file = data;
    file.insert(file.end(), directory.begin(), directory.end());
    return file;
}

std::string RawPackage::write(const std::string& fileName) const
{
    std::string path = tempPath(fileName);
    writeFileBytes(path, bytes());
    return path;
}

Bytes compressBytes(const Bytes& content)
{
    std::string rawPath = tempPath("compress-in.bin");
    std::string codedPath = tempPath("compress-out.bin");
    writeFileBytes(rawPath, content);
    FileHandle source = fileOpenRead(rawPath.c_str());
    FileHandle sink = fileCreate(codedPath.c_str(), 0, 0);
    EXPECT_EQ(compressStream(source, sink, (int32_t)content.size()), 1);
    fileClose(source);
    fileClose(sink);
    return readFileBytes(codedPath);
}

Bytes xorAll(Bytes bytes, uint8_t key)
{
    for (uint8_t& b : bytes)
        b ^= key;
    return bytes;
}

std::vector<PackageEntry> directoryOf(const Bytes& file, int count)
{
    std::vector<PackageEntry> entries;
    if ((size_t)count * ENTRY_SIZE > file.size())
        return entries;
    Bytes directory(file.end() - count * ENTRY_SIZE, file.end());
    setKey(PC1_DIRECTORY_KEY);
    crypt(directory.data(), (int32_t)directory.size(), 0);
    for (int r = count; r-- > 0;) {   // the file's last record was appended first
        PackageEntry entry;
        memcpy(&entry, &directory[(size_t)r * ENTRY_SIZE], ENTRY_SIZE);
        entries.push_back(entry);
    }
    return entries;
}

Bytes dataOf(const Bytes& file, const PackageEntry& entry)
{
    size_t offset = (size_t)getLe32(entry.dataOffset);
    size_t size = (size_t)getLe32(entry.storedSize);
    if (offset + size > file.size())
        return Bytes();
    return Bytes(file.begin() + offset, file.begin() + offset + size);
}

bool extractBytes(const char* name, Bytes& content)
{
    int32_t size = getExtractedSize(name);
    if (size < 0)
        return false;
    content.assign((size_t)size, 0);
    uint8_t spare;
    return extractToMemory(name, size ? content.data() : &spare, size) == 1;
}

static void resetLibrary()
{
    closePackage(packageReaderHandle());
    closePackage(packageWriterHandle());
    setSharedTarget(0);
    setStopOnError(0);
    presetPackageSize(0);
    confirmOverwriteHook = 0;
    beforeTransferHook = 0;
    afterTransferHook = 0;
}

void PackageTest::SetUp()
{
    resetLibrary();
}

void PackageTest::TearDown()
{
    resetLibrary();
}
