// background.cpp - bands, decorative bitmaps and the palette of the background.
#include "ui/background.h"

#include <stdint.h>
#include <string.h>

#include "app/bitmapcheck.h"
#include "app/setuplayout.h"
#include "package/package.h"
#include "package/transfer.h"

HWND BackgroundWindow;
int paletteOffset;
int displayDpi = BASE_DPI;

enum {
    BLOCK_SLACK = 256,               // spare bytes behind every loaded image
    IMAGE_SIZE_LIMIT = 16 << 20,     // no decorative bitmap comes near this
    TILE_TOP_LIMIT = 97,             // TILE_ROWS_UP rows stop here, just under the top band
    BAND_TOP_END = 96,
    BAND_BLUE_TOP = 92,
    BAND_BOTTOM_HEIGHT = 61
};
static const COLORREF BAND_BLUE = 0xAA8056;   // red 86, green 128, blue 170
static const COLORREF BAND_WHITE = 0xFFFFFF;

struct BitmapSlot {
    int used;
    int x, y;                        // client position of the first copy
    int tileMode;                    // TileMode
    HGLOBAL image;                   // the whole bitmap file image; owned, never freed
    int32_t bitsOffset;              // pixel data, from the start of the image
};

static BitmapSlot slots[DECORATION_COUNT];   // slot i is filled by step i
// The image that the last load produced, or that the painter works on.
static HGLOBAL currentImage;
static int32_t currentImageSize;
static int32_t currentBitsOffset;
static int currentLoaded;            // the last load succeeded and is not recorded yet

// Made from the first palettized bitmap painted and used for all of them.
static HPALETTE sharedPalette;
static HGLOBAL indexHeader;
static HBRUSH blueBrush, whiteBrush;
static FileHandle decorationPackage = INVALID_FILE;

// The placement table: step = slot.
struct Placement {
    int fromRight;                   // left = W - fromRight, or left itself when 0
    int left;
    int fromBottom;                  // top = H - fromBottom, or top itself when 0
    int top;
    int width, height;               // only the invalidated area; painting uses the bitmap's size
    int tileMode;
    int leftLimit, leftInstead;      // if left < leftLimit, left = leftInstead
};
static const Placement placements[DECORATION_COUNT] = {
    {256, 0, 189, 0, 256, 128, TILE_ROWS_UP, 0, 0},   // BLUE
    {0, 10, 0, 12, 466, 80, TILE_ONCE, 0, 0},         // DIMENSION
    {257, 0, 56, 0, 256, 50, TILE_ONCE, 0, 0},        // LOGO
    {0, 10, 45, 0, 205, 32, TILE_ONCE, 0, 0},         // TAMBERLYN
    {64, 0, 0, 0, 64, 11, TILE_ROW, 478, 414},        // TOPSHADOW
    {220, 0, 0, 0, 220, 96, TILE_ONCE, 478, 478},     // ORANGE
    {64, 0, 71, 0, 64, 10, TILE_ROW, 0, 0},           // BLUEWHITE
    {64, 0, 0, 96, 64, 10, TILE_ROW, 0, 0},           // WHITEBLUE
};

static BITMAPINFOHEADER* infoHeaderOf(uint8_t* image)
{
    return (BITMAPINFOHEADER*)(image + BITMAP_FILE_HEADER_SIZE);
}

static int colourCount(const BITMAPINFOHEADER* header)
{
    return (int)(header->biClrUsed & 0xFFFF);
}

void detectPaletteMode(HWND window)
{
    HDC dc = GetDC(window);
    int depth = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(window, dc);
    paletteOffset = depth <= 8 ? PALETTE_TEMPLATE_OFFSET : 0;
}

void detectDisplayScale(HWND window)
{
    HDC dc = GetDC(window);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    displayDpi = paletteOffset || dpi <= 0 ? BASE_DPI : dpi;
}

int scaleToDisplay(int length)
{
    return MulDiv(length, displayDpi, BASE_DPI);
}

void onPaletteMessage(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (!paletteOffset)
        return;
    int repaint = (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) || message == WM_QUERYNEWPALETTE ||
                  (message == WM_PALETTECHANGED && (HWND)wParam != BackgroundWindow);
    if (repaint)
        InvalidateRect(BackgroundWindow, NULL, FALSE);
}

