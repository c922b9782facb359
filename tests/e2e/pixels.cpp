// pixels.cpp - the screen as the programs see it, and its pixels against the
// background that the setup must paint: three bands and the decorative
// bitmaps at their places.
#include "driver.h"
#include <stdio.h>
#include <string.h>
#include <map>
#include <set>

static DWORD le32(const std::vector<BYTE>& b, size_t at)
{
    return (DWORD)b[at] | (DWORD)b[at + 1] << 8 | (DWORD)b[at + 2] << 16 | (DWORD)b[at + 3] << 24;
}

// Reads 8-bit palettized and 24-bit bitmaps, the forms of the decoration.
static bool loadBitmap(const char* path, Image* image)
{
    std::string raw;
    if (!readFile(path, &raw) || raw.size() < 54 || raw[0] != 'B' || raw[1] != 'M')
        return fail("%s is not a bitmap file", path);
    std::vector<BYTE> b(raw.begin(), raw.end());
    DWORD headerSize = le32(b, 14), bitsOffset = le32(b, 10);
    int width = (int)le32(b, 18), height = (int)le32(b, 22);
    int bits = b[28] | b[29] << 8;
    DWORD colors = le32(b, 46);
    if (bits == 8 && colors == 0)
        colors = 256;
    bool topDown = height < 0;
    if (topDown)
        height = -height;
    size_t stride = ((size_t)width * bits + 31) / 32 * 4;
    if ((bits != 8 && bits != 24) || le32(b, 30) != 0 || width <= 0 ||
        bitsOffset + stride * height > b.size() || 14 + headerSize + 4 * colors > b.size())
        return fail("%s: only uncompressed 8- and 24-bit bitmaps are read", path);
    image->width = width;
    image->height = height;
    image->pixels.assign((size_t)width * height, 0);
    for (int y = 0; y < height; y++) {
        const BYTE* row = &b[bitsOffset + stride * (topDown ? y : height - 1 - y)];
        for (int x = 0; x < width; x++) {
            if (bits == 8 && row[x] >= colors)
                return fail("%s: pixel (%d,%d) has colour %u of %lu", path, x, y, row[x], (unsigned long)colors);
            const BYTE* p = bits == 24 ? row + 3 * x : &b[14 + headerSize + 4 * row[x]];
            image->pixels[(size_t)y * width + x] = (DWORD)p[2] << 16 | (DWORD)p[1] << 8 | p[0];
        }
    }
    return true;
}

