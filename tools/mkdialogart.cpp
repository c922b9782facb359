// mkdialogart - draws the pictures and icons of the setup program's resources:
// the welcome/finished picture in 73 colours and its 8-colour twin for 256-colour
// displays (129 x 190, 8 bits per pixel, run-length coded to keep the program
// small), and the setup and uninstall icons (32 x 32 in 256 colours).
// Original art: a parcel under a night-to-dawn sky with a disc dropping into it.
// Usage: mkdialogart OUTDIR
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

typedef std::vector<uint8_t> Bytes;

static void put16(Bytes& out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

static void put32(Bytes& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

static bool writeFile(const std::string& path, const Bytes& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "mkdialogart: %s: cannot create\n", path.c_str());
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (fclose(f) != 0 || !ok) {
        fprintf(stderr, "mkdialogart: %s: cannot write\n", path.c_str());
        return false;
    }
    printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

// ---- Shapes -------------------------------------------------------------------

struct Point {
    double x, y;
};

// Inside a convex polygon given clockwise or anticlockwise.
static bool insideConvex(const std::vector<Point>& polygon, double x, double y)
{
    int sign = 0;
    for (size_t i = 0; i < polygon.size(); i++) {
        const Point& a = polygon[i];
        const Point& b = polygon[(i + 1) % polygon.size()];
        double cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        int s = cross > 0 ? 1 : cross < 0 ? -1 : 0;
        if (s == 0)
            continue;
        if (sign == 0)
            sign = s;
        else if (s != sign)
            return false;
    }
    return true;
}

static double distanceToSegment(Point a, Point b, double x, double y)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double t = ((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    double px = a.x + t * dx - x, py = a.y + t * dy - y;
    return sqrt(px * px + py * py);
}

// ---- The scene ----------------------------------------------------------------
// Each pixel gets a material; the two pictures map materials to their palettes.

enum Material { SKY, SHADOW, BOX_TOP, BOX_LEFT, BOX_RIGHT, EDGE, DISC, DISC_RING, DISC_HOLE, ARROW, STAR };

struct Scene {
    int width, height;
    std::vector<uint8_t> material;   // top-down
    Material at(int x, int y) const { return (Material)material[(size_t)y * width + x]; }
};

// A parcel seen from above at an angle, a disc above it and an arrow between.
// Scaled from the 129 x 190 picture; the icons draw their own smaller version.
static Scene drawScene()
{
    const int W = 129, H = 190;
    Scene scene{W, H, std::vector<uint8_t>((size_t)W * H, SKY)};
    std::vector<Point> top = {{64, 108}, {108, 126}, {64, 144}, {20, 126}};
    std::vector<Point> left = {{20, 126}, {64, 144}, {64, 180}, {20, 162}};
    std::vector<Point> right = {{64, 144}, {108, 126}, {108, 162}, {64, 180}};
    std::vector<Point> arrow = {{52, 90}, {76, 90}, {64, 104}};
    std::vector<std::pair<Point, Point>> edges = {
        {{64, 108}, {108, 126}}, {{108, 126}, {64, 144}}, {{64, 144}, {20, 126}}, {{20, 126}, {64, 108}},
        {{20, 126}, {20, 162}},  {{64, 144}, {64, 180}},  {{108, 126}, {108, 162}},
        {{20, 162}, {64, 180}},  {{64, 180}, {108, 162}}, {{42, 117}, {86, 135}}};   // the tape across the lid
    const Point stars[] = {{16, 18}, {104, 28}, {28, 70}, {113, 84}, {70, 12}, {10, 104}};
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            double px = x + 0.5, py = y + 0.5;
            Material m = SKY;
            double sx = (px - 64) / 54, sy = (py - 182) / 6;
            if (sx * sx + sy * sy <= 1)
                m = SHADOW;
            for (const Point& s : stars)
                if ((fabs(px - s.x) < 0.6 && fabs(py - s.y) < 3) || (fabs(py - s.y) < 0.6 && fabs(px - s.x) < 3))
                    m = STAR;
            double r = hypot(px - 64, py - 52);
            if (r <= 30)
                m = r <= 5 ? DISC_HOLE : (r <= 13 && r > 9) ? DISC_RING : DISC;
            if (r > 29 && r <= 30.2)
                m = EDGE;
            if (insideConvex(arrow, px, py))
                m = ARROW;
            if (insideConvex(top, px, py))
                m = BOX_TOP;
            if (insideConvex(left, px, py))
                m = BOX_LEFT;
            if (insideConvex(right, px, py))
                m = BOX_RIGHT;
            for (const auto& e : edges)
                if (distanceToSegment(e.first, e.second, px, py) < 0.75)
                    m = EDGE;
            scene.material[(size_t)y * W + x] = (uint8_t)m;
        }
    return scene;
}

// ---- Pictures (bitmaps 103 and 107) ------------------------------------------

struct Picture {
    int width, height;
    std::vector<Rgb> palette;
    std::vector<uint8_t> pixels;   // top-down indexes
};

static const int SKY_STEPS = 64;

static Rgb mix(Rgb a, Rgb b, double t)
{
    return {(uint8_t)lround(a.r + (b.r - a.r) * t), (uint8_t)lround(a.g + (b.g - a.g) * t),
            (uint8_t)lround(a.b + (b.b - a.b) * t)};
}

// 64 sky steps and nine colours for the things on it: 73 colours.
static Picture fullColourPicture(const Scene& scene)
{
    Picture p{scene.width, scene.height, {}, {}};
    const Rgb night = {22, 40, 96}, dawn = {196, 214, 238};
    for (int i = 0; i < SKY_STEPS; i++)
        p.palette.push_back(mix(night, dawn, (double)i / (SKY_STEPS - 1)));
    const Rgb things[] = {
        {14, 26, 64},     // SHADOW
        {252, 196, 118},  // BOX_TOP
        {236, 142, 44},   // BOX_LEFT
        {172, 84, 22},    // BOX_RIGHT
        {44, 30, 22},     // EDGE
        {255, 255, 255},  // DISC
        {196, 200, 214},  // DISC_RING
        {112, 118, 134},  // DISC_HOLE
        {255, 228, 96},   // ARROW and STAR
    };
    for (const Rgb& c : things)
        p.palette.push_back(c);
    for (int y = 0; y < p.height; y++) {
        uint8_t sky = (uint8_t)lround((double)y / (p.height - 1) * (SKY_STEPS - 1));
        for (int x = 0; x < p.width; x++) {
            Material m = scene.at(x, y);
            int index = m == SKY ? sky : m == STAR ? SKY_STEPS + ARROW - 1 : SKY_STEPS + m - 1;
            p.pixels.push_back((uint8_t)index);
        }
    }
    return p;
}

// Eight colours of the display's fixed system palette, so nothing is dithered
// on a 256-colour screen; the sky becomes a row pattern from navy to light blue.
static Picture eightColourPicture(const Scene& scene)
{
    enum { NAVY, LIGHT_BLUE, WHITE, SILVER, GRAY, BLACK, YELLOW, OLIVE };
    Picture p{scene.width, scene.height,
              {{0, 0, 128}, {166, 202, 240}, {255, 255, 255}, {192, 192, 192},
               {128, 128, 128}, {0, 0, 0}, {255, 255, 0}, {128, 128, 0}},
              {}};
    static const double rowThreshold[8] = {0.5, 4.5, 2.5, 6.5, 1.5, 5.5, 3.5, 7.5};
    const uint8_t forMaterial[] = {NAVY, NAVY, YELLOW, OLIVE, GRAY, BLACK, WHITE, SILVER, GRAY, YELLOW, WHITE};
    for (int y = 0; y < p.height; y++) {
        double t = (double)y / (p.height - 1);
        uint8_t sky = t * 8 > rowThreshold[y % 8] ? LIGHT_BLUE : NAVY;
        for (int x = 0; x < p.width; x++) {
            Material m = scene.at(x, y);
            p.pixels.push_back(m == SKY ? sky : forMaterial[m]);
        }
    }
    return p;
}

// Run-length coding of 8-bit rows (BI_RLE8), bottom-up: repeated bytes as
// (count, index), stretches of differing bytes in absolute mode.
static Bytes encodeRle8(const Picture& p)
{
    Bytes out;
    for (int y = p.height - 1; y >= 0; y--) {
        const uint8_t* row = &p.pixels[(size_t)y * p.width];
        int x = 0;
        while (x < p.width) {
            int run = 1;
            while (x + run < p.width && run < 255 && row[x + run] == row[x])
                run++;
            if (run >= 2) {
                out.push_back((uint8_t)run);
                out.push_back(row[x]);
                x += run;
                continue;
            }
            // A stretch of bytes that start no run of two.
            int length = 1;
            while (x + length < p.width && length < 255 &&
                   !(x + length + 1 < p.width && row[x + length] == row[x + length + 1]))
                length++;
            if (length < 3) {   // absolute mode needs three or more
                for (int i = 0; i < length; i++) {
                    out.push_back(1);
                    out.push_back(row[x + i]);
                }
            } else {
                out.push_back(0);
                out.push_back((uint8_t)length);
                out.insert(out.end(), row + x, row + x + length);
                if (length & 1)
                    out.push_back(0);   // absolute runs end on a word boundary
            }
            x += length;
        }
        out.push_back(0);
        out.push_back(y == 0 ? 1 : 0);   // end of line; end of bitmap after the top row
    }
    return out;
}

// The decoder that the check below compares against the picture.
static std::vector<uint8_t> decodeRle8(const Bytes& data, int width, int height)
{
    std::vector<uint8_t> pixels((size_t)width * height, 0xFF);
    size_t i = 0;
    int x = 0, y = height - 1;
    while (i + 1 < data.size()) {
        uint8_t count = data[i++], value = data[i++];
        if (count) {
            for (int k = 0; k < count && x < width; k++)
                pixels[(size_t)y * width + x++] = value;
        } else if (value == 0) {
            x = 0;
            y--;
        } else if (value == 1) {
            break;
        } else if (value >= 3) {
            for (int k = 0; k < value && i < data.size(); k++, x++)
                if (x < width)
                    pixels[(size_t)y * width + x] = data[i++];
            if (value & 1)
                i++;
        }
    }
    return pixels;
}

static Bytes bitmapFile(const Picture& p)
{
    Bytes bits = encodeRle8(p);
    if (decodeRle8(bits, p.width, p.height) != p.pixels) {
        fprintf(stderr, "mkdialogart: run-length coding does not give the picture back\n");
        return Bytes();
    }
    uint32_t tableBytes = (uint32_t)p.palette.size() * 4;
    uint32_t dataOffset = 14 + 40 + tableBytes;
    Bytes out;
    put16(out, 0x4D42);
    put32(out, dataOffset + (uint32_t)bits.size());
    put32(out, 0);
    put32(out, dataOffset);
    put32(out, 40);
    put32(out, (uint32_t)p.width);
    put32(out, (uint32_t)p.height);   // positive: bottom-up
    put16(out, 1);
    put16(out, 8);
    put32(out, 1);                    // BI_RLE8
    put32(out, (uint32_t)bits.size());
    put32(out, 2835);
    put32(out, 2835);
    put32(out, (uint32_t)p.palette.size());
    put32(out, (uint32_t)p.palette.size());
    for (const Rgb& c : p.palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}

// ---- Icons ----------------------------------------------------------------------

enum { ICON_SIZE = 32 };

struct Icon {
    Rgb pixels[ICON_SIZE][ICON_SIZE];   // top-down
    bool opaque[ICON_SIZE][ICON_SIZE];
};

// The parcel of the picture, small, with an arrow into it (setup) or out of
// it (uninstall); faces get a light-to-dark slope.
static Icon drawIcon(bool uninstall)
{
    Icon icon = {};
    std::vector<Point> top = {{16, 13}, {29, 18.5}, {16, 24}, {3, 18.5}};
    std::vector<Point> left = {{3, 18.5}, {16, 24}, {16, 31}, {3, 25.5}};
    std::vector<Point> right = {{16, 24}, {29, 18.5}, {29, 25.5}, {16, 31}};
    std::vector<Point> head = uninstall ? std::vector<Point>{{9, 8}, {23, 8}, {16, 1}}
                                        : std::vector<Point>{{9, 9}, {23, 9}, {16, 16}};
    std::vector<Point> shaft = uninstall ? std::vector<Point>{{13, 8}, {19, 8}, {19, 15}, {13, 15}}
                                         : std::vector<Point>{{13, 1}, {19, 1}, {19, 9}, {13, 9}};
    const Rgb arrowColour = uninstall ? Rgb{214, 36, 36} : Rgb{40, 120, 220};
    for (int y = 0; y < ICON_SIZE; y++)
        for (int x = 0; x < ICON_SIZE; x++) {
            double px = x + 0.5, py = y + 0.5;
            double slope = (py - 13) / 18;   // 0 at the lid, 1 at the bottom
            bool set = true;
            Rgb c{};
            if (insideConvex(left, px, py))
                c = mix({240, 150, 50}, {190, 100, 30}, slope);
            else if (insideConvex(right, px, py))
                c = mix({190, 96, 28}, {130, 60, 16}, slope);
            else if (insideConvex(top, px, py))
                c = Rgb{252, 200, 120};
            else
                set = false;
            // The arrow lies over the lid.
            if (insideConvex(head, px, py) || insideConvex(shaft, px, py)) {
                c = mix(arrowColour, {255, 255, 255}, 0.25 * (1 - fabs(px - 16) / 8));
                set = true;
            }
            icon.pixels[y][x] = c;
            icon.opaque[y][x] = set;
        }
    // A dark outline around everything drawn.
    Icon outlined = icon;
    for (int y = 0; y < ICON_SIZE; y++)
        for (int x = 0; x < ICON_SIZE; x++) {
            if (icon.opaque[y][x])
                continue;
            bool next = false;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    int nx = x + dx, ny = y + dy;
                    if ((dx || dy) && !(dx && dy) && nx >= 0 && ny >= 0 && nx < ICON_SIZE && ny < ICON_SIZE &&
                        icon.opaque[ny][nx])
                        next = true;
                }
            if (next) {
                outlined.pixels[y][x] = Rgb{40, 28, 20};
                outlined.opaque[y][x] = true;
            }
        }
    return outlined;
}

// One 256-colour icon image: header (height doubled for the mask), the
// colours it uses (a full table would add a kilobyte to each icon, and so to
// every setup), colour bits and the transparency mask, both bottom-up.
static Bytes iconImage(const Icon& icon, const std::vector<Rgb>& table)
{
    uint32_t colourStride = ICON_SIZE, maskStride = 4;
    Bytes out;
    put32(out, 40);
    put32(out, ICON_SIZE);
    put32(out, ICON_SIZE * 2);
    put16(out, 1);
    put16(out, 8);
    put32(out, 0);
    put32(out, (colourStride + maskStride) * ICON_SIZE);
    put32(out, 0);
    put32(out, 0);
    put32(out, (uint32_t)table.size());
    put32(out, 0);
    for (const Rgb& c : table) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = ICON_SIZE - 1; y >= 0; y--) {
        Bytes row(colourStride, 0);
        for (int x = 0; x < ICON_SIZE; x++) {
            size_t index = 0;
            if (icon.opaque[y][x])
                while (index < table.size() && !(table[index] == icon.pixels[y][x]))
                    index++;
            row[x] = (uint8_t)index;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = ICON_SIZE - 1; y >= 0; y--) {
        uint8_t mask[4] = {0, 0, 0, 0};
        for (int x = 0; x < ICON_SIZE; x++)
            if (!icon.opaque[y][x])
                mask[x / 8] |= (uint8_t)(0x80 >> (x % 8));   // set: the desktop shows through
        out.insert(out.end(), mask, mask + 4);
    }
    return out;
}

// An icon file with one 256-colour image: the system maps it to displays of
// fewer colours itself, and a 16-colour twin would cost every setup 750 bytes.
static Bytes iconFile(bool uninstall)
{
    Icon icon = drawIcon(uninstall);
    std::vector<Rgb> table;
    for (int y = 0; y < ICON_SIZE; y++)
        for (int x = 0; x < ICON_SIZE; x++) {
            const Rgb& c = icon.pixels[y][x];
            bool known = false;
            for (const Rgb& t : table)
                known = known || t == c;
            if (!known && icon.opaque[y][x])
                table.push_back(c);
        }
    if (table.size() > 256) {
        fprintf(stderr, "mkdialogart: icon needs %zu colours\n", table.size());
        return Bytes();
    }
    Bytes image = iconImage(icon, table);
    Bytes out;
    put16(out, 0);
    put16(out, 1);   // icon
    put16(out, 1);   // one image
    out.push_back(ICON_SIZE);
    out.push_back(ICON_SIZE);
    out.push_back(0);   // colour count; 0 means 256
    out.push_back(0);
    put16(out, 1);
    put16(out, 8);
    put32(out, (uint32_t)image.size());
    put32(out, 6 + 16);
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mkdialogart OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    Scene scene = drawScene();
    struct {
        const char* name;
        Bytes bytes;
    } outputs[] = {
        {"picture.bmp", bitmapFile(fullColourPicture(scene))},
        {"picture8.bmp", bitmapFile(eightColourPicture(scene))},
        {"setup.ico", iconFile(false)},
        {"uninstall.ico", iconFile(true)},
    };
    for (const auto& o : outputs)
        if (o.bytes.empty() || !writeFile(dir + "/" + o.name, o.bytes))
            return 1;
    return 0;
}
