// fuzz_util.h - what the fuzz targets share: files made from the fuzzer's
// bytes, and a check that stays on in every build.
#ifndef FUZZ_UTIL_H
#define FUZZ_UTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "coding/fileio.h"

// Larger inputs teach the fuzzer nothing new and only slow it down.
#define FUZZ_MAX_INPUT (1 << 20)

#define FUZZ_CHECK(condition)                                                         \
    do {                                                                              \
        if (!(condition)) {                                                           \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                  \
        }                                                                             \
    } while (0)

// Slots name a few files that are reused from one input to the next.
enum { FUZZ_SLOTS = 4 };

// A readable file holding exactly the given bytes, positioned at its start.
// The handle stays valid until the slot is used again.
FileHandle fuzzSource(int slot, const uint8_t* data, size_t size);

// An empty writable file positioned at its start, valid until the slot is used again.
FileHandle fuzzSink(int slot);

// Everything written to a sink slot so far.
std::vector<uint8_t> fuzzSinkContents(int slot);

#endif
