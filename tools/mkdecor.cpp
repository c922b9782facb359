// mkdecor - draws the eight default decorative bitmaps of the setup background.
// Generic art (bands, waves, shapes; no text), 8 bits per pixel, bottom-up,
// all sharing one 256-colour table so the background can realize a single
// palette on 8-bit displays. Usage: mkdecor OUTDIR
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

static Rgb palette[256];

// Colour ramps of the shared table.
enum {
    C_WHITE = 0,
    C_BAND = 1,          // the background's blue band, red 86 green 128 blue 170
    RAMP_SKY = 2,        // 64 steps white -> band blue -> deep blue
    RAMP_ORANGE = 66,    // 64 steps white -> orange -> deep orange
    RAMP_GRAY = 130,     // 64 steps white -> dark gray
    RAMP_TEAL = 194,     // 62 steps white -> teal
    RAMP_LENGTH = 64
};

static uint8_t mix(uint8_t a, uint8_t b, double t)
{
    return (uint8_t)lround(a + (b - a) * t);
}

static void ramp(int start, int count, Rgb from, Rgb mid, Rgb to)
{
    for (int i = 0; i < count; i++) {
        double t = (double)i / (count - 1);
        Rgb c;
        if (t < 0.5)
            c = {mix(from.r, mid.r, t * 2), mix(from.g, mid.g, t * 2), mix(from.b, mid.b, t * 2)};
        else
            c = {mix(mid.r, to.r, t * 2 - 1), mix(mid.g, to.g, t * 2 - 1), mix(mid.b, to.b, t * 2 - 1)};
        palette[start + i] = c;
    }
}

static void buildPalette()
{
    palette[C_WHITE] = {255, 255, 255};
    palette[C_BAND] = {86, 128, 170};
    ramp(RAMP_SKY, RAMP_LENGTH, {255, 255, 255}, {86, 128, 170}, {20, 40, 90});
    ramp(RAMP_ORANGE, RAMP_LENGTH, {255, 255, 255}, {250, 150, 40}, {170, 60, 10});
    ramp(RAMP_GRAY, RAMP_LENGTH, {255, 255, 255}, {170, 170, 175}, {60, 60, 66});
    ramp(RAMP_TEAL, 62, {255, 255, 255}, {70, 170, 170}, {10, 70, 80});
}

// Index of a ramp at t in 0..1.
static uint8_t shade(int rampStart, double t, int length = RAMP_LENGTH)
{
    if (t < 0)
        t = 0;
    if (t > 1)
        t = 1;
    return (uint8_t)(rampStart + lround(t * (length - 1)));
}

// The band blue sits in the middle of the sky ramp; this maps "offset from the band".
static uint8_t sky(double offset)
{
    return shade(RAMP_SKY, 0.5 + offset);
}

struct Image {
    int width, height;
    std::vector<uint8_t> pixels;   // top-down while drawing
    uint8_t& at(int x, int y) { return pixels[(size_t)y * width + x]; }
};

static Image blank(int width, int height, uint8_t fill)
{
    Image image{width, height, std::vector<uint8_t>((size_t)width * height, fill)};
    return image;
}

static const double PI = 3.14159265358979323846;

// Tiles in rows leftwards and upwards, and the top row overlaps the one below
// it by a height that is no multiple of 128: so the pattern varies across only,
// and repeats exactly every 256 pixels.
static Image drawBlue()
{
    Image image = blank(256, 128, C_BAND);
    for (int x = 0; x < 256; x++) {
        double wave = sin(2 * PI * x / 128.0) * 0.6 + sin(2 * PI * x / 64.0 + 1.0) * 0.4;
        int step = (int)lround(wave * 2);   // at most two ramp steps from the band
        for (int y = 0; y < 128; y++)
            image.at(x, y) = step == 0 ? (uint8_t)C_BAND : sky(step / 63.0);
    }
    return image;
}

// A row of receding blocks in perspective on the white top band.
static Image drawDimension()
{
    Image image = blank(466, 80, C_WHITE);
    for (int i = 0; i < 9; i++) {
        int size = 64 - i * 6;
        int left = 8 + i * 52 - i * i;
        int top = 72 - size;
        int depth = size / 4;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                int px = left + x, py = top + y + 4;
                if (px >= 0 && px < 466 && py >= 0 && py < 80)
                    image.at(px, py) = shade(RAMP_SKY, 0.30 + 0.25 * y / size + i * 0.02);
            }
        for (int d = 1; d <= depth; d++)
            for (int y = 0; y < size; y++) {
                int px = left + size + d - 1, py = top + y + 4 - d;
                if (px >= 0 && px < 466 && py >= 0 && py < 80)
                    image.at(px, py) = shade(RAMP_SKY, 0.65 + i * 0.02);
            }
        for (int d = 1; d <= depth; d++)
            for (int x = 0; x < size; x++) {
                int px = left + x + d, py = top + 4 - d;
                if (px >= 0 && px < 466 && py >= 0 && py < 80)
                    image.at(px, py) = shade(RAMP_SKY, 0.15 + i * 0.02);
            }
    }
    return image;
}