void eraseBackground(HDC dc)
{
    if (!blueBrush) {
        blueBrush = CreateSolidBrush(BAND_BLUE);
        whiteBrush = CreateSolidBrush(BAND_WHITE);
    }
    HBRUSH blue = blueBrush;
    HBRUSH nearest = NULL;
    if (paletteOffset && (nearest = CreateSolidBrush(GetNearestColor(dc, BAND_BLUE))) != NULL)
        blue = nearest;
    RECT area;
    GetClientRect(BackgroundWindow, &area);
    int width = area.right, height = area.bottom;
    int bottomTop = height - scaleToDisplay(BAND_BOTTOM_HEIGHT);
    RECT band = {0, bottomTop, width, height};
    FillRect(dc, &band, whiteBrush);
    band = {0, scaleToDisplay(BAND_BLUE_TOP), width, bottomTop};
    FillRect(dc, &band, blue);
    band = {0, 0, width, scaleToDisplay(BAND_TOP_END)};
    FillRect(dc, &band, whiteBrush);
    if (nearest)
        DeleteObject(nearest);
}

// Checks the current image and completes its header in place: the colour
// count and the image size. The pixel data starts right after the colour
// table. Refuses anything that would make a paint read outside the image.
static bool parseBitmap(void)
{
    uint8_t* image = (uint8_t*)GlobalLock(currentImage);
    if (!image)
        return false;
    BitmapLayout layout;
    bool valid = checkBitmapImage(image, (size_t)currentImageSize, &layout) == BITMAP_OK;
    if (valid) {
        BITMAPINFOHEADER* header = infoHeaderOf(image);
        header->biClrUsed = layout.colours;
        if (header->biSizeImage == 0)
            header->biSizeImage = layout.imageSize;
        currentBitsOffset = (int32_t)layout.bitsOffset;
    }
    GlobalUnlock(currentImage);
    return valid;
}

static bool loadBitmapEntry(FileHandle package, const char* name)
{
    currentLoaded = 0;
    if (package == INVALID_FILE)
        return false;
    int32_t size = getExtractedSize(name);
    if (size < 0 || size > IMAGE_SIZE_LIMIT)
        return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)size + BLOCK_SLACK);
    if (!block)
        return false;
    uint8_t* bytes = (uint8_t*)GlobalLock(block);
    if (!bytes) {
        GlobalFree(block);
        return false;
    }
    int extracted = extractToMemory(name, bytes, size);
    GlobalUnlock(block);
    currentImage = block;
    currentImageSize = size;
    if (extracted && parseBitmap()) {
        currentLoaded = 1;
        return true;
    }
    GlobalFree(block);
    currentImage = NULL;
    return false;
}

static void recordBitmapSlot(int slot, int x, int y, int tileMode)
{
    if (!currentLoaded)
        return;
    slots[slot].used = 1;
    slots[slot].x = x;
    slots[slot].y = y;
    slots[slot].tileMode = tileMode;
    slots[slot].image = currentImage;
    slots[slot].bitsOffset = currentBitsOffset;
    currentLoaded = 0;
}

static HPALETTE createBitmapPalette(const BITMAPINFOHEADER* header)
{
    int count = colourCount(header);
    LOGPALETTE* palette =
        (LOGPALETTE*)LocalAlloc(LMEM_FIXED, sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    if (!palette)
        return NULL;
    palette->palVersion = 0x300;
    palette->palNumEntries = (WORD)count;
    const RGBQUAD* table = (const RGBQUAD*)((const uint8_t*)header + header->biSize);
    for (int i = 0; i < count; i++) {
        palette->palPalEntry[i].peRed = table[i].rgbRed;
        palette->palPalEntry[i].peGreen = table[i].rgbGreen;
        palette->palPalEntry[i].peBlue = table[i].rgbBlue;
        palette->palPalEntry[i].peFlags = 0;
    }
    HPALETTE made = CreatePalette(palette);
    LocalFree(palette);
    return made;
}

// A header whose colour table holds the indexes 0..n-1 of the selected
// palette, so each colour of a bitmap maps to the same palette entry.
static HGLOBAL createIndexHeader(const BITMAPINFOHEADER* header)
{
    int count = colourCount(header);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, header->biSize + 2 * count);
    uint8_t* bytes = block ? (uint8_t*)GlobalLock(block) : NULL;
    if (!bytes) {
        if (block)
            GlobalFree(block);
        return NULL;
    }
    memcpy(bytes, header, sizeof(BITMAPINFOHEADER));
    uint16_t* indexes = (uint16_t*)(bytes + header->biSize);
    for (int i = 0; i < count; i++)
        indexes[i] = (uint16_t)i;
    GlobalUnlock(block);
    return block;
}

