// bitmapcheck.h - the check of a decorative bitmap: what the background can
// paint safely, which the builder checks before it embeds one.
// Platform-neutral; no state.
#ifndef APP_BITMAPCHECK_H
#define APP_BITMAPCHECK_H

#include <stddef.h>
#include <stdint.h>

enum { BITMAP_FILE_HEADER_SIZE = 14 };   // "BM" file header in front of the info header
// A bitmap file image as the background paints it: "BM", a Windows info
// header of 40 to 124 bytes, width and height 1 to 65535 (bottom-up), 1, 4,
// 8 or 24 bits per pixel, uncompressed, no more colours than the depth
// allows, pixel data right after the colour table and whole inside the image.
enum BitmapProblem {
    BITMAP_OK = 0,
    BITMAP_NOT_BM,
    BITMAP_CORE_HEADER,
    BITMAP_HEADER_SIZE,
    BITMAP_TOP_DOWN,
    BITMAP_DIMENSIONS,
    BITMAP_DEPTH,
    BITMAP_COMPRESSED,
    BITMAP_COLOURS,
    BITMAP_PIXEL_OFFSET,
    BITMAP_SHORT
};

struct BitmapLayout {
    uint32_t headerSize;           // of the info header
    uint32_t width, height;
    uint32_t bits;                 // per pixel
    uint32_t colours;              // entries of the colour table; 0 for 24 bits
    uint32_t imageSize;            // bytes of pixel data
    uint32_t bitsOffset;           // of the pixel data, from the image's start
};

// BITMAP_OK and the layout (when not null), or the first problem found.
int checkBitmapImage(const uint8_t* image, size_t size, BitmapLayout* layout);
const char* bitmapProblemText(int problem);

#endif
