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

// The expected screen: the three bands, then each decorative bitmap at its
// place, later ones over earlier ones, as the background paints them.
// Where each bitmap of decorativeBitmapNames goes on a W x H screen.
struct Placement {
    int left, top;
    int tileMode;   // 0 once, 1 tiled leftwards, 2 tiled leftwards and upwards
};

static void placements(int W, int H, Placement out[DECORATION_COUNT])
{
    int topShadowLeft = W - 64 < 478 ? 414 : W - 64;
    int orangeLeft = W - 220 < 478 ? 478 : W - 220;
    const Placement table[DECORATION_COUNT] = {{W - 256, H - 189, 2}, {10, 12, 0},        {W - 257, H - 56, 0},
                                           {10, H - 45, 0},       {topShadowLeft, 0, 1}, {orangeLeft, 0, 0},
                                           {W - 64, H - 71, 1},   {W - 64, 96, 1}};
    memcpy(out, table, sizeof table);
}

static void drawCopy(Image* screen, std::vector<int>* owner, int slot, const Image& bitmap, int x0, int y0)
{
    for (int y = 0; y < bitmap.height; y++)
        for (int x = 0; x < bitmap.width; x++) {
            int sx = x0 + x, sy = y0 + y;
            if (sx < 0 || sy < 0 || sx >= screen->width || sy >= screen->height)
                continue;
            screen->pixels[(size_t)sy * screen->width + sx] = bitmap.at(x, y);
            (*owner)[(size_t)sy * screen->width + sx] = slot;
        }
}

static void drawPlacement(Image* screen, std::vector<int>* owner, int slot, const Image& bitmap, const Placement& p)
{
    int x = p.left, y = p.top;
    for (;;) {
        drawCopy(screen, owner, slot, bitmap, x, y);
        if (p.tileMode == 0)
            return;
        if (x > 0) {
            x -= bitmap.width;
            continue;
        }
        if (p.tileMode == 1 || y <= 97)
            return;
        y -= bitmap.height;
        if (y < 97)
            y = 97;
        x = p.left;
    }
}

// Without the palette the blue band is the exact colour (86,128,170),
// "BLUE" is not drawn and every pixel must be exact; with it the BLUE tiles
// cover the band and colours are compared by consistency (below). Bands
// only: a setup without a valid package shows the three bands alone.
bool checkBackground(const char* name, const Image& screen, const RECT& exclude, int mode)
{
    bool palette = mode == BACKGROUND_PALETTE;
    bool bandsOnly = mode == BACKGROUND_BANDS_ONLY;
    int W = screen.width, H = screen.height;
    Image expected;
    expected.width = W;
    expected.height = H;
    expected.pixels.assign((size_t)W * H, 0xFFFFFF);
    std::vector<int> owner((size_t)W * H, -1);   // -1 white band, -2 blue band, else slot
    for (int y = 96; y <= H - 62; y++)
        for (int x = 0; x < W; x++) {
            expected.pixels[(size_t)y * W + x] = 0x5680AA;
            owner[(size_t)y * W + x] = -2;
        }
    Placement table[DECORATION_COUNT];
    placements(W, H, table);
    for (int slot = 0; slot < DECORATION_COUNT; slot++) {
        if ((slot == 0 && !palette) || bandsOnly)
            continue;
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s.bmp", setting.decor.c_str(), decorativeBitmapNames[slot]);
        Image bitmap;
        if (!loadBitmap(path, &bitmap))
            return false;
        drawPlacement(&expected, &owner, slot, bitmap, table[slot]);
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
            if (palette)
                want = mapped[region][want];
            bool same = want == got;
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

