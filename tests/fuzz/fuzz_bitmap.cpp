// fuzz_bitmap - any bytes as a decorative bitmap: the check never reads
// outside the image, and what it accepts has a layout whose pixel data lies
// whole inside the image, right after the colour table.
#include "fuzz_util.h"
#include "app/bitmapcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT)
        return 0;
    // A copy of exactly size bytes: a read past the end is caught by the sanitizer.
    std::vector<uint8_t> image(data, data + size);
    BitmapLayout layout;
    int problem = checkBitmapImage(image.data(), image.size(), &layout);
    FUZZ_CHECK(problem >= BITMAP_OK && problem <= BITMAP_SHORT);
    FUZZ_CHECK(bitmapProblemText(problem) != nullptr);
    if (problem != BITMAP_OK)
        return 0;
    FUZZ_CHECK(layout.bits == 1 || layout.bits == 4 || layout.bits == 8 || layout.bits == 24);
    FUZZ_CHECK(layout.width >= 1 && layout.height >= 1);
    FUZZ_CHECK(layout.colours <= (layout.bits == 24 ? 0u : 1u << layout.bits));
    FUZZ_CHECK(layout.bitsOffset == 14 + layout.headerSize + 4 * layout.colours);
    FUZZ_CHECK((uint64_t)layout.bitsOffset + layout.imageSize <= size);
    uint64_t stride = (((uint64_t)layout.width * layout.bits + 31) / 32) * 4;
    FUZZ_CHECK(layout.imageSize >= stride * layout.height);
    return 0;
}
