// fuzz_roundtrip - any bytes compressed and decompressed come back unchanged,
// framed as the reader expects, whether the stream ends its file or is
// followed by other data (as inside a package). The first byte is an XOR key
// that the source is scrambled with and the compressor takes off again.
#include <string.h>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "fuzz_util.h"

static uint16_t get16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

// Blocks as the compressor writes them: a 10-byte first block with the size,
// full blocks while the stream fills them, then one shorter block.
static void checkFraming(const std::vector<uint8_t>& packed, uint32_t size)
{
    size_t at = 0;
    int number = 0;
    for (;;) {
        FUZZ_CHECK(packed.size() - at >= BLOCK_HEADER_SIZE);
        const uint8_t* block = packed.data() + at;
        size_t length = get16(block + 4);
        FUZZ_CHECK(get16(block) == BLOCK_MAGIC);
        FUZZ_CHECK(length >= BLOCK_HEADER_SIZE && length <= packed.size() - at);
        FUZZ_CHECK(get16(block + 2) == blockChecksum(block + BLOCK_HEADER_SIZE, (int32_t)length - BLOCK_HEADER_SIZE));
        if (number == 0) {
            FUZZ_CHECK(length == FIRST_BLOCK_SIZE);
            FUZZ_CHECK(((uint32_t)block[6] | (uint32_t)block[7] << 8 | (uint32_t)block[8] << 16 |
                        (uint32_t)block[9] << 24) == size);
        }
        at += length;
        number++;
        if (number > 1 && length < BLOCK_SIZE)
            break;
    }
    FUZZ_CHECK(at == packed.size());
}

static void checkDecodes(const std::vector<uint8_t>& packed, const uint8_t* expected, int32_t size)
{
    // One spare byte past the capacity: the sanitizer cannot see writes into
    // it, so it is checked by hand.
    std::vector<uint8_t> memory((size_t)size + 1, 0xA5);
    FileHandle source = fuzzSource(2, packed.data(), packed.size());
    memorySink = memory.data();
    memorySinkCapacity = size;
    FUZZ_CHECK(decompressStream(source, INVALID_FILE) == 1);
    FUZZ_CHECK(totalWritten == size);
    FUZZ_CHECK(size == 0 || memcmp(memory.data(), expected, (size_t)size) == 0);
    FUZZ_CHECK(memory[(size_t)size] == 0xA5);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > FUZZ_MAX_INPUT)
        return 0;
    uint8_t key = data[0];
    const uint8_t* payload = data + 1;
    int32_t payloadSize = (int32_t)size - 1;

    std::vector<uint8_t> scrambled(payload, payload + payloadSize);
    for (uint8_t& byte : scrambled)
        byte ^= key;
    FileHandle source = fuzzSource(0, scrambled.data(), scrambled.size());
    FileHandle sink = fuzzSink(1);
    inputXorKey = key;
    FUZZ_CHECK(compressStream(source, sink, payloadSize) == 1);
    FUZZ_CHECK(inputXorKey == 0);
    std::vector<uint8_t> packed = fuzzSinkContents(1);
    FUZZ_CHECK((size_t)totalWritten == packed.size());
    checkFraming(packed, (uint32_t)payloadSize);

    // The stream alone in its file, then followed by other bytes.
    checkDecodes(packed, payload, payloadSize);
    packed.insert(packed.end(), payload, payload + (payloadSize < 64 ? payloadSize : 64));
    packed.insert(packed.end(), 16, 0xFF);
    checkDecodes(packed, payload, payloadSize);
    return 0;
}
