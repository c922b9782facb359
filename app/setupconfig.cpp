// setupconfig.cpp - finding an unwritten stub's markers, deciphering the
// configuration block.
#include "app/setupconfig.h"

#include "coding/littleendian.h"
#include "coding/pc1.h"

int isConfigMarker(const uint8_t* at)
{
    return readLe32(at) == CONFIG_MARKER_1 && readLe32(at + 4) == CONFIG_MARKER_2;
}

long findConfigMarkers(const uint8_t* image, size_t size)
{
    for (size_t at = 0; at + 8 + CONFIG_PAYLOAD_SIZE <= size; at++)
        if (isConfigMarker(image + at))
            return (long)at;
    return -1;
}

int decipherSetupConfig(uint8_t* block)
{
    if (readLe32(block) != CONFIG_MAGIC)
        return 0;
    int32_t length = (int32_t)readLe32(block + 4);
    if (length <= 0 || length >= CONFIG_LENGTH_LIMIT)
        return 0;
    // A longer length would run into whatever data follows the payload area.
    if (length > CONFIG_PAYLOAD_SIZE)
        length = CONFIG_PAYLOAD_SIZE;
    setKey(0);
    crypt(block + 8, length, 0);
    return 1;
}