static void paintBitmapSlot(HWND, HDC dc, int x, int y, int tileMode, bool realize)
{
    uint8_t* image = (uint8_t*)GlobalLock(currentImage);
    if (!image)
        return;
    BITMAPINFOHEADER* own = infoHeaderOf(image);
    BITMAPINFOHEADER* drawHeader = own;
    UINT colourUse = DIB_RGB_COLORS;
    HPALETTE previous = NULL;
    bool drawable = true;
    if (colourCount(own)) {
        if (!sharedPalette)
            sharedPalette = createBitmapPalette(own);
        if (!indexHeader)
            indexHeader = createIndexHeader(own);
        drawable = sharedPalette && indexHeader;
        if (drawable) {
            previous = SelectPalette(dc, sharedPalette, FALSE);
            if (realize)
                RealizePalette(dc);
            BITMAPINFOHEADER* shared = (BITMAPINFOHEADER*)GlobalLock(indexHeader);
            // The shared table serves only bitmaps laid out like the one it was
            // made from; any other draws with its own colours.
            if (shared && shared->biBitCount == own->biBitCount && shared->biClrUsed == own->biClrUsed) {
                drawHeader = shared;
                colourUse = DIB_PAL_COLORS;
            } else if (shared) {
                GlobalUnlock(indexHeader);
            }
        }
    }
    if (drawable) {
        drawHeader->biWidth = own->biWidth;
        drawHeader->biHeight = own->biHeight;
        int width = (uint16_t)own->biWidth, height = (uint16_t)own->biHeight;
        // On the display each copy takes its size at the display's scale,
        // smoothly scaled; at BASE_DPI it is copied pixel for pixel.
        int shownWidth = scaleToDisplay(width), shownHeight = scaleToDisplay(height);
        int tileTop = scaleToDisplay(TILE_TOP_LIMIT);
        bool scaled = shownWidth != width || shownHeight != height;
        if (scaled) {
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, NULL);   // as HALFTONE asks
        }
        // "BLUE" (slot 0) only shows in palette mode, where its tiles make the band.
        if (paletteOffset || !realize) {
            int startX = x;
            for (;;) {
                // At its own size (the mode left as it is) this is a plain copy.
                StretchDIBits(dc, x, y, shownWidth, shownHeight, 0, 0, width, height, image + currentBitsOffset,
                              (BITMAPINFO*)drawHeader, colourUse, SRCCOPY);
                if (tileMode == TILE_ONCE)
                    break;
                if (x > 0) {
                    x -= shownWidth;
                    continue;
                }
                if (tileMode == TILE_ROW || y <= tileTop)
                    break;
                y -= shownHeight;
                if (y < tileTop)
                    y = tileTop;
                x = startX;
            }
        }
        if (previous)
            SelectPalette(dc, previous, FALSE);
        if (colourUse == DIB_PAL_COLORS)
            GlobalUnlock(indexHeader);
    }
    GlobalUnlock(currentImage);
}

int paintBitmapSlots(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    for (int i = 0; i < DECORATION_COUNT; i++) {
        if (!slots[i].used)
            continue;
        currentImage = slots[i].image;
        currentBitsOffset = slots[i].bitsOffset;
        paintBitmapSlot(window, dc, slots[i].x, slots[i].y, slots[i].tileMode, i == 0);
    }
    EndPaint(window, &paint);
    return 1;
}

bool placeDecorativeBitmap(int step)
{
    if (step < 0 || step >= DECORATION_COUNT)
        return false;
    RECT area;
    GetClientRect(BackgroundWindow, &area);
    // The table's numbers are pixels at BASE_DPI: at another scale the whole
    // layout grows with the pictures, so they keep their places to each other.
    const Placement& place = placements[step];
    int left = place.fromRight ? area.right - scaleToDisplay(place.fromRight) : scaleToDisplay(place.left);
    int top = place.fromBottom ? area.bottom - scaleToDisplay(place.fromBottom) : scaleToDisplay(place.top);
    if (left < scaleToDisplay(place.leftLimit))
        left = scaleToDisplay(place.leftInstead);
    if (step == 0)
        decorationPackage = openPackage(NULL);
    loadBitmapEntry(decorationPackage, decorativeBitmapNames[step]);
    recordBitmapSlot(step, left, top, place.tileMode);
    if (step == DECORATION_COUNT - 1) {
        closePackage(decorationPackage);
        decorationPackage = INVALID_FILE;
    }
    RECT changed = {left, top, left + scaleToDisplay(place.width), top + scaleToDisplay(place.height)};
    if (place.tileMode != TILE_ONCE)
        changed.left = 0;
    if (place.tileMode == TILE_ROWS_UP)
        changed.top = scaleToDisplay(BAND_TOP_END);
    InvalidateRect(BackgroundWindow, &changed, FALSE);
    return step < DECORATION_COUNT - 1;
}