// A round emblem with rings and a bar that fades to the right.
static Image drawLogo()
{
    Image image = blank(256, 50, C_WHITE);
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 256; x++) {
            double dx = x - 25, dy = y - 25, r = sqrt(dx * dx + dy * dy);
            if (r < 22)
                image.at(x, y) = (int)(r / 4) % 2 ? shade(RAMP_ORANGE, 0.55 - r / 100) : sky(0.1 + r / 120);
            else if (x > 56 && y > 18 && y < 32)
                image.at(x, y) = shade(RAMP_GRAY, 0.55 * (1 - (x - 56) / 200.0));
        }
    return image;
}

// Bars of varying height, like a small equaliser, in blue and orange.
static Image drawTamberlyn()
{
    Image image = blank(205, 32, C_WHITE);
    for (int bar = 0; bar < 20; bar++) {
        int height = 8 + (int)lround(22 * fabs(sin(bar * 0.7 + 0.3)));
        int left = 4 + bar * 10;
        for (int y = 32 - height; y < 32; y++)
            for (int x = left; x < left + 7 && x < 205; x++)
                image.at(x, y) = bar % 5 == 2 ? shade(RAMP_ORANGE, 0.5) : sky(0.05 + 0.3 * (32 - y) / 32.0);
    }
    return image;
}

// A soft shadow along the top edge of the screen.
static Image drawTopShadow()
{
    Image image = blank(64, 11, C_WHITE);
    for (int y = 0; y < 11; y++)
        for (int x = 0; x < 64; x++)
            image.at(x, y) = shade(RAMP_GRAY, 0.45 * (1 - y / 10.0) * (1 - y / 10.0));
    return image;
}

// Concentric arcs of a rising sun in the top right corner, fading into white.
static Image drawOrange()
{
    Image image = blank(220, 96, C_WHITE);
    for (int y = 0; y < 96; y++)
        for (int x = 0; x < 220; x++) {
            double dx = x - 200, dy = y + 30, r = sqrt(dx * dx + dy * dy);
            double fade = x / 219.0;
            if ((int)(r / 12) % 2 == 0)
                image.at(x, y) = shade(RAMP_ORANGE, fade * (0.75 - r / 400));
            else
                image.at(x, y) = shade(RAMP_ORANGE, fade * (0.35 - r / 600));
        }
    return image;
}

// 10-row soft edges between the blue band and the white bands.
static Image drawEdge(bool blueOnTop)
{
    Image image = blank(64, 10, C_WHITE);
    for (int y = 0; y < 10; y++) {
        double towardBlue = blueOnTop ? 1 - y / 10.0 : (y + 1) / 10.0;
        for (int x = 0; x < 64; x++)
            image.at(x, y) = towardBlue >= 1 ? (uint8_t)C_BAND : shade(RAMP_SKY, 0.5 * towardBlue);
    }
    return image;
}

static void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

static void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

static bool writeBmp(const std::string& path, const Image& image)
{
    uint32_t stride = (uint32_t)(image.width + 3) & ~3u;
    uint32_t pixelBytes = stride * (uint32_t)image.height;
    uint32_t dataOffset = 14 + 40 + 256 * 4;   // pixel data right after the colour table
    std::vector<uint8_t> out;
    put16(out, 0x4D42);
    put32(out, dataOffset + pixelBytes);
    put32(out, 0);
    put32(out, dataOffset);
    put32(out, 40);
    put32(out, (uint32_t)image.width);
    put32(out, (uint32_t)image.height);   // positive: bottom-up
    put16(out, 1);
    put16(out, 8);
    put32(out, 0);                        // BI_RGB
    put32(out, pixelBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 256);
    put32(out, 0);
    for (const Rgb& c : palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = image.height - 1; y >= 0; y--) {
        const uint8_t* row = &image.pixels[(size_t)y * image.width];
        out.insert(out.end(), row, row + image.width);
        out.insert(out.end(), stride - image.width, 0);
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    return fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mkdecor OUTDIR\n");
        return 2;
    }
    buildPalette();
    struct {
        const char* name;
        Image image;
    } bitmaps[] = {
        {"BLUE", drawBlue()},
        {"DIMENSION", drawDimension()},
        {"LOGO", drawLogo()},
        {"TAMBERLYN", drawTamberlyn()},
        {"TOPSHADOW", drawTopShadow()},
        {"ORANGE", drawOrange()},
        {"BLUEWHITE", drawEdge(true)},
        {"WHITEBLUE", drawEdge(false)},
    };
    for (const auto& b : bitmaps) {
        std::string path = std::string(argv[1]) + "/" + b.name + ".bmp";
        if (!writeBmp(path, b.image)) {
            fprintf(stderr, "mkdecor: %s: cannot write\n", path.c_str());
            return 1;
        }
        printf("%s %dx%d\n", path.c_str(), b.image.width, b.image.height);
    }
    return 0;
}