// Writes a 24-bit bottom-up bitmap file.
static bool saveBitmap(const char* path, const Image& image)
{
    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER info = {};
    size_t stride = ((size_t)image.width * 3 + 3) / 4 * 4;
    info.biSize = sizeof info;
    info.biWidth = image.width;
    info.biHeight = image.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof info;
    fileHeader.bfSize = (DWORD)(fileHeader.bfOffBits + stride * image.height);
    bool written = fwrite(&fileHeader, sizeof fileHeader, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1;
    std::vector<BYTE> row(stride, 0);
    for (int y = image.height - 1; y >= 0 && written; y--) {
        for (int x = 0; x < image.width; x++) {
            DWORD p = image.at(x, y);
            row[3 * x] = (BYTE)p;
            row[3 * x + 1] = (BYTE)(p >> 8);
            row[3 * x + 2] = (BYTE)(p >> 16);
        }
        written = fwrite(row.data(), 1, stride, out) == stride;
    }
    return fclose(out) == 0 && written;
}

void screenInfo(int* bitsPerPixel, bool* palette)
{
    HDC screen = GetDC(NULL);
    *bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    *palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    ReleaseDC(NULL, screen);
}

// Through GDI rather than from the X server: on a palette display an X
// capture shows Wine's colours through whichever colormap X has installed.
static bool captureScreen(Image* image)
{
    HDC screen = GetDC(NULL);
    int W = GetDeviceCaps(screen, HORZRES), H = GetDeviceCaps(screen, VERTRES);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = W;
    info.bmiHeader.biHeight = -H;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC memory = CreateCompatibleDC(screen);
    bool copied = false;
    if (section && memory) {
        HGDIOBJ old = SelectObject(memory, section);
        copied = BitBlt(memory, 0, 0, W, H, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (copied) {
        image->width = W;
        image->height = H;
        image->pixels.assign((const DWORD*)bits, (const DWORD*)bits + (size_t)W * H);
        for (DWORD& p : image->pixels)
            p &= 0xFFFFFF;
    }
    if (memory)
        DeleteDC(memory);
    if (section)
        DeleteObject(section);
    ReleaseDC(NULL, screen);
    return copied;
}

static Image crop(const Image& image, const RECT& rect)
{
    Image out;
    for (long y = rect.top; y < rect.top + rect.bottom; y++)
        if (y >= 0 && y < image.height)
            out.height++;
    for (long x = rect.left; x < rect.left + rect.right; x++)
        if (x >= 0 && x < image.width)
            out.width++;
    for (long y = rect.top; y < rect.top + rect.bottom; y++)
        for (long x = rect.left; x < rect.left + rect.right; x++)
            if (y >= 0 && y < image.height && x >= 0 && x < image.width)
                out.pixels.push_back(image.at((int)x, (int)y));
    return out;
}

bool screenshot(const char* name, const RECT* rect, Image* screen)
{
    if (!captureScreen(screen))
        return fail("cannot copy the screen for %s", name);
    std::string base = setting.shots + "\\" + name;
    if (!saveBitmap((base + "-screen.bmp").c_str(), *screen))
        return fail("cannot write %s-screen.bmp", base.c_str());
    if (rect && !saveBitmap((base + ".bmp").c_str(), crop(*screen, *rect)))
        return fail("cannot write %s.bmp", base.c_str());
    note("screenshot %s", name);
    return true;
}

size_t coloursIn(const Image& image, const RECT& rect)
{
    Image part = crop(image, rect);
    std::set<DWORD> colours(part.pixels.begin(), part.pixels.end());
    return colours.size();
}

// A length of the 96 DPI layout at dpi, rounded as MulDiv rounds.
static int atDpi(int length, int dpi)
{
    return (length * dpi + 48) / 96;
}

// The expected screen: the three bands, then each decorative bitmap at its
// place, later ones over earlier ones, as the background paints them. At a
// dpi other than 96 every length of the layout is scaled (atDpi).
// Where each bitmap of decorativeBitmapNames goes on a W x H screen.
struct Placement {
    int left, top;
    int tileMode;   // 0 once, 1 tiled leftwards, 2 tiled leftwards and upwards
};

static void placements(int W, int H, int dpi, Placement out[DECORATION_COUNT])
{
    auto s = [dpi](int length) { return atDpi(length, dpi); };
    int topShadowLeft = W - s(64) < s(478) ? s(414) : W - s(64);
    int orangeLeft = W - s(220) < s(478) ? s(478) : W - s(220);
    const Placement table[DECORATION_COUNT] = {{W - s(256), H - s(189), 2}, {s(10), s(12), 0},
                                               {W - s(257), H - s(56), 0},  {s(10), H - s(45), 0},
                                               {topShadowLeft, 0, 1},       {orangeLeft, 0, 0},
                                               {W - s(64), H - s(71), 1},   {W - s(64), s(96), 1}};
    memcpy(out, table, sizeof table);
}

// What a pixel of the screen may be: each channel within [low, high]. A
// bitmap copied pixel for pixel allows its own colour; one smoothly scaled
// allows the range of the source pixels around the place the screen pixel
// maps back to, and a little for rounding.
struct Allowed {
    std::vector<DWORD> low, high;
};
enum { SCALING_TOLERANCE = 3 };

static void allowRange(const Image& bitmap, int shownWidth, int shownHeight, int x, int y, DWORD* low, DWORD* high)
{
    if (shownWidth == bitmap.width && shownHeight == bitmap.height) {
        *low = *high = bitmap.at(x, y);
        return;
    }
    // The pixel's centre in source pixels, and the source pixels next to it.
    double u = (x + 0.5) * bitmap.width / shownWidth - 0.5, v = (y + 0.5) * bitmap.height / shownHeight - 0.5;
    int x0 = (int)u - 2, x1 = (int)u + 3, y0 = (int)v - 2, y1 = (int)v + 3;
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (int sy = y0 < 0 ? 0 : y0; sy <= y1 && sy < bitmap.height; sy++)
        for (int sx = x0 < 0 ? 0 : x0; sx <= x1 && sx < bitmap.width; sx++)
            for (int c = 0; c < 3; c++) {
                int channel = (int)(bitmap.at(sx, sy) >> (8 * c) & 255);
                lo[c] = channel < lo[c] ? channel : lo[c];
                hi[c] = channel > hi[c] ? channel : hi[c];
            }
    *low = *high = 0;
    for (int c = 0; c < 3; c++) {
        int l = lo[c] - SCALING_TOLERANCE, h = hi[c] + SCALING_TOLERANCE;
        *low |= (DWORD)(l < 0 ? 0 : l) << (8 * c);
        *high |= (DWORD)(h > 255 ? 255 : h) << (8 * c);
    }
}

static bool allows(DWORD low, DWORD high, DWORD colour)
{
    for (int c = 0; c < 3; c++) {
        int channel = (int)(colour >> (8 * c) & 255);
        if (channel < (int)(low >> (8 * c) & 255) || channel > (int)(high >> (8 * c) & 255))
            return false;
    }
    return true;
}

static void drawCopy(Image* screen, std::vector<int>* owner, Allowed* allowed, int slot, const Image& bitmap,
                     int shownWidth, int shownHeight, int x0, int y0)
{
    for (int y = 0; y < shownHeight; y++)
        for (int x = 0; x < shownWidth; x++) {
            int sx = x0 + x, sy = y0 + y;
            if (sx < 0 || sy < 0 || sx >= screen->width || sy >= screen->height)
                continue;
            size_t i = (size_t)sy * screen->width + sx;
            allowRange(bitmap, shownWidth, shownHeight, x, y, &allowed->low[i], &allowed->high[i]);
            // The colour the pixel has in the bitmap (the nearest one when scaled).
            screen->pixels[i] = bitmap.at(x * bitmap.width / shownWidth, y * bitmap.height / shownHeight);
            (*owner)[i] = slot;
        }
}

static void drawPlacement(Image* screen, std::vector<int>* owner, Allowed* allowed, int slot, const Image& bitmap,
                          const Placement& p, int dpi)
{
    int width = atDpi(bitmap.width, dpi), height = atDpi(bitmap.height, dpi), tileTop = atDpi(97, dpi);
    int x = p.left, y = p.top;
    for (;;) {
        drawCopy(screen, owner, allowed, slot, bitmap, width, height, x, y);
        if (p.tileMode == 0)
            return;
        if (x > 0) {
            x -= width;
            continue;
        }
        if (p.tileMode == 1 || y <= tileTop)
            return;
        y -= height;
        if (y < tileTop)
            y = tileTop;
        x = p.left;
    }
}

// Without the palette the blue band is the exact colour (86,128,170),
// "BLUE" is not drawn and every pixel must be exact; with it the BLUE tiles
// cover the band and colours are compared by consistency (below). Bands
// only: a setup without a valid package shows the three bands alone.
bool checkBackground(const char* name, const Image& screen, const RECT& exclude, int mode, int dpi)
{
    bool palette = mode == BACKGROUND_PALETTE;
    bool bandsOnly = mode == BACKGROUND_BANDS_ONLY;
    int W = screen.width, H = screen.height;
    Image expected;
    expected.width = W;
    expected.height = H;
    expected.pixels.assign((size_t)W * H, 0xFFFFFF);
    std::vector<int> owner((size_t)W * H, -1);   // -1 white band, -2 blue band, else slot
    for (int y = atDpi(96, dpi); y < H - atDpi(61, dpi); y++)
        for (int x = 0; x < W; x++) {
            expected.pixels[(size_t)y * W + x] = 0x5680AA;
            owner[(size_t)y * W + x] = -2;
        }
    Allowed allowed;
    allowed.low = expected.pixels;
    allowed.high = expected.pixels;
    Placement table[DECORATION_COUNT];
    placements(W, H, dpi, table);
    for (int slot = 0; slot < DECORATION_COUNT; slot++) {
        if ((slot == 0 && !palette) || bandsOnly)
            continue;
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s.bmp", setting.decor.c_str(), decorativeBitmapNames[slot]);
        Image bitmap;
        if (!loadBitmap(path, &bitmap))
            return false;
        drawPlacement(&expected, &owner, &allowed, slot, bitmap, table[slot], dpi);
    }
    std::vector<bool> excluded((size_t)W * H, false);
    for (long row = exclude.top < 0 ? 0 : exclude.top; row < exclude.top + exclude.bottom && row < H; row++)
        for (long col = exclude.left < 0 ? 0 : exclude.left; col < exclude.left + exclude.right && col < W; col++)
            excluded[(size_t)row * W + col] = true;
    // Regions: the blue band, the white bands, then each bitmap.
    enum { REGIONS = DECORATION_COUNT + 2 };
    // Per region: pixels compared, pixels wrong, the first wrong one.
    struct Tally {
        long compared = 0, wrong = 0;
        int x = -1, y = -1;
        DWORD want = 0, got = 0;
    } tally[REGIONS];
    // In palette mode the colours on the screen are whatever the display's
    // palette makes of the bitmaps' colours, so colours are not compared:
    // each region's expected colour must show as one and the same screen
    // colour everywhere (the colour most pixels of that expected colour
    // show). A bitmap at a wrong place, or missing, breaks that.
    std::vector<std::map<DWORD, std::map<DWORD, long>>> shown(REGIONS);
    if (palette)
        for (size_t i = 0; i < expected.pixels.size(); i++)
            if (!excluded[i])
                shown[owner[i] + 2][expected.pixels[i]][screen.pixels[i]]++;
    std::vector<std::map<DWORD, DWORD>> mapped(REGIONS);
    for (int region = 0; region < REGIONS; region++)
        for (const auto& colour : shown[region]) {
            long most = -1;
            for (const auto& seen : colour.second)
                if (seen.second > most) {
                    most = seen.second;
                    mapped[region][colour.first] = seen.first;
                }
        }
    std::vector<std::set<DWORD>> screenColours(REGIONS), expectedColours(REGIONS);
    Image diff = expected;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            size_t i = (size_t)y * W + x;
            if (excluded[i])
                continue;
            int region = owner[i] + 2;
            Tally& t = tally[region];
            t.compared++;
            DWORD want = expected.pixels[i], got = screen.pixels[i];
            screenColours[region].insert(got);
            expectedColours[region].insert(want);
            bool same;
            if (palette) {
                want = mapped[region][want];
                same = want == got;
            } else {
                same = allows(allowed.low[i], allowed.high[i], got);
            }
            diff.pixels[i] = same ? (got >> 2 & 0x3F3F3F) : 0xFF00FF;
            if (same)
                continue;
            if (t.wrong++ == 0) {
                t.x = x;
                t.y = y;
                t.want = want;
                t.got = got;
            }
        }
    bool result = true;
    for (int region = 0; region < REGIONS; region++) {
        const Tally& t = tally[region];
        const char* name = region == 0 ? "blue band" : region == 1 ? "white bands" : decorativeBitmapNames[region - 2];
        if (t.compared == 0) {
            // "BLUE" is drawn in palette mode only; a bitmap that lies wholly
            // under a dialog or under later ones has nothing to show either.
            note("  %-12s %s", name,
                   region >= 2 && bandsOnly    ? "not expected"
                   : region == 2 && !palette ? "not drawn (palette mode only)"
                                             : "not visible");
            continue;
        }
        // A region drawn in one flat colour where its bitmap has clearly
        // different colours would pass the palette test above: it is wrong
        // too. (Shades close to each other may well meet in one palette colour.)
        int spread = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            int low = 255, high = 0;
            for (DWORD colour : expectedColours[region]) {
                int channel = (int)(colour >> shift & 255);
                low = channel < low ? channel : low;
                high = channel > high ? channel : high;
            }
            spread = high - low > spread ? high - low : spread;
        }
        bool flat = palette && screenColours[region].size() < 2 && spread > 96;
        if (t.wrong == 0 && !flat) {
            note("  %-12s ok (%ld pixels, %zu colours shown for %zu)", name, t.compared, screenColours[region].size(),
                   expectedColours[region].size());
            continue;
        }
        if (flat) {
            note("  %-12s WRONG: one flat colour #%06lx where the bitmap has %zu colours", name,
                   (unsigned long)*screenColours[region].begin(), expectedColours[region].size());
            result = false;
            continue;
        }
        note("  %-12s WRONG: %ld of %ld pixels differ; first at (%d,%d): expected #%06lx, got #%06lx", name, t.wrong,
               t.compared, t.x, t.y, (unsigned long)t.want, (unsigned long)t.got);
        result = false;
    }
    std::string diffPath = setting.shots + "\\" + name + "-diff.bmp";
    if (result)
        return pass("background pixels of %s", name);
    if (!saveBitmap(diffPath.c_str(), diff))
        note("cannot write %s", diffPath.c_str());
    return fail("background pixels of %s (wrong pixels in magenta: %s-diff)", name, name);
}


// The bitmap file through the system's loader (which takes RLE8 too), as
// 0xRRGGBB pixels, row 0 at the top.
static bool loadAnyBitmap(const char* path, Image* image)
{
    HBITMAP loaded = (HBITMAP)LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    BITMAP size;
    if (!loaded || !GetObjectA(loaded, sizeof size, &size)) {
        if (loaded)
            DeleteObject(loaded);
        return fail("cannot load the picture %s", path);
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.bmWidth;
    info.bmiHeader.biHeight = -size.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    image->width = size.bmWidth;
    image->height = size.bmHeight;
    image->pixels.assign((size_t)size.bmWidth * size.bmHeight, 0);
    HDC screen = GetDC(NULL);
    int rows = GetDIBits(screen, loaded, 0, (UINT)size.bmHeight, image->pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(NULL, screen);
    DeleteObject(loaded);
    for (DWORD& p : image->pixels)
        p &= 0xFFFFFF;
    return rows == size.bmHeight || fail("cannot read the pixels of %s", path);
}

// Pixels of the area where the picture drawn from (left, top) does not
// match, sampling every step-th pixel each way; outside: area pixels it
// does not reach.
struct PictureMatch {
    long compared = 0, wrong = 0, outside = 0;
    int x = -1, y = -1;
    DWORD got = 0, low = 0, high = 0;
};

static PictureMatch matchPicture(const Image& screen, const Image& picture, int width, int height, int left, int top,
                                 const RECT& area, int step)
{
    PictureMatch m;
    for (long y = area.top; y < area.top + area.bottom; y += step)
        for (long x = area.left; x < area.left + area.right; x += step) {
            if (x < 0 || y < 0 || x >= screen.width || y >= screen.height)
                continue;
            int px = (int)(x - left), py = (int)(y - top);
            if (px < 0 || py < 0 || px >= width || py >= height) {
                m.outside++;
                continue;
            }
            DWORD low, high, got = screen.at((int)x, (int)y);
            allowRange(picture, width, height, px, py, &low, &high);
            m.compared++;
            if (!allows(low, high, got) && m.wrong++ == 0) {
                m.x = (int)x;
                m.y = (int)y;
                m.got = got;
                m.low = low;
                m.high = high;
            }
        }
    return m;
}

bool pictureShown(const Image& screen, const char* bitmapFile, const RECT& area)
{
    Image picture;
    return loadAnyBitmap(bitmapFile, &picture) &&
           matchPicture(screen, picture, (int)area.right, (int)area.bottom, (int)area.left, (int)area.top, area, 1)
                   .wrong == 0;
}

bool checkPicture(const char* name, const Image& screen, const char* bitmapFile, int dpi, const RECT& area)
{
    Image picture;
    if (!loadAnyBitmap(bitmapFile, &picture))
        return false;
    // The place grows with the dialog's font, which need not grow by
    // exactly dpi/96 (under Wine its height grows less): a fifth either way.
    int width = atDpi(picture.width, dpi), height = atDpi(picture.height, dpi);
    note("  picture %s: %ldx%ld at (%ld,%ld) on the screen; %dx%d at %d DPI", name, area.right, area.bottom, area.left,
         area.top, width, height, dpi);
    if (area.right < width * 4 / 5 || area.right > width * 6 / 5 || area.bottom < height * 4 / 5 ||
        area.bottom > height * 6 / 5)
        return fail("the picture of %s has a %ldx%ld place: not %dx%d, the picture at %d DPI", name, area.right,
                    area.bottom, width, height, dpi);
    PictureMatch m = matchPicture(screen, picture, (int)area.right, (int)area.bottom, (int)area.left, (int)area.top,
                                  area, 1);
    if (m.wrong)
        return fail("the picture of %s: %ld of %ld pixels differ from the picture filling its place; first at "
                    "(%d,%d): #%06lx, not within #%06lx..#%06lx",
                    name, m.wrong, m.compared, m.x, m.y, (unsigned long)m.got, (unsigned long)m.low,
                    (unsigned long)m.high);
    return pass("the picture of %s fills its %ldx%ld place (%ld pixels)", name, area.right, area.bottom, m.compared);
}
