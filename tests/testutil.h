// testutil.h - small helpers the tests share: temporary files and test data.
#ifndef TESTUTIL_H
#define TESTUTIL_H

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A fresh path in this process's own temporary folder (removed at exit).
std::string tempPath(const std::string& name);
void writeFileBytes(const std::string& path, const Bytes& bytes);
Bytes readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
// A small file's content as text, or "<missing>" when it does not exist.
std::string textOf(const std::string& path);

Bytes bytesOf(const char* text);
Bytes fromHex(const char* hex);                     // "52 43 a5", spaces allowed
Bytes randomBytes(size_t count, uint32_t seed);     // incompressible
Bytes textBytes(size_t count, uint32_t seed);       // English-like words
Bytes runBytes(size_t count, uint32_t seed);        // long runs of equal bytes

#endif
