// bitmapcheck.cpp - the decorative bitmap check.
#include "app/bitmapcheck.h"

#include "coding/littleendian.h"

enum {
    CORE_HEADER_SIZE = 12,
    INFO_HEADER_SIZE = 40,
    LARGEST_HEADER_SIZE = 124      // the version 5 header
};

int checkBitmapImage(const uint8_t* image, size_t size, BitmapLayout* layout)
{
    if (size < BITMAP_FILE_HEADER_SIZE + INFO_HEADER_SIZE || readLe16(image) != 0x4D42)
        return BITMAP_NOT_BM;
    BitmapLayout b;
    b.headerSize = readLe32(image + 14);
    if (b.headerSize == CORE_HEADER_SIZE)
        return BITMAP_CORE_HEADER;
    if (b.headerSize < INFO_HEADER_SIZE || b.headerSize > LARGEST_HEADER_SIZE)
        return BITMAP_HEADER_SIZE;
    int32_t width = (int32_t)readLe32(image + 18);
    int32_t height = (int32_t)readLe32(image + 22);
    if (height < 0)
        return BITMAP_TOP_DOWN;
    // The painter takes both as 16-bit values.
    if (width <= 0 || height == 0 || width > 65535 || height > 65535)
        return BITMAP_DIMENSIONS;
    b.width = (uint32_t)width;
    b.height = (uint32_t)height;
    b.bits = readLe16(image + 28);
    if (b.bits != 1 && b.bits != 4 && b.bits != 8 && b.bits != 24)
        return BITMAP_DEPTH;
    if (readLe32(image + 30) != 0)
        return BITMAP_COMPRESSED;
    b.colours = readLe32(image + 46) & 0xFFFF;   // only the low half counts
    if (b.bits == 24)
        b.colours = 0;
    else if (b.colours == 0)
        b.colours = 1u << b.bits;
    if (b.colours > (1u << b.bits) && b.bits != 24)
        return BITMAP_COLOURS;
    uint64_t tableEnd = BITMAP_FILE_HEADER_SIZE + (uint64_t)b.headerSize + 4ull * b.colours;
    uint64_t rowSize = (((uint64_t)b.width * b.bits + 31) & ~31ull) / 8;
    uint64_t pixelBytes = rowSize * b.height;
    // The painter takes the pixels from the end of the colour table; a file
    // that says otherwise would show something else than its author saw.
    if (readLe32(image + 10) != tableEnd)
        return BITMAP_PIXEL_OFFSET;
    if (tableEnd + pixelBytes > size)
        return BITMAP_SHORT;
    b.imageSize = (uint32_t)pixelBytes;
    b.bitsOffset = (uint32_t)tableEnd;
    if (layout)
        *layout = b;
    return BITMAP_OK;
}
