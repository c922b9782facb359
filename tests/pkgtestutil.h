// pkgtestutil.h - building package files by hand (independent of the writer),
// reading written directories back, and a fixture that leaves the package
// library as it found it.
#ifndef PKGTESTUTIL_H
#define PKGTESTUTIL_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "package/operation.h"
#include "package/package.h"
#include "testutil.h"

// One directory record as the tests describe it.
struct RawEntry {
    std::string name;
    uint8_t mode = ENTRY_STORED;
    uint8_t xorKey = 0;
    int32_t dataOffset = 0;
    int32_t storedSize = 0;
    int32_t extractedSize = 0;
    int32_t patchOffset = -1;
    int8_t inlineLength = 0;     // value entries
    Bytes value;                 // value entries: up to 16 bytes at offset 23
};

Bytes recordBytes(const RawEntry& entry);

// A package built by hand: data first, records in the order of appending.
struct RawPackage {
    Bytes data;
    std::vector<RawEntry> records;
    int countByte = -1;          // -1: the number of records

    // Each returns the new record so a test may damage it.
    RawEntry& addStored(const std::string& name, const Bytes& content, uint8_t key = 0);
    RawEntry& addCompressed(const std::string& name, const Bytes& content);
    RawEntry& addValue(const std::string& name, const Bytes& value);
    Bytes bytes() const;         // data + enciphered directory
    std::string write(const std::string& fileName) const;   // into a temp file; its path
};

// The LZHUF block stream of content, as compressStream writes it.
Bytes compressBytes(const Bytes& content);
Bytes xorAll(Bytes bytes, uint8_t key);
// The last count records of a package file, deciphered, in the order of appending.
std::vector<PackageEntry> directoryOf(const Bytes& file, int count);
Bytes dataOf(const Bytes& file, const PackageEntry& entry);   // the entry's stored bytes
bool extractBytes(const char* name, Bytes& content);          // extractToMemory, whole entry

// Closes what the library has open and clears hooks and the latch around each test.
class PackageTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

#endif
